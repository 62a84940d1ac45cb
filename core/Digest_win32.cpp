// SHA-256 through CNG (bcrypt): an algorithm provider and a hash object whose
// memory CNG manages itself.
#include <windows.h>
#include <bcrypt.h>
#include <winternl.h>

#include <algorithm>

#include "core/Digest.h"
#include "core/Errors.h"

namespace ue::digest {

namespace {

// An NTSTATUS as the Win32 error it stands for, so that its reason reads as
// every other system error does.
std::error_code StatusError(NTSTATUS status) {
    return SystemError(static_cast<int>(::RtlNtStatusToDosError(status)));
}

}  // namespace

struct Sha256::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Impl() {
        if (hash != nullptr) ::BCryptDestroyHash(hash);
        if (algorithm != nullptr) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    NTSTATUS status =
        ::BCryptOpenAlgorithmProvider(&impl_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(status)) {
        status = ::BCryptCreateHash(impl_->algorithm, &impl_->hash, nullptr, 0, nullptr, 0, 0);
    }
    if (!BCRYPT_SUCCESS(status)) failed_ = StatusError(status);
}

Sha256::~Sha256() = default;

std::error_code Sha256::Update(std::string_view bytes) {
    // BCryptHashData takes at most a ULONG's worth at once.
    while (!failed_ && !bytes.empty()) {
        const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        const NTSTATUS status = ::BCryptHashData(
            impl_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), piece, 0);
        if (!BCRYPT_SUCCESS(status)) failed_ = StatusError(status);
        bytes.remove_prefix(piece);
    }
    return failed_;
}

std::error_code Sha256::FinishBytes(unsigned char* digest) {
    const NTSTATUS status = ::BCryptFinishHash(impl_->hash, digest, kSha256HexLength / 2, 0);
    return BCRYPT_SUCCESS(status) ? std::error_code() : StatusError(status);
}

}  // namespace ue::digest
