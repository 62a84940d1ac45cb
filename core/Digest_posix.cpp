// SHA-256 through OpenSSL's libcrypto (EVP).
#include <openssl/evp.h>

#include "core/Digest.h"

namespace ue::digest {

namespace {

// What OpenSSL reports carries no errno: a missing context is want of
// memory, a refused digest one this library does not offer.
std::error_code Refused() { return std::make_error_code(std::errc::function_not_supported); }

}  // namespace

struct Sha256::Impl {
    EVP_MD_CTX* context = nullptr;
    ~Impl() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->context = EVP_MD_CTX_new();
    if (impl_->context == nullptr) {
        failed_ = std::make_error_code(std::errc::not_enough_memory);
    } else if (EVP_DigestInit_ex(impl_->context, EVP_sha256(), nullptr) != 1) {
        failed_ = Refused();
    }
}

Sha256::~Sha256() = default;

std::error_code Sha256::Update(std::string_view bytes) {
    if (failed_) return failed_;
    if (EVP_DigestUpdate(impl_->context, bytes.data(), bytes.size()) != 1) failed_ = Refused();
    return failed_;
}

std::error_code Sha256::FinishBytes(unsigned char* digest) {
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(impl_->context, digest, &length) != 1 || length != kSha256HexLength / 2) {
        return Refused();
    }
    return {};
}

}  // namespace ue::digest
