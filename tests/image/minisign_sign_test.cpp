#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <sodium.h>

#include "image/minisign.h"
#include "image/minisign_sign.h"

namespace tarvik {
namespace {

// Keys and a signature that minisign 0.11 made: `minisign -G` with the password below, and
// `minisign -G -W` (no password), then `minisign -S` with the unencrypted key over
// SIGNED_FILE and the trusted comment that the signature shows.
constexpr std::string_view ENCRYPTED_PASSWORD = "Tarvik signing test";
constexpr std::string_view ENCRYPTED_SECRET =
    "untrusted comment: minisign encrypted secret key\n"
    "RWRTY0IyNBedfe7DSkDkYQnnnD4kaxkLoxyx/cBJAFCp1rO8ScoAAAACAAAAAAAAAEAAAAAASn37yCIdk5qS3imdAUZWYB"
    "ZBrZWKQ/mKbqYpjMI7CrHQ/MrHVwGx6j+5WK0e5hmW2nSBHGoy59oqGHYJbxWrsIHAtGSU72Lgs8CXFUICW2fRPwxvjwjx"
    "5UuYsALCeAhmVTiA8CdPANs=\n";
constexpr std::string_view ENCRYPTED_PUBLIC =
    "untrusted comment: minisign public key 81A3849883AAF49B\n"
    "RWSb9KqDmISjgQxmmeVyzRqPGEh28DMA8Bg9BcYRHin+mLRnYpzIXqgK\n";
constexpr std::string_view PLAIN_SECRET =
    "untrusted comment: minisign encrypted secret key\n"
    "RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAArFFYmqcNuFNVlcWncuWmL3"
    "kNigqpqd2rsKQxTLiO1F9MLkoaZI/"
    "YyHJ1j8GInBYav+A43AYmVOje9abAEJ5jp8fNyCZ3vq7DAAAAAAAAAAAAAAAAAAAAA"
    "AAAAAAAAAAAAAAAAAAAAAA=\n";
constexpr std::string_view PLAIN_PUBLIC =
    "untrusted comment: minisign public key 53B80DA79A5851AC\n"
    "RWSsUViapw24U3J1j8GInBYav+A43AYmVOje9abAEJ5jp8fNyCZ3vq7D\n";
constexpr std::string_view SIGNED_FILE = "tarvik image bytes\n";
constexpr std::string_view MINISIGN_SIGNATURE =
    "untrusted comment: signature from minisign secret key\n"
    "RUSsUViapw24U4ch1EDJGr/UJYzwCMoD1Lv78SxNIhZBb4v+ecTyPkEb8tSqJ1ph2M4CJ0Faj5VphGhJrvkoxCVJUjLyVs"
    "PX+Aw=\n"
    "trusted comment: timestamp:1796760000\tfile:t_file.bin\thashed boards=001122334455 "
    "version=0103\n"
    "O8RiS2di4aqqg0vR1OE3cBrXenreh5CWmY0kebM2bzAm0fFNn5k4rpfFgi+6jXIRz6/VNXll9s+f/sxsiqUXDg==\n";

// Where a secret key line's fields lie, for the tests that change one.
constexpr std::size_t KDF_ALG = 2;
constexpr std::size_t SALT = 6;
constexpr std::size_t OPSLIMIT = 38;
constexpr std::size_t MEMLIMIT = 46;
constexpr std::size_t SEALED = 54;
constexpr std::size_t SECRET_KEY = SEALED + 8;
constexpr std::size_t CHECKSUM = SECRET_KEY + 64;

MinisignHash HashOf(std::string_view text)
{
    FileHasher hasher;
    hasher.Update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return hasher.Final();
}

MinisignPublicKey PublicKeyOf(std::string_view text)
{
    std::string why;
    const auto key = ParsePublicKey(text, why);
    EXPECT_TRUE(key) << why;
    return key.value_or(MinisignPublicKey{});
}

std::vector<std::uint8_t> KeyLineBytes(std::string_view keyFile)
{
    return DecodeBase64(MinisignLines(keyFile).at(1)).value();
}

std::string KeyFileOf(const std::vector<std::uint8_t>& bytes)
{
    return "untrusted comment: changed by the test\n" + EncodeBase64(bytes) + "\n";
}

// BLAKE2b-256 over "Ed", the key id and the secret key: the checksum minisign keeps.
std::array<std::uint8_t, 32> ChecksumOf(const std::vector<std::uint8_t>& line)
{
    std::vector<std::uint8_t> covered = {'E', 'd'};
    covered.insert(covered.end(), line.begin() + SEALED, line.begin() + CHECKSUM);
    std::array<std::uint8_t, 32> checksum{};
    crypto_generichash(checksum.data(), checksum.size(), covered.data(), covered.size(), nullptr,
                       0);
    return checksum;
}

// The unencrypted key sealed with a password as minisign seals one, but with scrypt's smallest
// limits, so that a test pays milliseconds for it instead of seconds and a gigabyte.
std::string SealedWith(std::string_view password)
{
    std::vector<std::uint8_t> line = KeyLineBytes(PLAIN_SECRET);
    const auto checksum = ChecksumOf(line);
    std::copy(checksum.begin(), checksum.end(), line.begin() + CHECKSUM);
    line[KDF_ALG] = 'S';
    line[KDF_ALG + 1] = 'c';
    for (std::size_t i = 0; i < 32; ++i) {
        line[SALT + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const std::uint64_t opsLimit = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_MIN;
    const std::uint64_t memLimit = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_MIN;
    for (std::size_t i = 0; i < 8; ++i) {
        line[OPSLIMIT + i] = static_cast<std::uint8_t>(opsLimit >> (8 * i));
        line[MEMLIMIT + i] = static_cast<std::uint8_t>(memLimit >> (8 * i));
    }
    std::array<std::uint8_t, MINISIGN_SEALED_KEY_BYTES> stream{};
    EXPECT_EQ(crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(),
                                                 password.size(), line.data() + SALT, opsLimit,
                                                 memLimit),
              0);
    for (std::size_t i = 0; i < stream.size(); ++i) {
        line[SEALED + i] ^= stream[i];
    }
    return KeyFileOf(line);
}

std::optional<MinisignSecretKey> Unlock(std::string_view keyFile, std::string_view password,
                                        std::string& why)
{
    const auto file = ParseSecretKey(keyFile, why);
    if (!file) {
        return std::nullopt;
    }
    return UnlockSecretKey(*file, password, why);
}

// Secret keys as minisign writes them: both kinds unlock to the key pair of their public key.
class SecretKeyFromMinisign : public ::testing::Test {};

TEST_F(SecretKeyFromMinisign, AnUnencryptedKeyUnlocksWithoutPassword)
{
    std::string why;
    const auto file = ParseSecretKey(PLAIN_SECRET, why);
    ASSERT_TRUE(file) << why;
    EXPECT_FALSE(file->Encrypted);
    // minisign leaves the checksum of an unencrypted key zero; that is no damage.
    const auto key = UnlockSecretKey(*file, "", why);
    ASSERT_TRUE(key) << why;
    const MinisignPublicKey expected = PublicKeyOf(PLAIN_PUBLIC);
    EXPECT_EQ(key->PublicKey().Id, expected.Id);
    EXPECT_EQ(key->PublicKey().Key, expected.Key);
}

// scrypt at minisign's own limits: about 1 GiB and a few seconds, once.
TEST_F(SecretKeyFromMinisign, AnEncryptedKeyUnlocksWithItsPassword)
{
    std::string why;
    const auto file = ParseSecretKey(ENCRYPTED_SECRET, why);
    ASSERT_TRUE(file) << why;
    EXPECT_TRUE(file->Encrypted);
    EXPECT_EQ(file->OpsLimit, 33554432u);
    EXPECT_EQ(file->MemLimit, 1073741824u);
    const auto key = UnlockSecretKey(*file, ENCRYPTED_PASSWORD, why);
    ASSERT_TRUE(key) << why;
    const MinisignPublicKey expected = PublicKeyOf(ENCRYPTED_PUBLIC);
    EXPECT_EQ(key->PublicKey().Id, expected.Id);
    EXPECT_EQ(key->PublicKey().Key, expected.Key);
}

TEST_F(SecretKeyFromMinisign, LineEndsOfEitherSystemAndTheKeyLineAloneAreRead)
{
    std::string crlf(PLAIN_SECRET);
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
        crlf.insert(at, "\r");
    }
    const std::string alone(MinisignLines(PLAIN_SECRET).at(1));
    for (const std::string& text : {crlf, alone, alone + "\n\n"}) {
        std::string why;
        EXPECT_TRUE(Unlock(text, "", why)) << why << " for " << text;
    }
}

// A wrong password or a damaged key gives an error, never a key that signs garbage.
class SecretKeyRefused : public ::testing::Test {};

TEST_F(SecretKeyRefused, AWrongPasswordIsRefusedAndTheRightOneIsNot)
{
    const std::string sealed = SealedWith("right password");
    std::string why;
    const auto key = Unlock(sealed, "right password", why);
    ASSERT_TRUE(key) << why;
    EXPECT_EQ(key->PublicKey().Key, PublicKeyOf(PLAIN_PUBLIC).Key);
    for (const std::string_view wrong : {"Right password", "right password ", "", "right"}) {
        why.clear();
        EXPECT_FALSE(Unlock(sealed, wrong, why)) << "password \"" << wrong << "\"";
        EXPECT_EQ(why, "wrong password for this secret key");
    }
}

TEST_F(SecretKeyRefused, AnUnencryptedKeyIsCheckedByItsChecksumWhenItHasOne)
{
    std::vector<std::uint8_t> line = KeyLineBytes(PLAIN_SECRET);
    const auto checksum = ChecksumOf(line);
    std::copy(checksum.begin(), checksum.end(), line.begin() + CHECKSUM);
    std::string why;
    EXPECT_TRUE(Unlock(KeyFileOf(line), "", why)) << why;

    line[CHECKSUM + 5] ^= 0x01;
    EXPECT_FALSE(Unlock(KeyFileOf(line), "", why));
    EXPECT_EQ(why, "the secret key is damaged: its checksum does not match");
}

TEST_F(SecretKeyRefused, AKeyWhoseHalvesDoNotMatchIsRefused)
{
    // The checksum of an unencrypted key is zero, so only the key pair check sees the change:
    // one bit of the seed, then one of the public half.
    for (const std::size_t at : {SECRET_KEY + 3, SECRET_KEY + 40}) {
        std::vector<std::uint8_t> line = KeyLineBytes(PLAIN_SECRET);
        line[at] ^= 0x10;
        std::string why;
        EXPECT_FALSE(Unlock(KeyFileOf(line), "", why)) << "byte " << at;
        EXPECT_EQ(why, "the secret key is damaged: its two halves are not one key pair");
    }
}

TEST_F(SecretKeyRefused, WhatIsNotAMinisignSecretKeyIsNotRead)
{
    const std::vector<std::uint8_t> good = KeyLineBytes(PLAIN_SECRET);
    const auto changed = [&](std::size_t at, std::uint8_t value) {
        std::vector<std::uint8_t> line = good;
        line[at] = value;
        return KeyFileOf(line);
    };
    std::vector<std::uint8_t> shorter(good.begin(), good.end() - 1);
    const std::string keyLine(MinisignLines(PLAIN_SECRET).at(1));
    const struct {
        std::string Text;
        std::string Why;
    } cases[] = {
        {changed(0, 'X'), "the key is not an Ed25519 key"},
        {changed(4, 'X'), "the key's checksum is not BLAKE2b"},
        {changed(KDF_ALG, 'S'), "the key is protected by a method other than scrypt"},
        {KeyFileOf(shorter), "the key line is not a minisign secret key"},
        {"untrusted comment: x\n" + keyLine.substr(1) + "\n",
         "the key line is not a minisign secret key"},
        {std::string(PLAIN_PUBLIC), "the key line is not a minisign secret key"},
        {std::string(PLAIN_SECRET) + "one line too many\n",
         "not a minisign secret key (one comment line and one key line)"},
        {"", "not a minisign secret key (one comment line and one key line)"},
    };
    for (const auto& [text, expected] : cases) {
        std::string why;
        EXPECT_FALSE(ParseSecretKey(text, why)) << text;
        EXPECT_EQ(why, expected) << text;
    }
}

TEST_F(SecretKeyRefused, AMovedKeyLeavesNoSecretBehind)
{
    std::string why;
    auto file = ParseSecretKey(PLAIN_SECRET, why);
    ASSERT_TRUE(file) << why;
    auto key = UnlockSecretKey(*file, "", why);
    ASSERT_TRUE(key) << why;
    const MinisignSecretKeyFile movedFile(std::move(*file));
    const MinisignSecretKey movedKey(std::move(*key));
    const auto zero = [](const auto& bytes) {
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
    };
    EXPECT_TRUE(zero(file->Sealed));
    EXPECT_TRUE(zero(key->Key));
    EXPECT_FALSE(zero(movedFile.Sealed));
    EXPECT_FALSE(zero(movedKey.Key));
}

// Signatures made here: minisign's own, line for line, under the comment line that names the
// signer.
class SignatureMade : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        auto file = ParseSecretKey(PLAIN_SECRET, why);
        ASSERT_TRUE(file) << why;
        key_.emplace(UnlockSecretKey(*file, "", why).value());
    }

    std::optional<MinisignSecretKey> key_;
    const MinisignHash hash_ = HashOf(SIGNED_FILE);
};

TEST_F(SignatureMade, IsMinisignsSignatureOfTheSameFileAndComment)
{
    std::string why;
    const auto minisign = ParseSignature(MINISIGN_SIGNATURE, why);
    ASSERT_TRUE(minisign) << why;
    const auto text = MakeSignatureText(*key_, hash_, minisign->TrustedComment, why);
    ASSERT_TRUE(text) << why;
    // Ed25519 signs alike every time, so only the first line differs.
    const std::vector<std::string_view> made = MinisignLines(*text);
    const std::vector<std::string_view> expected = MinisignLines(MINISIGN_SIGNATURE);
    ASSERT_EQ(made.size(), 4u);
    EXPECT_EQ(made[0], "untrusted comment: signature from tarvik-mkimage secret key");
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(made[i], expected[i]) << "line " << i + 1;
    }
    EXPECT_EQ(text->back(), '\n');
    EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 4);
}

TEST_F(SignatureMade, VerifiesForItsFileAndCommentOnly)
{
    const MinisignPublicKey publicKey = PublicKeyOf(PLAIN_PUBLIC);
    std::string why;
    const auto text = MakeSignatureText(*key_, hash_, "tarvik boards=001122334455", why);
    ASSERT_TRUE(text) << why;
    auto signature = ParseSignature(*text, why);
    ASSERT_TRUE(signature) << why;
    EXPECT_EQ(signature->TrustedComment, "tarvik boards=001122334455");
    EXPECT_TRUE(VerifySignature(*signature, publicKey, hash_));
    EXPECT_FALSE(VerifySignature(*signature, publicKey, HashOf("tarvik image bytes?\n")));
    signature->TrustedComment = "tarvik boards=001122334456";
    EXPECT_FALSE(VerifySignature(*signature, publicKey, hash_));
}

TEST_F(SignatureMade, ACommentThatWouldNotReadBackTheSameIsRefused)
{
    std::string why;
    EXPECT_TRUE(MakeSignatureText(*key_, hash_, "", why)) << why;
    const std::string longest(MINISIGN_MAX_TRUSTED_COMMENT_BYTES, 'c');
    const auto text = MakeSignatureText(*key_, hash_, longest, why);
    ASSERT_TRUE(text) << why;
    EXPECT_EQ(ParseSignature(*text, why).value().TrustedComment, longest);

    for (const std::string& comment :
         {std::string("two\nlines"), std::string("ends in\r"), std::string("zero\0byte", 9)}) {
        EXPECT_FALSE(MakeSignatureText(*key_, hash_, comment, why)) << comment;
        EXPECT_EQ(why, "the trusted comment is one line of text: no line end or zero byte in it");
    }
    EXPECT_FALSE(MakeSignatureText(*key_, hash_, longest + "c", why));
    EXPECT_EQ(why, "the trusted comment is longer than 1024 bytes");
}

}  // namespace
}  // namespace tarvik
