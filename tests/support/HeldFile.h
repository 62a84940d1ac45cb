// A file made "in use" the way another program makes it: by holding it open.
// On Linux an open descriptor (the in-use test counts every process that
// holds the file open, this one included); on Windows a handle opened with
// no sharing, so that no one else may open, replace or delete the file.
#pragma once

#include <cstdint>
#include <string>

namespace ue::test {

class HeldFile {
public:
    // Opens `path`, which must exist. Throws std::runtime_error naming it.
    explicit HeldFile(const std::string& path);
    ~HeldFile() { Release(); }
    HeldFile(HeldFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    HeldFile& operator=(HeldFile&& other) noexcept {
        if (this != &other) {
            Release();
            handle_ = other.handle_;
            other.handle_ = kNone;
        }
        return *this;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Lets go of the file; nothing when already released.
    void Release();
    bool Held() const { return handle_ != kNone; }

    // The descriptor does not pass through exec (close-on-exec), but a child
    // forked without exec shares it: the file stays in use until that child
    // ends, whatever the parent releases.

private:
    static constexpr std::intptr_t kNone = -1;  // also INVALID_HANDLE_VALUE
    std::intptr_t handle_ = kNone;              // descriptor or HANDLE
};

}  // namespace ue::test
