// Signed images in the desktop program, under whichever renderer the tests are built with: the
// check at Upgrade (a refusal is one message box and no frame; a verified image is the one
// written), and the signer in the status bar once a file is chosen. The keys are the test's own,
// made here, and given to the dialogs as the program gives them the trusted-keys folders.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "dialogs/dialog_rig.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"
#include "support/minisign_signer.h"

namespace tarvik::testing {
namespace {

constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};  // QV1A2B3C
constexpr std::uint32_t CODE_ADDRESS = 0x1000 * 16;                  // the sample's code segment

class SignedImagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(rig.Start(), 0);
        rig.Network->State().SelectedTarget = "QV1A2B3C";
        WriteImage(SmallImage());
        rig.Context->Trust.KeyFiles = {rig.WriteFile("release.pub", signer.PublicKeyFile())};
    }

    void WriteImage(const ImageSpec& spec)
    {
        image = BuildImage(spec);
        rig.Document.ImagePath = rig.WriteImage("small.bin", spec);
    }

    void Sign(const Signer& by, const std::string& comment = "timestamp:1\tfile:small.bin")
    {
        rig.WriteFile("small.bin.minisig", by.Sign(image, comment));
    }

    EmulatedTarget& Device() { return rig.Segment->FindTarget(DEVICE)->Device(); }
    std::vector<std::uint8_t> Written() { return Device().MemoryAt(CODE_ADDRESS, image.size()); }

    // Prepare For Upgrade with Upgrade pressed once per entry of then, each after its own
    // preparation; what the progress window said after each ("" for none).
    std::vector<std::string> Upgrade(std::vector<std::function<void()>> then = {[] {}})
    {
        std::vector<std::string> said;
        rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
            for (const auto& prepare : then) {
                prepare();
                Press(dialog, res::IDC_UPGRADE);
                CDialog* progress = static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window();
                said.push_back(progress != nullptr && progress->Window().IsShown()
                                   ? progress->ItemText(res::IDC_STATUS_TEXT)
                                   : "");
            }
            return res::IDCANCEL;
        };
        RunPrepareUpgrade(*rig.Context);
        return said;
    }

    DialogRig rig;
    Signer signer;
    std::vector<std::uint8_t> image;
};

TEST_F(SignedImagesTest, AnUntrustedSignatureIsOneMessageBoxAndNoFrameReachesTheDevice)
{
    Signer stranger;
    Sign(stranger);
    const std::uint64_t framesBefore = rig.Network->State().FramesSent;
    const std::uint64_t repliesBefore = Device().RepliesSent();

    EXPECT_EQ(Upgrade(), std::vector<std::string>{""}) << "no progress window";
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{"Untrusted Signature !"});
    EXPECT_EQ(rig.Network->State().FramesSent, framesBefore);
    EXPECT_EQ(Device().RepliesSent(), repliesBefore);
    EXPECT_EQ(rig.Port.WaitDepth, 0);

    // Unsigned, once a key is trusted: refused as well, with its own text.
    std::filesystem::remove(rig.Document.ImagePath + ".minisig");
    rig.Port.Messages.clear();
    EXPECT_EQ(Upgrade(), std::vector<std::string>{""});
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{"Signature Not Found !"});
    EXPECT_EQ(rig.Network->State().FramesSent, framesBefore);
}

TEST_F(SignedImagesTest, AVerifiedImageIsWrittenAndARebuiltOneIsReadAfreshForTheNextUpgrade)
{
    Sign(signer);
    EXPECT_EQ(Upgrade(), std::vector<std::string>{"Upgrade Finish"});
    EXPECT_TRUE(rig.Port.Messages.empty()) << rig.Port.Messages.front();
    EXPECT_EQ(Written(), image);

    // The program lives on: the same file, rebuilt and signed again, goes out as it is now, and
    // the first image's signed list no longer applies to it.
    ImageSpec rebuilt = SmallImage();
    rebuilt.Seed = 2;
    EXPECT_EQ(Upgrade({[&] {
                  WriteImage(rebuilt);
                  Sign(signer, "tarvik boards=001122334455");
              }}),
              std::vector<std::string>{"Upgrade Finish"});
    EXPECT_TRUE(rig.Port.Messages.empty()) << rig.Port.Messages.front();
    EXPECT_EQ(Written(), image);
}

TEST_F(SignedImagesTest, TheSignedListIsCheckedAgainstTheDeviceThroughTheDialogs)
{
    Sign(signer, "tarvik boards=AABBCCDDEEFF");
    EXPECT_EQ(Upgrade(), std::vector<std::string>{""});
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{"Board Not In Signed List !"});
    EXPECT_NE(Written(), image);
}

TEST_F(SignedImagesTest, WithoutATrustedKeyNothingIsCheckedAndTheStatusBarIsLeftAlone)
{
    rig.Context->Trust = {};
    Signer stranger;
    Sign(stranger);
    RunSelectBinFile(*rig.Context, rig.Document.ImagePath);
    EXPECT_TRUE(rig.StatusBar.Texts.empty());
    EXPECT_EQ(Upgrade(), std::vector<std::string>{"Upgrade Finish"});
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(Written(), image);
    RunSelectBinFile(*rig.Context, std::nullopt);
    EXPECT_TRUE(rig.StatusBar.Texts.empty());
}

TEST_F(SignedImagesTest, TheStatusBarSaysWhoSignedTheChosenFileBeforeItsInformationOpens)
{
    const std::string path = rig.Document.ImagePath;
    std::vector<std::string> shownWithInformation;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](CDialog&) {
        shownWithInformation.push_back(rig.StatusBar.Texts.empty() ? ""
                                                                   : rig.StatusBar.Texts.back());
        return res::IDOK;
    };
    const auto choose = [&](const std::optional<std::string>& chosen) {
        RunSelectBinFile(*rig.Context, chosen);
        return rig.StatusBar.Texts.empty() ? std::string("(none)") : rig.StatusBar.Texts.back();
    };

    Sign(signer);
    EXPECT_EQ(choose(path), "Signed by " + signer.KeyId());
    Signer stranger;
    Sign(stranger);
    EXPECT_EQ(choose(path), "Untrusted Signature !");
    std::filesystem::remove(path + ".minisig");
    EXPECT_EQ(choose(path), "Signature Not Found !");
    EXPECT_EQ(choose(std::nullopt), "") << "cancelling brings the idle text back";
    EXPECT_EQ(shownWithInformation,
              (std::vector<std::string>{"Signed by " + signer.KeyId(), "Untrusted Signature !",
                                        "Signature Not Found !"}));
    EXPECT_EQ(rig.StatusBar.Texts.size(), 4U);
    EXPECT_TRUE(rig.Port.Messages.empty()) << "choosing a file shows no message box";
}

}  // namespace
}  // namespace tarvik::testing
