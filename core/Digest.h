// SHA-256 from the platform's own library: OpenSSL's libcrypto on Linux
// (Digest_posix.cpp), CNG's bcrypt on Windows (Digest_win32.cpp). Used to
// tell a whole download from a damaged or truncated one. Nothing here raises
// for a failure of the system or the library: it comes back as an error code.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace ue::digest {

// The length of a SHA-256 in hex.
inline constexpr std::size_t kSha256HexLength = 64;

// A running SHA-256: Update with the bytes in any pieces, then Finish once.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    std::error_code Update(std::string_view bytes);
    // The digest of every byte given, as 64 lower-case hex digits. The first
    // failure since the start is returned instead, also one of the start.
    std::error_code Finish(std::string& hex);

private:
    // The platform's part of Finish: the 32 bytes of the digest.
    std::error_code FinishBytes(unsigned char* digest);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::error_code failed_;
};

// The SHA-256 of `bytes`, as 64 lower-case hex digits.
std::error_code Sha256Of(std::string_view bytes, std::string& hex);

// The SHA-256 of the regular file at `path`, read in pieces of 64 KiB, as 64
// lower-case hex digits. The last name is not followed when it is a symbolic
// link; a directory, a FIFO or a device gives an error and is never waited on.
std::error_code Sha256OfFile(const std::string& path, std::string& hex);

}  // namespace ue::digest
