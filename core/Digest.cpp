// The parts of the SHA-256 binding that are the same on every platform: the
// hex form and the reading of a file in pieces.
#include "core/Digest.h"

#include <vector>

#include "core/FileIO.h"

namespace ue::digest {

namespace {

constexpr std::size_t kPiece = 64 * 1024;

}  // namespace

std::error_code Sha256Of(std::string_view bytes, std::string& hex) {
    Sha256 sha;
    sha.Update(bytes);
    return sha.Finish(hex);
}

std::error_code Sha256OfFile(const std::string& path, std::string& hex) {
    hex.clear();
    fileio::File file;
    if (const std::error_code ec = fileio::OpenToRead(path, file)) return ec;
    std::vector<char> piece(kPiece);
    Sha256 sha;
    for (;;) {
        std::size_t got = 0;
        if (const std::error_code ec = fileio::ReadSome(file, piece.data(), piece.size(), got)) {
            return ec;
        }
        if (got == 0) break;
        if (const std::error_code ec = sha.Update({piece.data(), got})) return ec;
    }
    return sha.Finish(hex);
}

std::error_code Sha256::Finish(std::string& hex) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex.clear();
    if (failed_) return failed_;
    unsigned char bytes[kSha256HexLength / 2];
    if (const std::error_code ec = FinishBytes(bytes)) return failed_ = ec;
    for (const unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 0x0f];
    }
    return {};
}

}  // namespace ue::digest
