#include "commands/signed_upgrade.h"

#include "commands/commands.h"

namespace tarvik {
namespace {

// The verified bytes stand for the file only while the upgrade that was checked runs.
class VerifiedImageHold {
public:
    VerifiedImageHold(RunEnvironment& environment, const std::string& path)
        : environment_(environment), path_(path)
    {
    }
    ~VerifiedImageHold() { environment_.ForgetVerifiedImage(path_); }
    VerifiedImageHold(const VerifiedImageHold&) = delete;
    VerifiedImageHold& operator=(const VerifiedImageHold&) = delete;

private:
    RunEnvironment& environment_;
    std::string path_;
};

}  // namespace

UpgradeOutcome RunSignedUpgradeCommand(RunEnvironment& environment, CommandPort& port,
                                       ProgressDisplay& progress, const std::string& deviceName,
                                       const std::string& imagePath, const TrustSettings& trust)
{
    RunState& run = environment.State();
    const VerifiedImageHold hold(environment, imagePath);
    const ImageTrust checked = CheckImageTrust(run.Files, imagePath, trust);
    if (checked.State == SignatureState::Refused) {
        if (const std::string_view text = RowOf(checked.Ending).Text; !text.empty()) {
            port.ShowMessage(text);
        }
        return checked.Ending;
    }
    if (checked.State == SignatureState::Verified) {
        environment.UseVerifiedImage(imagePath, checked.Bytes, checked.Use);
    }
    return RunUpgradeCommand(run, port, progress, deviceName, imagePath);
}

}  // namespace tarvik
