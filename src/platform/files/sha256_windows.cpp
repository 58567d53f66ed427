#include "platform/windows_api.h"

#include <bcrypt.h>

#include "platform/files/sha256.h"

namespace tarvik {
namespace {

class CngSha256 final : public Sha256 {
public:
    CngSha256(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE hash)
        : algorithm_(algorithm), hash_(hash)
    {
    }
    ~CngSha256() override
    {
        ::BCryptDestroyHash(hash_);
        ::BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    CngSha256(const CngSha256&) = delete;
    CngSha256& operator=(const CngSha256&) = delete;

    bool Update(const std::uint8_t* data, std::size_t size) override
    {
        while (size > 0) {
            const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
            if (!BCRYPT_SUCCESS(::BCryptHashData(hash_, const_cast<PUCHAR>(data), part, 0))) {
                return false;
            }
            data += part;
            size -= part;
        }
        return true;
    }

    std::optional<Sha256Hash> Finish() override
    {
        Sha256Hash hash{};
        if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_, hash.data(), hash.size(), 0))) {
            return std::nullopt;
        }
        return hash;
    }

private:
    BCRYPT_ALG_HANDLE algorithm_;
    BCRYPT_HASH_HANDLE hash_;
};

}  // namespace

std::unique_ptr<Sha256> Sha256::Start()
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                      0))) {
        return nullptr;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        ::BCryptCloseAlgorithmProvider(algorithm, 0);
        return nullptr;
    }
    return std::make_unique<CngSha256>(algorithm, hash);
}

}  // namespace tarvik
