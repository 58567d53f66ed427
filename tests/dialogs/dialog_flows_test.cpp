// The dialog classes through the control API, the way a user drives them, under whichever
// renderer the tests are built with (Qt on Linux, Win32 under Wine): what each dialog shows,
// what the user's choice changes, and which dialog or message follows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "commands/startup.h"
#include "dialogs/browse_target_dlg.h"
#include "dialogs/dialog_rig.h"
#include "dialogs/lan_card_dlg.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

class DialogFlowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }
    DialogRig rig;
};

TEST_F(DialogFlowTest, BrowseListsTheDevicesInCapitalsAndTheChosenOneOpensItsInformation)
{
    std::string shownName;
    std::string shownPid;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& dialog) {
        shownName = dialog.ItemText(res::IDC_DEVICE_NAME);
        shownPid = dialog.ItemText(res::IDC_PID_VERSION);
        return res::IDOK;
    };
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        EXPECT_EQ(Rows(dialog, res::IDC_NAME_LIST),
                  (std::vector<std::string>{"QV000007", "QV1A2B3C"}));
        EXPECT_EQ(dialog.ItemText(res::IDC_NAME_EDIT), "");
        ClickListRow(dialog, res::IDC_NAME_LIST, RowOf(dialog, res::IDC_NAME_LIST, "QV1A2B3C"));
        EXPECT_EQ(dialog.ItemText(res::IDC_NAME_EDIT), "QV1A2B3C");
        EXPECT_EQ(rig.Network->State().SelectedTarget, "QV1A2B3C");
        Press(dialog, res::IDOK);
        return res::IDOK;
    };
    rig.Network->State().SelectedTarget = "QV000007";
    RunBrowseTarget(*rig.Context);
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_BROWSE_TARGET, res::IDD_DEVICE_INFO}));
    EXPECT_EQ(shownName, "QV1A2B3C");
    EXPECT_FALSE(shownPid.empty());
    EXPECT_EQ(rig.Port.WaitDepth, 0);
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(DialogFlowTest, BrowseOkShowsTheLastChosenDeviceBeforeClosingAndNoneWithoutAChoice)
{
    std::vector<std::string> shown;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& dialog) {
        shown.push_back(dialog.ItemText(res::IDC_DEVICE_NAME));
        return res::IDOK;
    };
    bool closedBeforeInformation = true;
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        ClickListRow(dialog, res::IDC_NAME_LIST, RowOf(dialog, res::IDC_NAME_LIST, "QV1A2B3C"));
        ClickListRow(dialog, res::IDC_NAME_LIST, RowOf(dialog, res::IDC_NAME_LIST, "QV000007"));
        Press(dialog, res::IDOK);
        closedBeforeInformation = shown.empty();
        return res::IDOK;
    };
    RunBrowseTarget(*rig.Context);
    EXPECT_FALSE(closedBeforeInformation);
    EXPECT_EQ(shown, std::vector<std::string>{"QV000007"});
    EXPECT_EQ(rig.Network->State().SelectedTarget, "QV000007");

    rig.Runner.Opened.clear();
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        Press(dialog, res::IDOK);
        return res::IDOK;
    };
    RunBrowseTarget(*rig.Context);
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_BROWSE_TARGET});
    EXPECT_TRUE(rig.Network->State().SelectedTarget.empty());
}

TEST(DialogBrowseWithoutAdapterTest, BroadcastErrorThenAnEmptyList)
{
    DialogRig rig({"lab"}, VER_PLATFORM_WIN32s);
    ASSERT_TRUE(StartupLetsProgramRun(rig.Start())) << "the program runs on without an adapter";
    rig.Port.Messages.clear();
    rig.Network->State().SelectedTarget = "QV1A2B3C";
    int listed = -1;
    std::vector<std::string> messagesBefore;
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        listed = dialog.ListCount(res::IDC_NAME_LIST);
        messagesBefore = rig.Port.Messages;
        return res::IDCANCEL;
    };
    RunBrowseTarget(*rig.Context);
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(messagesBefore, std::vector<std::string>{std::string(MSG_BROADCAST_ERROR)});
    EXPECT_TRUE(rig.Network->State().SelectedTarget.empty());
}

TEST_F(DialogFlowTest, BrowseCancelledForgetsTheEarlierChoice)
{
    rig.Network->State().SelectedTarget = "QV1A2B3C";
    RunBrowseTarget(*rig.Context);
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_BROWSE_TARGET});
    EXPECT_TRUE(rig.Network->State().SelectedTarget.empty());
}

TEST(DialogStartupTest, TheFirstCardIsOfferedAndTheClickedOneIsTaken)
{
    DialogRig rig({"first card", "second card", "third card"});
    std::string offered;
    rig.Runner.Scripts[res::IDD_LAN_CARD] = [&](CDialog& dialog) {
        EXPECT_EQ(Rows(dialog, res::IDC_NAME_LIST),
                  (std::vector<std::string>{"first card", "second card", "third card"}));
        offered = dialog.ItemText(res::IDC_NAME_EDIT);
        EXPECT_EQ(dialog.ListSelection(res::IDC_NAME_LIST), -1);
        ClickListRow(dialog, res::IDC_NAME_LIST, 2);
        EXPECT_EQ(dialog.ItemText(res::IDC_NAME_EDIT), "third card");
        Press(dialog, res::IDOK);
        auto& cards = static_cast<CLanCardDlg&>(dialog);
        EXPECT_EQ(cards.EditText(), "third card");
        EXPECT_EQ(cards.ChosenListText(), "third card");
        return res::IDOK;
    };
    ASSERT_EQ(rig.Start(), 0);
    EXPECT_EQ(offered, "first card");
    MacAddress third = LAB_ADAPTER_ADDRESS;
    third[5] = static_cast<std::uint8_t>(third[5] + 2);
    EXPECT_EQ(rig.OpenedAdapter(), third);
}

TEST(DialogStartupTest, TypingIntoTheEditDoesNotChooseTheCard)
{
    DialogRig rig({"first card", "second card"});
    rig.Runner.Scripts[res::IDD_LAN_CARD] = [](CDialog& dialog) {
        ClickListRow(dialog, res::IDC_NAME_LIST, 1);
        dialog.SetItemText(res::IDC_NAME_EDIT, "first card");
        Press(dialog, res::IDOK);
        return res::IDOK;
    };
    ASSERT_EQ(rig.Start(), 0);
    MacAddress second = LAB_ADAPTER_ADDRESS;
    second[5] = static_cast<std::uint8_t>(second[5] + 1);
    EXPECT_EQ(rig.OpenedAdapter(), second);
}

TEST_F(DialogFlowTest, PrepareEnablesWhatTheSelectionAllowsAndShowsIt)
{
    struct Case {
        std::string Target;
        std::string Image;
        bool Upgrade;
        bool ViewTarget;
        bool ViewFile;
    };
    const std::vector<Case> cases = {
        {"", "", false, false, false},
        {"", "/images/a.bin", false, false, true},
        {"QV1A2B3C", "", false, true, false},
        {"QV1A2B3C", "/images/a.bin", true, true, true},
    };
    for (const Case& c : cases) {
        rig.Network->State().SelectedTarget = c.Target;
        rig.Document.ImagePath = c.Image;
        rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
            DialogWindow& window = dialog.Window();
            EXPECT_EQ(window.IsItemEnabled(res::IDC_UPGRADE), c.Upgrade) << c.Target << c.Image;
            EXPECT_EQ(window.IsItemEnabled(res::IDC_VIEW_TARGET_INFO), c.ViewTarget);
            EXPECT_EQ(window.IsItemEnabled(res::IDC_VIEW_FILE_INFO), c.ViewFile);
            EXPECT_TRUE(window.IsItemEnabled(res::IDCANCEL));
            EXPECT_EQ(dialog.ItemText(res::IDC_DEVICE_FOR_UPGRADE), c.Target);
            EXPECT_EQ(dialog.ItemText(res::IDC_FILE_FOR_UPGRADE), c.Image);
            if (!c.Upgrade) {
                // A disabled button takes no click.
                Press(dialog, res::IDC_UPGRADE);
                EXPECT_EQ(static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window(), nullptr);
            }
            return res::IDCANCEL;
        };
        RunPrepareUpgrade(*rig.Context);
    }
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(DialogFlowTest, UpgradeEndsFinishedInTheProgressWindowWhichCloseHides)
{
    rig.Network->State().SelectedTarget = "QV1A2B3C";
    rig.Document.ImagePath = rig.WriteImage("small.bin", SmallImage());
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(dialog);
        CDialog* progress = PressUpgrade(dialog);
        if (progress == nullptr) {
            return res::IDCANCEL;
        }
        EXPECT_TRUE(progress->Window().IsShown());
        EXPECT_EQ(progress->ItemText(res::IDC_STATUS_TEXT), "Upgrade Finish");
        EXPECT_EQ(progress->ItemText(res::IDC_PERCENT_TEXT), "52 %");
        Press(*progress, res::IDC_CLOSE_PROGRESS);
        EXPECT_FALSE(progress->Window().IsShown());
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(prepare.Progress().Window(), progress) << "the second upgrade reuses it";
        EXPECT_TRUE(progress->Window().IsShown());
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(*rig.Context);
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(DialogFlowTest, PrepareViewButtonsOpenTheInformationDialogs)
{
    rig.Network->State().SelectedTarget = "QV1A2B3C";
    rig.Document.ImagePath = rig.WriteImage("small.bin", SmallImage());
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        Press(dialog, res::IDC_VIEW_FILE_INFO);
        Press(dialog, res::IDC_VIEW_TARGET_INFO);
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(*rig.Context);
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_PREPARE_UPGRADE, res::IDD_FILE_INFO,
                                                   res::IDD_DEVICE_INFO}));
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(DialogFlowTest, MismatchIsAMessageAndNoProgressWindow)
{
    rig.Network->State().SelectedTarget = "QV000007";
    rig.Document.ImagePath = rig.WriteImage("small.bin", SmallImage());
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window(), nullptr);
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(*rig.Context);
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_HARDWARE_MISMATCH)});
}

}  // namespace
}  // namespace tarvik::testing
