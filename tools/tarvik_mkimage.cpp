// tarvik-mkimage: writes a firmware image file for the lab and for tests. The filler is
// pseudo-random from the seed, so the same options always give the same file. Its sign command
// signs an image with a minisign secret key.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <sodium.h>

#include "image/image_builder.h"
#include "image/image_file.h"
#include "image/minisign.h"
#include "image/minisign_sign.h"
#include "platform/files/file_system.h"
#include "platform/formats/hex_text.h"
#include "platform/host/program_start.h"
#include "platform/host/secret_input.h"
#include "platform/version.h"

namespace {

using tarvik::HexDigitValue;
using tarvik::ImageDescriptor;

// Decimal, or hexadecimal after "0x". A leading zero does not mean octal here.
std::optional<std::uint64_t> ParseNumber(const std::string& text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    int base = 10;
    std::string digits = text;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        digits = text.substr(2);
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        // 0-9, and a-f or A-F in hexadecimal.
        int digit = HexDigitValue(c);
        if (digit >= base) {
            digit = -1;
        }
        if (digit < 0 || value > (UINT64_MAX - static_cast<std::uint64_t>(digit)) /
                                     static_cast<std::uint64_t>(base)) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return value;
}

// Exactly 2·count hex digits, first stored byte first.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text, std::size_t count)
{
    if (text.size() != 2 * count) {
        return std::nullopt;
    }
    return tarvik::ParseHexDigits(text);
}

struct Options {
    std::string Output;
    bool Sample = false;
    bool Force = false;
    bool NoHeader = false;
    std::string Size = "65536";
    std::string HeaderOffset = "0x200";
    std::string Seed = "1";
    std::string BoardCode;
    std::string CodeSegment;
    std::string FwVersion;
    std::string TrailerBlock;
    std::string TrailerProductId;
    std::string TrailerProtocolId;
    std::string TrailerFwVersion = "0103";
};

struct SignOptions {
    std::string Image;
    std::string SecretKey;
    std::optional<std::string> Comment;
    std::string Signature;
    bool Force = false;
};

// The variable a script sets to give an encrypted key's password without a terminal.
constexpr const char* SIGNING_PASSWORD_VARIABLE = "TARVIK_SIGNING_PASSWORD";
constexpr std::size_t HASH_PIECE_BYTES = 64 * 1024;

int Fail(const std::string& message)
{
    std::fprintf(stderr, "tarvik-mkimage: %s\n", message.c_str());
    return 1;
}

// A path given in UTF-8 on every system (a narrow path is the ANSI code page's on Windows).
std::filesystem::path PathOf(const std::string& name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// Wipes a text that held a secret.
void Wipe(std::string& text)
{
    sodium_memzero(text.data(), text.size());
}

bool SetBytes(ImageDescriptor& descriptor, std::size_t offset, const std::string& text,
              std::size_t count)
{
    const auto bytes = ParseHexBytes(text, count);
    if (!bytes) {
        return false;
    }
    std::copy(bytes->begin(), bytes->end(),
              descriptor.Bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

bool SetPair(std::array<std::uint8_t, 2>& pair, const std::string& text)
{
    const auto bytes = ParseHexBytes(text, 2);
    if (!bytes) {
        return false;
    }
    pair = {(*bytes)[0], (*bytes)[1]};
    return true;
}

// Turns the options into an image spec; an empty string on success, else what was wrong.
std::string MakeSpec(const Options& options, tarvik::ImageSpec& spec)
{
    spec = tarvik::SampleImageSpec();
    if (options.Sample) {
        return {};
    }
    const auto size = ParseNumber(options.Size);
    if (!size) {
        return "--size: not a number: " + options.Size;
    }
    spec.Size = static_cast<std::size_t>(*size);
    if (options.NoHeader) {
        spec.HeaderOffset.reset();
    } else {
        const auto offset = ParseNumber(options.HeaderOffset);
        if (!offset) {
            return "--header-offset: not a number: " + options.HeaderOffset;
        }
        if (*offset + tarvik::IMAGE_HEADER_BYTES > spec.Size) {
            return "--header-offset: the 70-byte header does not fit in the file";
        }
        spec.HeaderOffset = static_cast<std::size_t>(*offset);
    }
    const auto seed = ParseNumber(options.Seed);
    if (!seed || *seed > UINT32_MAX) {
        return "--seed: not a 32-bit number: " + options.Seed;
    }
    spec.Seed = static_cast<std::uint32_t>(*seed);

    ImageDescriptor& descriptor = spec.Descriptor;
    if (!options.BoardCode.empty() && !SetBytes(descriptor, tarvik::DESC_BOARD_CODE,
                                                options.BoardCode, tarvik::BOARD_CODE_BYTES)) {
        return "--board-code: expected 12 hex digits: " + options.BoardCode;
    }
    if (!options.FwVersion.empty() &&
        !SetBytes(descriptor, tarvik::DESC_FW_VERSION, options.FwVersion, 2)) {
        return "--fw-version: expected 4 hex digits: " + options.FwVersion;
    }
    if (!options.CodeSegment.empty()) {
        const auto segment = ParseNumber("0x" + options.CodeSegment);
        if (options.CodeSegment.size() > 4 || !segment) {
            return "--code-segment: expected up to 4 hex digits: " + options.CodeSegment;
        }
        descriptor.SetCodeSegment(static_cast<std::uint16_t>(*segment));
    }

    if (!options.TrailerBlock.empty()) {
        const auto block = ParseNumber(options.TrailerBlock);
        if (!block || (*block + 1) * tarvik::TRAILER_BLOCK_BYTES > spec.Size) {
            return "--trailer-block: not a whole 1024-byte block of the file: " +
                   options.TrailerBlock;
        }
        spec.TrailerBlockIndex = static_cast<std::size_t>(*block);
        spec.TrailerProductId = {descriptor.Bytes[tarvik::DESC_PRODUCT_ID],
                                 descriptor.Bytes[tarvik::DESC_PRODUCT_ID + 1]};
        spec.TrailerProtocolId = {descriptor.Bytes[tarvik::DESC_PROTOCOL_ID],
                                  descriptor.Bytes[tarvik::DESC_PROTOCOL_ID + 1]};
        if (!options.TrailerProductId.empty() &&
            !SetPair(spec.TrailerProductId, options.TrailerProductId)) {
            return "--trailer-product-id: expected 4 hex digits: " + options.TrailerProductId;
        }
        if (!options.TrailerProtocolId.empty() &&
            !SetPair(spec.TrailerProtocolId, options.TrailerProtocolId)) {
            return "--trailer-protocol-id: expected 4 hex digits: " + options.TrailerProtocolId;
        }
        if (!SetPair(spec.TrailerFwVersion, options.TrailerFwVersion)) {
            return "--trailer-fw-version: expected 4 hex digits: " + options.TrailerFwVersion;
        }
    }
    return {};
}

// The file's BLAKE2b-512 hash, read in pieces; nothing when it cannot be read whole.
std::optional<tarvik::MinisignHash> HashFile(tarvik::FileSystem& files, const std::string& path)
{
    const std::unique_ptr<tarvik::ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    tarvik::FileHasher hasher;
    std::vector<std::uint8_t> piece(HASH_PIECE_BYTES);
    for (;;) {
        const std::int64_t got = file->Read(piece.data(), piece.size());
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return hasher.Final();
        }
        hasher.Update({piece.data(), static_cast<std::size_t>(got)});
    }
}

// A key file whole, in one buffer that is wiped by the caller; nothing when it cannot be read
// or is longer than any key file.
std::optional<std::string> ReadKeyFile(tarvik::FileSystem& files, const std::string& path)
{
    const std::unique_ptr<tarvik::ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    std::string text(tarvik::MINISIGN_MAX_FILE_BYTES + 1, '\0');
    std::size_t length = 0;
    for (;;) {
        const std::int64_t got =
            file->Read(reinterpret_cast<std::uint8_t*>(text.data()) + length, text.size() - length);
        if (got <= 0 || length + static_cast<std::size_t>(got) == text.size()) {
            if (got != 0) {
                Wipe(text);
                return std::nullopt;
            }
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    // Shrinking in place keeps the one buffer, so no copy of the key is left elsewhere.
    text.resize(length);
    return text;
}

// The secret key unlocked: with the password from the environment or the terminal when it is
// encrypted. Nothing, after saying why, when it cannot be.
std::optional<tarvik::MinisignSecretKey> UnlockKey(const std::string& path)
{
    tarvik::SystemFileSystem files;
    std::optional<std::string> text = ReadKeyFile(files, path);
    if (!text) {
        Fail("cannot read the secret key " + path);
        return std::nullopt;
    }
    std::string why;
    const std::optional<tarvik::MinisignSecretKeyFile> file = tarvik::ParseSecretKey(*text, why);
    Wipe(*text);
    if (!file) {
        Fail(path + ": " + why);
        return std::nullopt;
    }
    // Kept in this one object from where it is read to where it is wiped.
    std::optional<std::string> password;
    if (file->Encrypted) {
        password = tarvik::SecretFromEnvironment(SIGNING_PASSWORD_VARIABLE);
        if (!password) {
            password = tarvik::ReadHiddenLine("Password for " + path + ": ", why);
        }
        if (!password) {
            Fail("cannot read the password of " + path + ": " + why + " (" +
                 SIGNING_PASSWORD_VARIABLE + " gives it without a terminal)");
            return std::nullopt;
        }
    }
    std::optional<tarvik::MinisignSecretKey> key =
        tarvik::UnlockSecretKey(*file, password ? std::string_view(*password) : "", why);
    if (password) {
        Wipe(*password);
    }
    if (!key) {
        Fail(path + ": " + why);
    }
    return key;
}

// minisign's own default, which its -V shows as the trusted comment.
std::string DefaultComment(const std::string& image)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::u8string name = PathOf(image).filename().u8string();
    return "timestamp:" + std::to_string(seconds.count()) +
           "\tfile:" + std::string(name.begin(), name.end()) + "\thashed";
}

int Sign(const SignOptions& options)
{
    const std::string output = options.Signature.empty() ? options.Image + ".minisig"
                                                         : options.Signature;
    std::error_code error;
    // The image is never written, --force or not.
    if (std::filesystem::equivalent(PathOf(output), PathOf(options.Image), error)) {
        return Fail(output + " is the image itself");
    }
    if (!options.Force && std::filesystem::exists(PathOf(output), error)) {
        return Fail(output + " exists; use --force to replace it");
    }
    tarvik::SystemFileSystem files;
    const std::optional<tarvik::MinisignHash> hash = HashFile(files, options.Image);
    if (!hash) {
        return Fail("cannot read " + options.Image);
    }
    const std::optional<tarvik::MinisignSecretKey> key = UnlockKey(options.SecretKey);
    if (!key) {
        return 1;
    }
    std::string why;
    const std::optional<std::string> text = tarvik::MakeSignatureText(
        *key, *hash, options.Comment.value_or(DefaultComment(options.Image)), why);
    if (!text) {
        return Fail("--comment: " + why);
    }
    if (!tarvik::WriteNewFile(output,
                              {reinterpret_cast<const std::uint8_t*>(text->data()), text->size()},
                              options.Force)) {
        return Fail("cannot write " + output);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    tarvik::ProgramStart start(argc, argv);
    Options options;
    CLI::App app{
        "Writes a firmware image file: pseudo-random code bytes from a seed, a 70-byte header "
        "carrying the descriptor, and, when asked, a trailer block. Numbers are decimal or "
        "0x-prefixed hexadecimal. \"tarvik-mkimage sign IMAGE --secret-key FILE\" signs an "
        "image instead.",
        "tarvik-mkimage"};
    // Options are --name and -n on every system: a path such as /tmp/x.bin is a path on
    // Windows too, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "tarvik-mkimage " + std::string(tarvik::TARVIK_VERSION));
    // Required unless the sign command is given (checked below: CLI11 cannot say so).
    auto* file = app.add_option("file", options.Output, "The image file to write");
    auto* sample =
        app.add_flag("--sample", options.Sample,
                     "The lab's sample image: 64 KiB, header at 0x200, board code 001122334455, "
                     "firmware version 0103, code segment 1000");
    app.add_flag("--force", options.Force, "Replace the file if it exists");
    std::vector<CLI::Option*> shaping;
    shaping.push_back(app.add_option("--size", options.Size,
                                     "File length in bytes (default 65536)"));
    shaping.push_back(app.add_option("--header-offset", options.HeaderOffset,
                                     "Offset of the header (default 0x200)"));
    shaping.push_back(app.add_flag("--no-header", options.NoHeader, "Write no header at all"));
    shaping.push_back(app.add_option("--seed", options.Seed,
                                     "Seed of the filler bytes (default 1)"));
    shaping.push_back(app.add_option("--board-code", options.BoardCode,
                                     "12 hex digits (default 001122334455)"));
    shaping.push_back(app.add_option("--code-segment", options.CodeSegment,
                                     "Paragraph of the first byte, hex (default 1000)"));
    shaping.push_back(
        app.add_option("--fw-version", options.FwVersion,
                       "4 hex digits, first stored byte first (default 0103); 0000 makes the "
                       "reader take it from the trailer block"));
    shaping.push_back(app.add_option("--trailer-block", options.TrailerBlock,
                                     "Put a trailer block at file offset 1024*K"));
    shaping.push_back(app.add_option("--trailer-product-id", options.TrailerProductId,
                                     "Trailer ProductId, 4 hex digits (default: the header's)"));
    shaping.push_back(app.add_option("--trailer-protocol-id", options.TrailerProtocolId,
                                     "Trailer ProtocolId, 4 hex digits (default: the header's)"));
    shaping.push_back(app.add_option("--trailer-fw-version", options.TrailerFwVersion,
                                     "Trailer FwVersion, 4 hex digits (default 0103)"));
    for (CLI::Option* option : shaping) {
        option->excludes(sample);
    }

    SignOptions signing;
    CLI::App* sign = app.add_subcommand(
        "sign",
        "Signs an image with a minisign secret key (minisign -G): writes IMAGE.minisig in "
        "minisign's format, which minisign -V and tarvik check. The password of an encrypted "
        "key is read from the terminal, or from TARVIK_SIGNING_PASSWORD when it is set.");
    sign->add_option("image", signing.Image, "The image file to sign")->required();
    sign->add_option("--secret-key", signing.SecretKey, "The minisign secret key file")->required();
    sign->add_option("--comment", signing.Comment,
                     "The trusted comment, signed with the image (default: minisign's, "
                     "\"timestamp:SECONDS<tab>file:NAME<tab>hashed\")");
    sign->add_option("--signature", signing.Signature,
                     "The signature file to write (default: IMAGE.minisig)");
    sign->add_flag("--force", signing.Force, "Replace the signature file if it exists");
    CLI11_PARSE(app, start.Argc(), start.Argv());

    if (sign->parsed()) {
        for (const CLI::Option* option : app.get_options()) {
            if (option->count() > 0) {
                return Fail("sign takes none of the options that make an image (" +
                            option->get_name() + ")");
            }
        }
        return Sign(signing);
    }
    if (file->count() == 0) {
        return Fail("the image file to write is missing (see --help)");
    }

    tarvik::ImageSpec spec;
    if (const std::string problem = MakeSpec(options, spec); !problem.empty()) {
        return Fail(problem);
    }
    std::error_code error;
    if (!options.Force && std::filesystem::exists(PathOf(options.Output), error)) {
        return Fail(options.Output + " exists; use --force to replace it");
    }
    const std::vector<std::uint8_t> image = tarvik::BuildImage(spec);
    if (!tarvik::WriteImageFile(options.Output, image, options.Force)) {
        return Fail("cannot write " + options.Output);
    }
    return 0;
}
