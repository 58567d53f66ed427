#pragma once
// Signing in minisign's format with a secret key that minisign made (minisign -G): the key
// file is read, unlocked with its password when it is encrypted, and signs a file's BLAKE2b-512
// hash together with a trusted comment. The result is a .minisig text that minisign -V and
// VerifySignature both accept. Where the key file, the password and the hash come from is the
// caller's business.
//
//   untrusted comment: minisign encrypted secret key
//   RWRTY0IyYeUaczq4…     158 bytes: "Ed"; "Sc" (encrypted) or two zero bytes; "B2"; the
//                         scrypt salt (32); opslimit and memlimit (64-bit little-endian); then
//                         the key id (8), the Ed25519 secret key (64) and a BLAKE2b-256
//                         checksum (32) over "Ed", the id and the key, those last 104 bytes
//                         XORed with as many bytes of scrypt over the password when encrypted
//
// Every object that holds secret bytes wipes them when it is destroyed, and nothing secret is
// copied where it would not be.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/minisign.h"

namespace tarvik {

inline constexpr std::size_t MINISIGN_SECRET_KEY_BYTES = 64;
inline constexpr std::size_t MINISIGN_KDF_SALT_BYTES = 32;
inline constexpr std::size_t MINISIGN_KEY_CHECKSUM_BYTES = 32;
inline constexpr std::size_t MINISIGN_SEALED_KEY_BYTES =
    MINISIGN_KEY_ID_BYTES + MINISIGN_SECRET_KEY_BYTES + MINISIGN_KEY_CHECKSUM_BYTES;
// The longest trusted comment signed: room for many boards, and well inside what minisign reads
// back and what ParseSignature's callers read of a signature file.
inline constexpr std::size_t MINISIGN_MAX_TRUSTED_COMMENT_BYTES = 1024;
inline constexpr std::string_view MINISIGN_SIGNATURE_UNTRUSTED_COMMENT =
    "signature from tarvik-mkimage secret key";

// A secret key file as read: its key still sealed by the password when it is encrypted.
struct MinisignSecretKeyFile {
    bool Encrypted = false;
    std::array<std::uint8_t, MINISIGN_KDF_SALT_BYTES> Salt{};
    std::uint64_t OpsLimit = 0;
    std::uint64_t MemLimit = 0;
    // The key id, the secret key and the checksum as the file holds them.
    std::array<std::uint8_t, MINISIGN_SEALED_KEY_BYTES> Sealed{};

    MinisignSecretKeyFile() = default;
    MinisignSecretKeyFile(MinisignSecretKeyFile&& other) noexcept;
    MinisignSecretKeyFile& operator=(MinisignSecretKeyFile&&) = delete;
    ~MinisignSecretKeyFile();
};

// An unlocked key, ready to sign.
struct MinisignSecretKey {
    MinisignKeyId Id{};
    // Ed25519's form: the 32-byte seed, then the public key.
    std::array<std::uint8_t, MINISIGN_SECRET_KEY_BYTES> Key{};

    MinisignSecretKey() = default;
    MinisignSecretKey(MinisignSecretKey&& other) noexcept;
    MinisignSecretKey& operator=(MinisignSecretKey&&) = delete;
    ~MinisignSecretKey();

    MinisignPublicKey PublicKey() const;
};

// A secret key file (its comment line and its key line) or the key line alone. Nothing, with
// why, when it is neither, or uses an algorithm minisign does not.
std::optional<MinisignSecretKeyFile> ParseSecretKey(std::string_view text, std::string& why);

// The key, unsealed with the password when the file is encrypted (the password is not used
// otherwise). Nothing, with why, when the checksum does not match (a wrong password, or a
// damaged file), when the secret key is not one Ed25519 key pair, or when scrypt cannot have the
// memory the file asks for. Scrypt takes what the file says: minisign's keys ask for 1 GiB and
// a few seconds.
std::optional<MinisignSecretKey> UnlockSecretKey(const MinisignSecretKeyFile& file,
                                                 std::string_view password, std::string& why);

// The .minisig text for a file's BLAKE2b-512 hash and a trusted comment: four lines, each
// ending in \n, as minisign writes them. Nothing, with why, when the comment would not read back
// the same (a line end or a zero byte in it) or is longer than
// MINISIGN_MAX_TRUSTED_COMMENT_BYTES.
std::optional<std::string> MakeSignatureText(const MinisignSecretKey& key,
                                             const MinisignHash& fileHash,
                                             std::string_view trustedComment, std::string& why);

}  // namespace tarvik
