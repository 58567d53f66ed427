#pragma once
// A minisign key pair made for one test, and the public key and signature files it makes, as
// minisign writes them.

#include <gtest/gtest.h>

#include <sodium.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/minisign.h"

namespace tarvik::testing {

class Signer {
public:
    Signer()
    {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(public_.data(), secret_.data());
        randombytes_buf(id_.data(), id_.size());
    }

    // The key id as minisign prints it: 16 hex digits.
    std::string KeyId() const { return KeyIdText(id_); }

    std::string PublicKeyFile() const
    {
        std::vector<std::uint8_t> line = {'E', 'd'};
        line.insert(line.end(), id_.begin(), id_.end());
        line.insert(line.end(), public_.begin(), public_.end());
        return "untrusted comment: minisign public key " + KeyIdText(id_) + "\n" +
               EncodeBase64(line) + "\n";
    }

    std::string Sign(std::span<const std::uint8_t> file, const std::string& comment) const
    {
        FileHasher hasher;
        hasher.Update(file);
        const MinisignHash hash = hasher.Final();
        std::array<std::uint8_t, 64> signature{};
        crypto_sign_detached(signature.data(), nullptr, hash.data(), hash.size(), secret_.data());
        std::vector<std::uint8_t> line = {'E', 'D'};
        line.insert(line.end(), id_.begin(), id_.end());
        line.insert(line.end(), signature.begin(), signature.end());
        std::vector<std::uint8_t> global(signature.begin(), signature.end());
        global.insert(global.end(), comment.begin(), comment.end());
        std::array<std::uint8_t, 64> globalSignature{};
        crypto_sign_detached(globalSignature.data(), nullptr, global.data(), global.size(),
                             secret_.data());
        return "untrusted comment: signature from minisign secret key\n" + EncodeBase64(line) +
               "\ntrusted comment: " + comment + "\n" + EncodeBase64(globalSignature) + "\n";
    }

private:
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> public_{};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secret_{};
    MinisignKeyId id_{};
};

}  // namespace tarvik::testing
