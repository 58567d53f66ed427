#include "image/minisign_sign.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <sodium.h>

#include "platform/formats/byte_order.h"

namespace tarvik {
namespace {

constexpr std::string_view UNTRUSTED_PREFIX = "untrusted comment:";

// Where the fields lie in a secret key line's bytes.
constexpr std::size_t SECRET_SIG_ALG = 0;
constexpr std::size_t SECRET_KDF_ALG = 2;
constexpr std::size_t SECRET_CHECKSUM_ALG = 4;
constexpr std::size_t SECRET_SALT = 6;
constexpr std::size_t SECRET_OPSLIMIT = SECRET_SALT + MINISIGN_KDF_SALT_BYTES;
constexpr std::size_t SECRET_MEMLIMIT = SECRET_OPSLIMIT + 8;
constexpr std::size_t SECRET_SEALED = SECRET_MEMLIMIT + 8;
constexpr std::size_t SECRET_KEY_LINE_BYTES = SECRET_SEALED + MINISIGN_SEALED_KEY_BYTES;

// Where the fields lie in the 104 sealed bytes.
constexpr std::size_t SEALED_KEY = MINISIGN_KEY_ID_BYTES;
constexpr std::size_t SEALED_CHECKSUM = SEALED_KEY + MINISIGN_SECRET_KEY_BYTES;

// Wipes the bytes of any object or container that holds secret bytes.
template <typename Bytes>
void Wipe(Bytes& bytes)
{
    sodium_memzero(bytes.data(), bytes.size() * sizeof bytes[0]);
}

// BLAKE2b-256 over "Ed", the key id and the secret key, as minisign checks a key it unlocked.
std::array<std::uint8_t, MINISIGN_KEY_CHECKSUM_BYTES> KeyChecksum(
    const std::array<std::uint8_t, MINISIGN_SEALED_KEY_BYTES>& unsealed)
{
    std::array<std::uint8_t, MINISIGN_KEY_CHECKSUM_BYTES> checksum{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, checksum.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>("Ed"), 2);
    crypto_generichash_update(&state, unsealed.data(), SEALED_CHECKSUM);
    crypto_generichash_final(&state, checksum.data(), checksum.size());
    sodium_memzero(&state, sizeof state);
    return checksum;
}

bool IsAllZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Whether the secret key's second half is the public key of its first (the seed): a damaged
// key, or one sealed with another password, is not.
bool IsKeyPair(const std::array<std::uint8_t, MINISIGN_SECRET_KEY_BYTES>& key)
{
    std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> rebuilt{};
    crypto_sign_seed_keypair(publicKey.data(), rebuilt.data(), key.data());
    const bool same = sodium_memcmp(rebuilt.data(), key.data(), key.size()) == 0;
    Wipe(rebuilt);
    return same;
}

}  // namespace

MinisignSecretKeyFile::MinisignSecretKeyFile(MinisignSecretKeyFile&& other) noexcept
    : Encrypted(other.Encrypted), Salt(other.Salt), OpsLimit(other.OpsLimit),
      MemLimit(other.MemLimit), Sealed(other.Sealed)
{
    Wipe(other.Sealed);
}

MinisignSecretKeyFile::~MinisignSecretKeyFile()
{
    Wipe(Sealed);
}

MinisignSecretKey::MinisignSecretKey(MinisignSecretKey&& other) noexcept
    : Id(other.Id), Key(other.Key)
{
    Wipe(other.Key);
}

MinisignSecretKey::~MinisignSecretKey()
{
    Wipe(Key);
}

MinisignPublicKey MinisignSecretKey::PublicKey() const
{
    MinisignPublicKey key;
    key.Id = Id;
    std::copy(Key.begin() + crypto_sign_SEEDBYTES, Key.end(), key.Key.begin());
    return key;
}

std::optional<MinisignSecretKeyFile> ParseSecretKey(std::string_view text, std::string& why)
{
    std::vector<std::string_view> lines = MinisignLines(text);
    if (lines.size() == 2 && lines[0].starts_with(UNTRUSTED_PREFIX)) {
        lines.erase(lines.begin());
    }
    if (lines.size() != 1) {
        why = "not a minisign secret key (one comment line and one key line)";
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes = DecodeBase64(lines[0]);
    if (!bytes || bytes->size() != SECRET_KEY_LINE_BYTES) {
        why = "the key line is not a minisign secret key";
        if (bytes) {
            Wipe(*bytes);
        }
        return std::nullopt;
    }
    const std::span<const std::uint8_t> line(*bytes);
    const auto named = [&](std::size_t offset, std::string_view name) {
        return line[offset] == static_cast<std::uint8_t>(name[0]) &&
               line[offset + 1] == static_cast<std::uint8_t>(name[1]);
    };
    MinisignSecretKeyFile file;
    if (!named(SECRET_SIG_ALG, "Ed")) {
        why = "the key is not an Ed25519 key";
    } else if (!named(SECRET_CHECKSUM_ALG, "B2")) {
        why = "the key's checksum is not BLAKE2b";
    } else if (named(SECRET_KDF_ALG, "Sc")) {
        file.Encrypted = true;
    } else if (line[SECRET_KDF_ALG] != 0 || line[SECRET_KDF_ALG + 1] != 0) {
        why = "the key is protected by a method other than scrypt";
    }
    if (why.empty()) {
        std::copy_n(line.begin() + SECRET_SALT, file.Salt.size(), file.Salt.begin());
        file.OpsLimit = LoadLe64(line, SECRET_OPSLIMIT);
        file.MemLimit = LoadLe64(line, SECRET_MEMLIMIT);
        std::copy_n(line.begin() + SECRET_SEALED, file.Sealed.size(), file.Sealed.begin());
    }
    Wipe(*bytes);
    if (!why.empty()) {
        return std::nullopt;
    }
    return file;
}

std::optional<MinisignSecretKey> UnlockSecretKey(const MinisignSecretKeyFile& file,
                                                 std::string_view password, std::string& why)
{
    if (sodium_init() < 0) {
        why = "the cryptographic library cannot start";
        return std::nullopt;
    }
    std::array<std::uint8_t, MINISIGN_SEALED_KEY_BYTES> unsealed = file.Sealed;
    if (file.Encrypted) {
        std::array<std::uint8_t, MINISIGN_SEALED_KEY_BYTES> stream{};
        if (file.MemLimit > std::numeric_limits<std::size_t>::max() ||
            crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(),
                                               password.size(), file.Salt.data(), file.OpsLimit,
                                               static_cast<std::size_t>(file.MemLimit)) != 0) {
            Wipe(unsealed);
            why =
                "the key's password cannot be applied: scrypt cannot run with the key's limits (" +
                std::to_string(file.MemLimit >> 20) + " MiB of memory)";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < unsealed.size(); ++i) {
            unsealed[i] ^= stream[i];
        }
        Wipe(stream);
    }
    const std::span<const std::uint8_t> checksum(unsealed.data() + SEALED_CHECKSUM,
                                                 MINISIGN_KEY_CHECKSUM_BYTES);
    // minisign leaves an unencrypted key's checksum zero; the key pair check below still holds.
    const bool checksumKept = file.Encrypted || !IsAllZero(checksum);
    std::array<std::uint8_t, MINISIGN_KEY_CHECKSUM_BYTES> expected = KeyChecksum(unsealed);
    const bool checksumMatches = sodium_memcmp(expected.data(), checksum.data(), checksum.size()) ==
                                 0;
    Wipe(expected);

    MinisignSecretKey key;
    std::copy_n(unsealed.begin(), key.Id.size(), key.Id.begin());
    std::copy_n(unsealed.begin() + SEALED_KEY, key.Key.size(), key.Key.begin());
    Wipe(unsealed);
    if (checksumKept && !checksumMatches) {
        why = file.Encrypted ? "wrong password for this secret key"
                             : "the secret key is damaged: its checksum does not match";
        return std::nullopt;
    }
    if (!IsKeyPair(key.Key)) {
        why = "the secret key is damaged: its two halves are not one key pair";
        return std::nullopt;
    }
    return key;
}

std::optional<std::string> MakeSignatureText(const MinisignSecretKey& key,
                                             const MinisignHash& fileHash,
                                             std::string_view trustedComment, std::string& why)
{
    if (trustedComment.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        why = "the trusted comment is one line of text: no line end or zero byte in it";
        return std::nullopt;
    }
    if (trustedComment.size() > MINISIGN_MAX_TRUSTED_COMMENT_BYTES) {
        why = "the trusted comment is longer than " +
              std::to_string(MINISIGN_MAX_TRUSTED_COMMENT_BYTES) + " bytes";
        return std::nullopt;
    }
    if (sodium_init() < 0) {
        why = "the cryptographic library cannot start";
        return std::nullopt;
    }
    // "ED", the key id, and the signature of the hash.
    std::vector<std::uint8_t> line = {'E', 'D'};
    line.insert(line.end(), key.Id.begin(), key.Id.end());
    line.resize(line.size() + MINISIGN_SIGNATURE_BYTES);
    unsigned char* signature = line.data() + 2 + MINISIGN_KEY_ID_BYTES;
    crypto_sign_detached(signature, nullptr, fileHash.data(), fileHash.size(), key.Key.data());

    // The comment is signed together with the file's signature, so neither moves to another.
    std::vector<std::uint8_t> signedComment(signature, signature + MINISIGN_SIGNATURE_BYTES);
    signedComment.insert(signedComment.end(), trustedComment.begin(), trustedComment.end());
    std::array<std::uint8_t, MINISIGN_SIGNATURE_BYTES> global{};
    crypto_sign_detached(global.data(), nullptr, signedComment.data(), signedComment.size(),
                         key.Key.data());

    std::string text = "untrusted comment: ";
    text += MINISIGN_SIGNATURE_UNTRUSTED_COMMENT;
    text += '\n';
    text += EncodeBase64(line);
    text += "\ntrusted comment: ";
    text += trustedComment;
    text += '\n';
    text += EncodeBase64(global);
    text += '\n';
    return text;
}

}  // namespace tarvik
