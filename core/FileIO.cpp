// The parts of the file helper that are the same on every platform; opening,
// closing and the I/O itself are in FileIO_posix.cpp and FileIO_win32.cpp.
#include "core/FileIO.h"

namespace ue::fileio {

File::~File() { Close(); }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.Release();
    }
    return *this;
}

NativeFile File::Release() {
    const NativeFile native = native_;
    native_ = None();
    return native;
}

}  // namespace ue::fileio
