#include "image/minisign.h"

#include <algorithm>
#include <cstdio>

#include "platform/formats/hex_text.h"

namespace tarvik {
namespace {

constexpr std::string_view UNTRUSTED_PREFIX = "untrusted comment:";
constexpr std::string_view TRUSTED_PREFIX = "trusted comment: ";
constexpr std::size_t SIGNATURE_LINE_BYTES = 2 + MINISIGN_KEY_ID_BYTES + MINISIGN_SIGNATURE_BYTES;
constexpr std::size_t KEY_LINE_BYTES = 2 + MINISIGN_KEY_ID_BYTES + MINISIGN_PUBLIC_KEY_BYTES;

void InitSodium()
{
    // Idempotent and thread-safe; it fails only where the system has no random source, which
    // verification does not use.
    [[maybe_unused]] const int ready = sodium_init();
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

std::optional<std::array<std::uint8_t, BOARD_CODE_BYTES>> BoardCodeOf(std::string_view hex)
{
    const auto bytes = ParseHexDigits(hex);
    if (!bytes || bytes->size() != BOARD_CODE_BYTES) {
        return std::nullopt;
    }
    std::array<std::uint8_t, BOARD_CODE_BYTES> code{};
    std::copy(bytes->begin(), bytes->end(), code.begin());
    return code;
}

}  // namespace

std::vector<std::string_view> MinisignLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + static_cast<std::size_t>(j)];
            if (c == '=' && last && j >= 2) {
                values[j] = 0;
                ++padding;
                continue;
            }
            if (padding > 0 || (values[j] = Base64Value(c)) < 0) {
                return std::nullopt;
            }
        }
        const std::uint32_t group = static_cast<std::uint32_t>(values[0]) << 18 |
                                    static_cast<std::uint32_t>(values[1]) << 12 |
                                    static_cast<std::uint32_t>(values[2]) << 6 |
                                    static_cast<std::uint32_t>(values[3]);
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return bytes;
}

std::string EncodeBase64(std::span<const std::uint8_t> bytes)
{
    static constexpr char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (left > 1) {
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        }
        if (left > 2) {
            group |= bytes[i + 2];
        }
        text += ALPHABET[group >> 18 & 63];
        text += ALPHABET[group >> 12 & 63];
        text += left > 1 ? ALPHABET[group >> 6 & 63] : '=';
        text += left > 2 ? ALPHABET[group & 63] : '=';
    }
    return text;
}

std::string KeyIdText(const MinisignKeyId& id)
{
    std::string text;
    char digits[3];
    for (std::size_t i = id.size(); i-- > 0;) {
        std::snprintf(digits, sizeof digits, "%02X", id[i]);
        text += digits;
    }
    return text;
}

std::optional<MinisignPublicKey> ParsePublicKey(std::string_view text, std::string& why)
{
    std::vector<std::string_view> lines = MinisignLines(text);
    if (lines.size() == 2 && lines[0].starts_with(UNTRUSTED_PREFIX)) {
        lines.erase(lines.begin());
    }
    if (lines.size() != 1) {
        why = "not a minisign public key (one comment line and one key line)";
        return std::nullopt;
    }
    const auto bytes = DecodeBase64(lines[0]);
    if (!bytes || bytes->size() != KEY_LINE_BYTES) {
        why = "the key line is not a minisign public key";
        return std::nullopt;
    }
    if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        why = "the key is not an Ed25519 key";
        return std::nullopt;
    }
    MinisignPublicKey key;
    std::copy_n(bytes->begin() + 2, key.Id.size(), key.Id.begin());
    std::copy_n(bytes->begin() + 2 + static_cast<std::ptrdiff_t>(key.Id.size()), key.Key.size(),
                key.Key.begin());
    return key;
}

std::optional<MinisignSignature> ParseSignature(std::string_view text, std::string& why)
{
    std::vector<std::string_view> lines = MinisignLines(text);
    if (lines.size() != 4 || !lines[0].starts_with(UNTRUSTED_PREFIX) ||
        !lines[2].starts_with(TRUSTED_PREFIX)) {
        why = "not a minisign signature (four lines: comment, signature, trusted comment, "
              "signature)";
        return std::nullopt;
    }
    const auto signature = DecodeBase64(lines[1]);
    if (!signature || signature->size() != SIGNATURE_LINE_BYTES) {
        why = "the signature line is cut short or garbled";
        return std::nullopt;
    }
    const std::uint8_t first = (*signature)[0];
    const std::uint8_t second = (*signature)[1];
    if (first == 'E' && second == 'd') {
        why = "a legacy signature over the whole file: sign again with a current minisign "
              "(it hashes the file)";
        return std::nullopt;
    }
    if (first != 'E' || second != 'D') {
        why = "not an Ed25519 signature";
        return std::nullopt;
    }
    const auto global = DecodeBase64(lines[3]);
    if (!global || global->size() != MINISIGN_SIGNATURE_BYTES) {
        why = "the trusted comment's signature line is cut short or garbled";
        return std::nullopt;
    }
    MinisignSignature parsed;
    std::copy_n(signature->begin() + 2, parsed.Id.size(), parsed.Id.begin());
    std::copy_n(signature->begin() + 2 + static_cast<std::ptrdiff_t>(parsed.Id.size()),
                parsed.Signature.size(), parsed.Signature.begin());
    parsed.TrustedComment = std::string(lines[2].substr(TRUSTED_PREFIX.size()));
    std::copy(global->begin(), global->end(), parsed.GlobalSignature.begin());
    return parsed;
}

FileHasher::FileHasher()
{
    InitSodium();
    crypto_generichash_init(&state_, nullptr, 0, MINISIGN_HASH_BYTES);
}

void FileHasher::Update(std::span<const std::uint8_t> bytes)
{
    crypto_generichash_update(&state_, bytes.data(), bytes.size());
}

MinisignHash FileHasher::Final()
{
    MinisignHash hash{};
    crypto_generichash_final(&state_, hash.data(), hash.size());
    return hash;
}

bool VerifySignature(const MinisignSignature& signature, const MinisignPublicKey& key,
                     const MinisignHash& fileHash)
{
    InitSodium();
    if (signature.Id != key.Id) {
        return false;
    }
    if (crypto_sign_verify_detached(signature.Signature.data(), fileHash.data(), fileHash.size(),
                                    key.Key.data()) != 0) {
        return false;
    }
    std::vector<std::uint8_t> signedComment(signature.Signature.begin(), signature.Signature.end());
    signedComment.insert(signedComment.end(), signature.TrustedComment.begin(),
                         signature.TrustedComment.end());
    return crypto_sign_verify_detached(signature.GlobalSignature.data(), signedComment.data(),
                                       signedComment.size(), key.Key.data()) == 0;
}

std::optional<SignedUse> ParseSignedUse(std::string_view comment, std::string& why)
{
    SignedUse use;
    bool rollbackNamed = false;
    while (!comment.empty()) {
        const std::size_t start = comment.find_first_not_of(" \t");
        if (start == std::string_view::npos) {
            break;
        }
        comment.remove_prefix(start);
        const std::size_t end = std::min(comment.find_first_of(" \t"), comment.size());
        const std::string_view word = comment.substr(0, end);
        comment.remove_prefix(end);
        if (word.starts_with("boards=")) {
            if (use.HasList) {
                why = "boards= is given twice";
                return std::nullopt;
            }
            use.HasList = true;
            std::string_view list = word.substr(7);
            while (true) {
                const std::size_t comma = list.find(',');
                const auto board = BoardCodeOf(list.substr(0, comma));
                if (!board) {
                    why = "boards= holds \"" + std::string(list.substr(0, comma)) +
                          "\", which is not a board code of 12 hex digits";
                    return std::nullopt;
                }
                use.Boards.push_back(*board);
                if (comma == std::string_view::npos) {
                    break;
                }
                list.remove_prefix(comma + 1);
            }
        } else if (word.starts_with("version=")) {
            const auto version = ParseHexDigits(word.substr(8));
            if (!version || version->size() != 2 || use.Version) {
                why = "version= is not 4 hex digits, or is given twice";
                return std::nullopt;
            }
            use.Version = std::array<std::uint8_t, 2>{(*version)[0], (*version)[1]};
        } else if (word.starts_with("rollback=")) {
            const std::string_view value = word.substr(9);
            if ((value != "yes" && value != "no") || rollbackNamed) {
                why = "rollback= is neither yes nor no, or is given twice";
                return std::nullopt;
            }
            rollbackNamed = true;
            use.RollbackAllowed = value == "yes";
        }
    }
    if (!use.HasList && (use.Version || rollbackNamed)) {
        why = "version= and rollback= need boards=";
        return std::nullopt;
    }
    return use;
}

}  // namespace tarvik
