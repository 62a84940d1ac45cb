// The restart request.
#pragma once

namespace ue {

constexpr int kShutdownRestart = 3;

// Mode 3 makes the two restart requests in order; any other mode does nothing.
void ShutdownWindows(int mode);

}  // namespace ue
