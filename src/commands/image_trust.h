#pragma once
// Which images may reach a device: the keys trusted here (a folder of the machine's, a folder
// of the user's, and keys given for one run), the keys revoked, and the policy. Once a trusted
// key is installed or given, an image goes out only with a valid signature by one of them
// (unless the run asks to be warned only); the whole file is read and verified before anything
// is sent, and those bytes are what the run sends.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commands/outcomes.h"
#include "image/minisign.h"
#include "platform/files/file_system.h"
#include "platform/files/held_bytes.h"

namespace tarvik {

// require: refuse what is not validly signed by a trusted key (the default once one is
// installed or given); warn: check, say what failed, and flash anyway; off: check nothing.
enum class SignatureMode { Require, Warn, Off };

// The mode of that name (require, warn, off); nothing for any other name.
std::optional<SignatureMode> SignatureModeNamed(std::string_view name);

struct TrustSettings {
    std::vector<std::string> KeyFolders;  // *.pub and a file "revoked" in each
    std::vector<std::string> KeyFiles;    // given for the run
    std::string SignatureFile;            // empty: the image's path + ".minisig"
    std::optional<SignatureMode> Mode;    // empty: require when a key is there, else off
};

// What was checked, for the run's output, its record and the history.
enum class SignatureState {
    NotChecked,  // no trusted key here, or --signatures off
    Verified,
    Refused,
    Warned,  // checked, failed, flashed anyway (--signatures warn)
};

struct ImageTrust {
    SignatureState State = SignatureState::NotChecked;
    UpgradeOutcome Ending = UpgradeOutcome::Finished;  // the refusal, when there is one
    std::string Why;       // what was wrong, in a few words; why nothing was checked
    std::string KeyId;     // the signer's key id, once the signature was read
    std::string Comment;   // its trusted comment
    std::shared_ptr<const SignedUse> Use;                     // once verified
    std::shared_ptr<const HeldBytes> Bytes;  // the image, read once
    std::vector<std::string> Notes;  // key files that could not be read, and the like
};

// The settings of a run on this machine: the machine's and the user's trusted-keys folders,
// and the key files given for the run.
TrustSettings DefaultTrustSettings(std::vector<std::string> keyFiles = {});

// Checks the image against the keys and the policy, reading it whole once. Never refuses with
// Mode off; with warn, a failure comes back as Warned with its ending.
ImageTrust CheckImageTrust(FileSystem& files, const std::string& imagePath,
                           const TrustSettings& settings);

// What the desktop's status bar says of a chosen image: "Signed by" and the signer's key id
// once verified, the ending's own text when the check failed, nothing when nothing was
// checked.
std::string SignatureStatusText(const ImageTrust& trust);

// The name each state goes by in records and JSON ("verified").
const char* SignatureStateName(SignatureState state);

}  // namespace tarvik
