// The parts of the file helper that are the same on every platform; opening,
// closing and the I/O itself are in FileIO_posix.cpp and FileIO_win32.cpp.
#include "core/FileIO.h"

#include <chrono>
#include <random>

namespace ue::fileio {

File::~File() { Close(); }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = other.Release();
    }
    return *this;
}

void FillTemplate(std::string& name) {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (name.size() < 6) return;
    thread_local std::minstd_rand generator(
        std::random_device{}() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    for (std::size_t i = name.size() - 6; i < name.size(); ++i) name[i] = kChars[pick(generator)];
}

std::error_code ReadAll(const std::string& path, std::string& bytes) {
    bytes.clear();
    File file;
    if (auto ec = OpenRegularFile(path, file)) return ec;
    return ReadAll(file, bytes);
}

std::error_code ReadPrefix(const std::string& path, std::size_t count, std::string& bytes) {
    bytes.clear();
    File file;
    if (auto ec = OpenRegularFile(path, file)) return ec;
    bytes.resize(count);
    std::size_t done = 0;
    while (done < count) {
        std::size_t got = 0;
        if (auto ec = ReadSome(file, bytes.data() + done, count - done, got)) return ec;
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return {};
}

NativeFile File::Release() {
    const NativeFile native = native_;
    native_ = None();
    return native;
}

}  // namespace ue::fileio
