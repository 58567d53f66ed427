#include "platform/files/sha256.h"

#include <openssl/evp.h>

namespace tarvik {
namespace {

class OpenSslSha256 final : public Sha256 {
public:
    explicit OpenSslSha256(EVP_MD_CTX* context) : context_(context) {}
    ~OpenSslSha256() override { EVP_MD_CTX_free(context_); }
    OpenSslSha256(const OpenSslSha256&) = delete;
    OpenSslSha256& operator=(const OpenSslSha256&) = delete;

    bool Update(const std::uint8_t* data, std::size_t size) override
    {
        return EVP_DigestUpdate(context_, data, size) == 1;
    }

    std::optional<Sha256Hash> Finish() override
    {
        Sha256Hash hash{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_, hash.data(), &length) != 1 || length != hash.size()) {
            return std::nullopt;
        }
        return hash;
    }

private:
    EVP_MD_CTX* context_;
};

}  // namespace

std::unique_ptr<Sha256> Sha256::Start()
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) {
        return nullptr;
    }
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    return std::make_unique<OpenSslSha256>(context);
}

}  // namespace tarvik
