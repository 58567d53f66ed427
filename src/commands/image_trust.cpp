#include "commands/image_trust.h"

#include <algorithm>
#include <set>

#include "image/image_file.h"
#include "platform/files/path_text.h"
#include "platform/files/pinned_files.h"
#include "platform/host/user_identity.h"

namespace tarvik {
namespace {

// Bounds a key or signature file is read to; theirs are a few hundred bytes.
std::optional<std::string> ReadSmallFile(FileSystem& files, const std::string& path)
{
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        return std::nullopt;
    }
    std::string text(MINISIGN_MAX_FILE_BYTES + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        const std::int64_t count =
            file->Read(reinterpret_cast<std::uint8_t*>(text.data()) + used, text.size() - used);
        if (count < 0) {
            return std::nullopt;
        }
        if (count == 0 || (used += static_cast<std::size_t>(count)) == text.size()) {
            break;
        }
    }
    text.resize(used);
    return text;
}

// The key ids of a revoked file: one per line, in hex as minisign prints them (which leaves out
// leading zeros: such an id is taken as its 16 digits); blank lines and lines from '#' on are
// skipped.
void ReadRevoked(const std::string& text, std::set<std::string>& revoked)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        line = line.substr(0, line.find('#'));
        std::erase_if(line, [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
        std::transform(line.begin(), line.end(), line.begin(),
                       [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
        if (!line.empty()) {
            if (line.size() < 16) {
                line.insert(0, 16 - line.size(), '0');
            }
            revoked.insert(line);
        }
        start = end + 1;
    }
}

struct Keyring {
    std::vector<MinisignPublicKey> Keys;
    std::set<std::string> Revoked;
    bool AnyKeyFile = false;  // a key file is there, readable or not: the run is not open
};

Keyring ReadKeyring(FileSystem& files, const TrustSettings& settings,
                    std::vector<std::string>& notes)
{
    Keyring ring;
    std::vector<std::string> keyFiles;
    for (const std::string& folder : settings.KeyFolders) {
        if (folder.empty()) {
            continue;
        }
        for (const std::string& file : FilesIn(folder, ".pub")) {
            keyFiles.push_back(file);
        }
        if (const auto revoked = ReadSmallFile(files, JoinPath(folder, "revoked"))) {
            ReadRevoked(*revoked, ring.Revoked);
        }
    }
    keyFiles.insert(keyFiles.end(), settings.KeyFiles.begin(), settings.KeyFiles.end());
    for (const std::string& path : keyFiles) {
        ring.AnyKeyFile = true;
        std::string why;
        const auto text = ReadSmallFile(files, path);
        if (!text) {
            notes.push_back("the key " + path + " cannot be read");
            continue;
        }
        if (const auto key = ParsePublicKey(*text, why)) {
            ring.Keys.push_back(*key);
        } else {
            notes.push_back("the key " + path + " is left out: " + why);
        }
    }
    return ring;
}

ImageTrust Refuse(ImageTrust trust, UpgradeOutcome ending, std::string why, SignatureMode mode)
{
    trust.State = mode == SignatureMode::Warn ? SignatureState::Warned : SignatureState::Refused;
    trust.Ending = ending;
    trust.Why = std::move(why);
    return trust;
}

}  // namespace

const char* SignatureStateName(SignatureState state)
{
    switch (state) {
    case SignatureState::NotChecked:
        return "not checked";
    case SignatureState::Verified:
        return "verified";
    case SignatureState::Refused:
        return "refused";
    case SignatureState::Warned:
        return "failed, flashed anyway";
    }
    return "";
}

std::optional<SignatureMode> SignatureModeNamed(std::string_view name)
{
    if (name == "require") {
        return SignatureMode::Require;
    }
    if (name == "warn") {
        return SignatureMode::Warn;
    }
    if (name == "off") {
        return SignatureMode::Off;
    }
    return std::nullopt;
}

TrustSettings DefaultTrustSettings(std::vector<std::string> keyFiles)
{
    TrustSettings settings;
    for (const std::string& folder : {SystemSettingsFolder(), UserSettingsFolder()}) {
        if (!folder.empty()) {
            settings.KeyFolders.push_back(JoinPath(folder, "trusted-keys"));
        }
    }
    settings.KeyFiles = std::move(keyFiles);
    return settings;
}

std::string SignatureStatusText(const ImageTrust& trust)
{
    switch (trust.State) {
    case SignatureState::NotChecked:
        return {};
    case SignatureState::Verified:
        return "Signed by " + trust.KeyId;
    case SignatureState::Refused:
    case SignatureState::Warned:
        break;
    }
    return std::string(RowOf(trust.Ending).Text);
}

ImageTrust CheckImageTrust(FileSystem& files, const std::string& imagePath,
                           const TrustSettings& settings)
{
    ImageTrust trust;
    if (settings.Mode == SignatureMode::Off) {
        trust.Why = "--signatures off";
        return trust;
    }
    const Keyring ring = ReadKeyring(files, settings, trust.Notes);
    const SignatureMode mode = settings.Mode.value_or(SignatureMode::Require);
    if (!ring.AnyKeyFile && !settings.Mode) {
        trust.Why = "no trusted key is installed or given";
        return trust;
    }
    if (ring.Keys.empty()) {
        return Refuse(std::move(trust), UpgradeOutcome::UntrustedSignature,
                      "no trusted key could be read", mode);
    }

    const std::string signaturePath =
        settings.SignatureFile.empty() ? imagePath + ".minisig" : settings.SignatureFile;
    const auto signatureText = ReadSmallFile(files, signaturePath);
    if (!signatureText) {
        return Refuse(std::move(trust), UpgradeOutcome::SignatureNotFound,
                      "no signature " + signaturePath, mode);
    }
    std::string why;
    const auto signature = ParseSignature(*signatureText, why);
    if (!signature) {
        return Refuse(std::move(trust), UpgradeOutcome::SignatureFormatError,
                      signaturePath + ": " + why, mode);
    }
    trust.KeyId = KeyIdText(signature->Id);
    trust.Comment = signature->TrustedComment;
    if (ring.Revoked.contains(trust.KeyId)) {
        return Refuse(std::move(trust), UpgradeOutcome::RevokedKey,
                      "signed by the revoked key " + trust.KeyId, mode);
    }
    const auto key = std::find_if(ring.Keys.begin(), ring.Keys.end(),
                                  [&](const MinisignPublicKey& k) { return k.Id == signature->Id; });
    if (key == ring.Keys.end()) {
        return Refuse(std::move(trust), UpgradeOutcome::UntrustedSignature,
                      "signed by the key " + trust.KeyId + ", which is not trusted here", mode);
    }

    // The image, read once to its end: hashed as it comes, and kept for the run.
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(imagePath);
    if (!file) {
        return Refuse(std::move(trust), UpgradeOutcome::FileNotFound,
                      imagePath + " cannot be read", SignatureMode::Require);
    }
    const std::int64_t size = file->SeekEnd();
    if (size < 0 || !file->Seek(0)) {
        return Refuse(std::move(trust), UpgradeOutcome::FileNotFound,
                      imagePath + " cannot be read", SignatureMode::Require);
    }
    // Read straight into the bytes kept, a piece at a time, each hashed while it is warm. Room
    // for the file as it stands; a file that grows meanwhile is read to its end all the same,
    // and what was read is what was hashed.
    constexpr std::size_t PIECE = 1 << 18;
    auto bytes = std::make_shared<HeldBytes>();
    bytes->resize(static_cast<std::size_t>(size));
    std::size_t used = 0;
    std::vector<std::uint8_t> beyond;  // for what a file that grew holds past its size
    FileHasher hasher;
    for (;;) {
        const bool within = used < bytes->size();
        if (!within && beyond.empty()) {
            beyond.resize(PIECE);
        }
        std::uint8_t* into = within ? bytes->data() + used : beyond.data();
        const std::size_t wanted = within ? std::min(PIECE, bytes->size() - used) : PIECE;
        const std::int64_t count = file->Read(into, wanted);
        if (count < 0) {
            return Refuse(std::move(trust), UpgradeOutcome::FileNotFound,
                          imagePath + " could not be read to its end", SignatureMode::Require);
        }
        if (count == 0) {
            break;
        }
        const std::span read(into, static_cast<std::size_t>(count));
        hasher.Update(read);
        if (!within) {
            bytes->insert(bytes->end(), read.begin(), read.end());
        }
        used += read.size();
    }
    bytes->resize(used);
    if (!VerifySignature(*signature, *key, hasher.Final())) {
        return Refuse(std::move(trust), UpgradeOutcome::SignatureMismatch,
                      "the signature by " + trust.KeyId +
                          " does not match the image or its trusted comment",
                      mode);
    }
    const auto use = ParseSignedUse(signature->TrustedComment, why);
    if (!use) {
        return Refuse(std::move(trust), UpgradeOutcome::SignatureFormatError,
                      "the signed list: " + why, mode);
    }
    // The rollback check trusts the signed version: one that is not the image's own would let
    // an older image past it (or hold a newer one back), so the list is refused as written.
    if (use->Version) {
        PinnedFileSystem held(files);
        held.Pin(imagePath, bytes);
        ImageDescriptor image;
        if (ReadImageDescriptor(held, imagePath, image) == IMAGE_OK &&
            !std::equal(use->Version->begin(), use->Version->end(),
                        image.Bytes.begin() + DESC_FW_VERSION)) {
            return Refuse(std::move(trust), UpgradeOutcome::SignatureFormatError,
                          "the signed list gives version " + FormatHexBytes(*use->Version) +
                              ", the image's own is " +
                              FormatHexBytes(std::span(image.Bytes).subspan(DESC_FW_VERSION, 2)),
                          mode);
        }
    }
    trust.State = SignatureState::Verified;
    trust.Use = std::make_shared<const SignedUse>(*use);
    trust.Bytes = std::move(bytes);
    return trust;
}

}  // namespace tarvik
