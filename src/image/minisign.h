#pragma once
// Image signatures in minisign's format: Ed25519 over the BLAKE2b-512 hash of the file, and
// over the signature and its trusted comment together, so that the comment cannot be changed
// without the key. Public keys and signature files are read as minisign writes them; nothing
// here knows where they come from or what a run does with the verdict.
//
//   untrusted comment: minisign public key 7CE53E5B1F08D965
//   RWRl2QgfWz7lfGEsNiClZ7wrhg44smW+olCOwRG0dxKl8K6RmIZ6J0xA
//
//   untrusted comment: signature from minisign secret key
//   RURl2QgfWz7lf…                       ("ED", the key id, the signature: 74 bytes)
//   trusted comment: tarvik boards=001122334455 version=0102 rollback=no
//   mepSz9Q3Suhl…                        (the signature of the above and the comment)

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <sodium.h>

#include "image/descriptor.h"
#include "image/signed_use.h"

namespace tarvik {

inline constexpr std::size_t MINISIGN_KEY_ID_BYTES = 8;
inline constexpr std::size_t MINISIGN_PUBLIC_KEY_BYTES = 32;
inline constexpr std::size_t MINISIGN_SIGNATURE_BYTES = 64;
inline constexpr std::size_t MINISIGN_HASH_BYTES = 64;
// The longest signature or key file read: minisign's own are under 400 bytes.
inline constexpr std::size_t MINISIGN_MAX_FILE_BYTES = 8192;

using MinisignKeyId = std::array<std::uint8_t, MINISIGN_KEY_ID_BYTES>;
using MinisignHash = std::array<std::uint8_t, MINISIGN_HASH_BYTES>;

struct MinisignPublicKey {
    MinisignKeyId Id{};
    std::array<std::uint8_t, MINISIGN_PUBLIC_KEY_BYTES> Key{};
};

struct MinisignSignature {
    // "ED": over the file's BLAKE2b-512 hash. "Ed" (minisign's legacy form, over the whole
    // file) is refused when parsed.
    MinisignKeyId Id{};
    std::array<std::uint8_t, MINISIGN_SIGNATURE_BYTES> Signature{};
    std::string TrustedComment;
    std::array<std::uint8_t, MINISIGN_SIGNATURE_BYTES> GlobalSignature{};
};

// The key id as minisign prints it: the 8 bytes as a little-endian number, 16 upper-case hex
// digits ("7CE53E5B1F08D965").
std::string KeyIdText(const MinisignKeyId& id);

// A public key file (its comment line and its key line) or the key line alone. Nothing, with
// why, when it is neither.
std::optional<MinisignPublicKey> ParsePublicKey(std::string_view text, std::string& why);

// A .minisig file: four lines, the first and third with their prefixes. Nothing, with why, for
// anything else: a line missing, cut short or not base64, another algorithm, the legacy form.
std::optional<MinisignSignature> ParseSignature(std::string_view text, std::string& why);

// BLAKE2b-512 over a file read in pieces, in constant memory.
class FileHasher {
public:
    FileHasher();
    void Update(std::span<const std::uint8_t> bytes);
    MinisignHash Final();

private:
    crypto_generichash_state state_{};
};

// Whether the signature is the key's over that file hash and over its trusted comment. The
// key ids must match; both signatures are checked.
bool VerifySignature(const MinisignSignature& signature, const MinisignPublicKey& key,
                     const MinisignHash& fileHash);

// The text's lines without their line ends (\n or \r\n), empty lines at its end left out; a
// last line without an end counts.
std::vector<std::string_view> MinisignLines(std::string_view text);

// Base64 as minisign writes it (standard alphabet, padded); nothing for anything else.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace tarvik
