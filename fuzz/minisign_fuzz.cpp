// minisign's texts on any input: the same bytes as a public key file, a signature file, a
// signed comment, base64, a secret key file (unlocked with a fixed password) and a trusted
// comment to sign. What a reader takes must mean what it says:
//   - base64 the decoder takes re-encodes to base64 that decodes to the same bytes, and any
//     bytes survive encoding and decoding;
//   - a public key or signature read, written back in minisign's form, reads back the same;
//   - a signed comment's version= and rollback= never come without boards=;
//   - any secret key that unlocks signs what its own public key verifies;
//   - a comment that MakeSignatureText takes reads back from its signature unchanged and
//     verifies; one it refuses holds a line end or a zero byte, or is too long.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sodium.h>

#include "image/minisign.h"
#include "image/minisign_sign.h"

namespace tarvik {
namespace {

// Secret keys are unlocked with this password. scrypt runs only at limits this small: its
// cost follows opslimit, and minisign's own keys would cost seconds and a gigabyte each run.
constexpr std::string_view FUZZ_PASSWORD = "fuzz password";
constexpr std::uint64_t FUZZ_OPSLIMIT_MAX = 32768;

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "minisign reader fault: %s\n", what);
    std::abort();
}

std::span<const std::uint8_t> BytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void CheckBase64(std::string_view text)
{
    const auto bytes = DecodeBase64(text);
    const auto again = DecodeBase64(EncodeBase64(BytesOf(text)));
    if (!again ||
        !std::equal(again->begin(), again->end(), BytesOf(text).begin(), BytesOf(text).end())) {
        Fault("bytes do not survive base64");
    }
    if (bytes && DecodeBase64(EncodeBase64(*bytes)) != bytes) {
        Fault("decoded base64 re-encodes to other bytes");
    }
}

void CheckPublicKey(std::string_view text)
{
    std::string why;
    const auto key = ParsePublicKey(text, why);
    if (!key) {
        if (why.empty()) {
            Fault("a public key refused without a reason");
        }
        return;
    }
    std::vector<std::uint8_t> line = {'E', 'd'};
    line.insert(line.end(), key->Id.begin(), key->Id.end());
    line.insert(line.end(), key->Key.begin(), key->Key.end());
    const std::string written = "untrusted comment: minisign public key " + KeyIdText(key->Id) +
                                "\n" + EncodeBase64(line) + "\n";
    const auto again = ParsePublicKey(written, why);
    if (!again || again->Id != key->Id || again->Key != key->Key) {
        Fault("a public key does not read back the same");
    }
}

void CheckSignature(std::string_view text)
{
    std::string why;
    const auto signature = ParseSignature(text, why);
    if (!signature) {
        if (why.empty()) {
            Fault("a signature refused without a reason");
        }
        return;
    }
    if (signature->TrustedComment.find('\n') != std::string::npos) {
        Fault("a trusted comment holds a line end");
    }
    std::vector<std::uint8_t> line = {'E', 'D'};
    line.insert(line.end(), signature->Id.begin(), signature->Id.end());
    line.insert(line.end(), signature->Signature.begin(), signature->Signature.end());
    const std::string written = "untrusted comment: x\n" + EncodeBase64(line) +
                                "\ntrusted comment: " + signature->TrustedComment + "\n" +
                                EncodeBase64(signature->GlobalSignature) + "\n";
    const auto again = ParseSignature(written, why);
    if (!again || again->Id != signature->Id || again->Signature != signature->Signature ||
        again->TrustedComment != signature->TrustedComment ||
        again->GlobalSignature != signature->GlobalSignature) {
        Fault("a signature does not read back the same");
    }
}

void CheckSignedUse(std::string_view text)
{
    std::string why;
    const auto use = ParseSignedUse(text, why);
    if (!use) {
        if (why.empty()) {
            Fault("a signed comment refused without a reason");
        }
        return;
    }
    if (use->HasList == use->Boards.empty()) {
        Fault("boards= read as a list without boards, or boards without boards=");
    }
    if (!use->HasList && (use->Version || use->RollbackAllowed)) {
        Fault("version= or rollback= taken without boards=");
    }
}

// What a key signs verifies with its public key, comment and all.
void CheckSigns(const MinisignSecretKey& key, std::string_view comment)
{
    const MinisignHash hash = [&] {
        FileHasher hasher;
        hasher.Update(BytesOf(comment));
        return hasher.Final();
    }();
    std::string why;
    const auto text = MakeSignatureText(key, hash, comment, why);
    if (!text) {
        const bool oneLine = comment.find_first_of(std::string_view("\r\n\0", 3)) ==
                             std::string_view::npos;
        if (oneLine && comment.size() <= MINISIGN_MAX_TRUSTED_COMMENT_BYTES) {
            Fault("a comment of one short line refused");
        }
        return;
    }
    const auto signature = ParseSignature(*text, why);
    if (!signature || signature->TrustedComment != comment) {
        Fault("a signature made does not read back with its comment");
    }
    if (!VerifySignature(*signature, key.PublicKey(), hash)) {
        Fault("a signature made does not verify");
    }
}

void CheckSecretKey(std::string_view text)
{
    std::string why;
    const auto file = ParseSecretKey(text, why);
    if (!file) {
        if (why.empty()) {
            Fault("a secret key refused without a reason");
        }
        return;
    }
    if (file->Encrypted && file->OpsLimit > FUZZ_OPSLIMIT_MAX) {
        return;
    }
    const auto key = UnlockSecretKey(*file, FUZZ_PASSWORD, why);
    if (key) {
        CheckSigns(*key, "signed by a key the fuzzer found");
    } else if (why.empty()) {
        Fault("a secret key not unlocked without a reason");
    }
}

// One key pair for signing the input as a comment, made once from a fixed seed.
const MinisignSecretKey& FixedKey()
{
    static const MinisignSecretKey key = [] {
        MinisignSecretKey made;
        std::array<std::uint8_t, crypto_sign_SEEDBYTES> seed{};
        seed.fill(0x5A);
        std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> publicKey{};
        if (sodium_init() < 0) {
            Fault("libsodium does not start");
        }
        crypto_sign_seed_keypair(publicKey.data(), made.Key.data(), seed.data());
        made.Id.fill(0x42);
        return made;
    }();
    return key;
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tarvik::CheckBase64(text);
    tarvik::CheckPublicKey(text);
    tarvik::CheckSignature(text);
    tarvik::CheckSignedUse(text);
    tarvik::CheckSecretKey(text);
    tarvik::CheckSigns(tarvik::FixedKey(), text);
    return 0;
}
