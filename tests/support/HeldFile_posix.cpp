#include "tests/support/HeldFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ue::test {

HeldFile::HeldFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot hold " + path + ": " + std::strerror(errno));
    handle_ = fd;
}

void HeldFile::Release() {
    if (handle_ == kNone) return;
    ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

}  // namespace ue::test
