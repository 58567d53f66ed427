// The dialog classes through the control API, the way a user drives them, under whichever
// renderer the tests are built with (Qt on Linux, Win32 under Wine): what each dialog shows,
// what the user's choice changes, and which dialog or message follows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/outcomes.h"
#include "dialogs/browse_target_dlg.h"
#include "dialogs/dialog_rig.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/lan_card_dlg.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

std::vector<std::string> Rows(const CDialog& dialog, int listId)
{
    std::vector<std::string> rows;
    for (int row = 0; row < dialog.ListCount(listId); ++row) {
        rows.push_back(dialog.ListText(listId, row));
    }
    return rows;
}

int RowOf(const CDialog& dialog, int listId, const std::string& text)
{
    const std::vector<std::string> rows = Rows(dialog, listId);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (rows[row] == text) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

// 1000 bytes: two blocks written and verified; the bar ends at 512 * 100 / 1000 = 51.
ImageSpec SmallImage()
{
    ImageSpec spec = SampleImageSpec();
    spec.Size = 1000;
    return spec;
}

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
        Press(dialog, res::IDC_UPGRADE);
        CDialog* progress = prepare.Progress().Window();
        if (progress == nullptr) {
            ADD_FAILURE() << "no progress window";
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

TEST_F(DialogFlowTest, SelectBinFileShowsEveryFieldAndCancelForgetsTheFile)
{
    const ImageSpec spec = SampleImageSpec();
    const std::string path = rig.WriteImage("sample.bin", spec);
    std::vector<std::pair<int, std::string>> shown;
    rig.Runner.Scripts[res::IDD_FILE_INFO] = [&](CDialog& dialog) {
        shown.emplace_back(res::IDC_FILE_NAME, dialog.ItemText(res::IDC_FILE_NAME));
        for (const auto& [box, field] : DescriptorBoxes()) {
            shown.emplace_back(box, dialog.ItemText(box));
        }
        return res::IDOK;
    };
    RunSelectBinFile(*rig.Context, path);
    std::vector<std::pair<int, std::string>> expected = {{res::IDC_FILE_NAME, path}};
    for (const auto& [box, field] : DescriptorBoxes()) {
        expected.emplace_back(box, FormatField(spec.Descriptor, field));
    }
    EXPECT_EQ(shown, expected);

    RunSelectBinFile(*rig.Context, std::nullopt);
    EXPECT_TRUE(rig.Document.ImagePath.empty());
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_FILE_INFO});
}

// The dialogs in the program's own modal loops, with its own port: what the user can reach
// while a dialog is up, and the cursor the work started inside one runs under.
class ProgramLoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(rig.Start(), 0);
        rig.Runner.Program = runner.get();
        rig.Network->State().SelectedTarget = "QV1A2B3C";
        rig.Document.ImagePath = rig.WriteImage("small.bin", SmallImage());
    }

    DialogRig rig;
    std::unique_ptr<CommandPort> port = MakeProgramPort();
    std::unique_ptr<DialogRunner> runner = MakeProgramRunner(*port);
    DialogContext context{rig.Network->State(), *port, rig.Runner, rig.Document, nullptr};
};

TEST_F(ProgramLoopTest, NoInputReachesPrepareWhileAnInformationDialogIsUp)
{
    CDialog* prepare = nullptr;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& /*information*/) {
        Press(*prepare, res::IDC_UPGRADE);
        Press(*prepare, res::IDC_VIEW_FILE_INFO);
        Press(*prepare, res::IDCANCEL);
        return res::IDOK;
    };
    rig.Runner.Scripts[res::IDD_FILE_INFO] = rig.Runner.Scripts[res::IDD_DEVICE_INFO];
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        prepare = &dialog;
        Press(dialog, res::IDC_VIEW_TARGET_INFO);
        Press(dialog, res::IDC_VIEW_FILE_INFO);
        EXPECT_EQ(static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window(), nullptr)
            << "an Upgrade went through under an information dialog";
        // Usable again once the information is closed.
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_NE(static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window(), nullptr);
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(context);
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_PREPARE_UPGRADE, res::IDD_DEVICE_INFO,
                                                   res::IDD_FILE_INFO}));
}

TEST_F(ProgramLoopTest, NoInputReachesBrowseWhileTheDeviceInformationIsUp)
{
    CDialog* browse = nullptr;
    std::vector<std::string> shown;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& information) {
        shown.push_back(information.ItemText(res::IDC_DEVICE_NAME));
        ClickListRow(*browse, res::IDC_NAME_LIST, RowOf(*browse, res::IDC_NAME_LIST, "QV000007"));
        Press(*browse, res::IDOK);
        return res::IDOK;
    };
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        browse = &dialog;
        ClickListRow(dialog, res::IDC_NAME_LIST, RowOf(dialog, res::IDC_NAME_LIST, "QV1A2B3C"));
        Press(dialog, res::IDOK);
        return 0;
    };
    RunBrowseTarget(context);
    EXPECT_EQ(shown, std::vector<std::string>{"QV1A2B3C"});
    EXPECT_EQ(rig.Network->State().SelectedTarget, "QV1A2B3C");
}

TEST_F(ProgramLoopTest, WorkStartedInsideADialogRunsUnderTheWaitCursor)
{
    std::vector<std::string> seen;
    const auto note = [&](const std::string& what) {
        seen.push_back(what + (WaitCursorShown() ? ": wait" : ": arrow"));
    };
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& /*information*/) {
        note("information");
        return res::IDOK;
    };
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& /*browse*/) {
        note("browse");
        return res::IDCANCEL;
    };
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        note("prepare");
        rig.Clock.Schedule(1, [&] { note("device query"); });
        Press(dialog, res::IDC_VIEW_TARGET_INFO);
        rig.Clock.Schedule(1, [&] { note("transfer"); });
        Press(dialog, res::IDC_UPGRADE);
        note("after the transfer");
        return res::IDCANCEL;
    };
    rig.Clock.Schedule(1, [&] { note("discovery"); });
    RunBrowseTarget(context);
    RunPrepareUpgrade(context);
    note("closed");
    EXPECT_EQ(seen, (std::vector<std::string>{"discovery: wait", "browse: arrow", "prepare: arrow",
                                              "device query: wait", "information: arrow",
                                              "transfer: wait", "after the transfer: arrow",
                                              "closed: arrow"}));
}

TEST_F(ProgramLoopTest, EscapeAndTheCloseBoxHideTheProgressWindowForTheNextUpgrade)
{
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(dialog);
        Press(dialog, res::IDC_UPGRADE);
        CDialog* progress = prepare.Progress().Window();
        if (progress == nullptr) {
            ADD_FAILURE() << "no progress window";
            return res::IDCANCEL;
        }
        PressKey(*progress, UserKey::Escape);
        EXPECT_FALSE(progress->Window().IsShown()) << "Escape";
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(prepare.Progress().Window(), progress);
        EXPECT_TRUE(progress->Window().IsShown());
        ClickCloseBox(*progress);
        EXPECT_FALSE(progress->Window().IsShown()) << "the close box";
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(prepare.Progress().Window(), progress);
        EXPECT_TRUE(progress->Window().IsShown());
        EXPECT_EQ(progress->ItemText(res::IDC_STATUS_TEXT), "Upgrade Finish");
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(context);
}

TEST(DialogStartupTest, EscapeAfterClickingTheThirdCardOpensThatCard)
{
    DialogRig rig({"first card", "second card", "third card"});
    const std::unique_ptr<CommandPort> port = MakeProgramPort();
    const std::unique_ptr<DialogRunner> runner = MakeProgramRunner(*port);
    rig.Runner.Program = runner.get();
    rig.Runner.Scripts[res::IDD_LAN_CARD] = [&](CDialog& dialog) {
        ClickListRow(dialog, res::IDC_NAME_LIST, 2);
        PressKey(dialog, UserKey::Escape);
        return 0;
    };
    ASSERT_EQ(rig.Start(), 0);
    MacAddress third = LAB_ADAPTER_ADDRESS;
    third[5] = static_cast<std::uint8_t>(third[5] + 2);
    EXPECT_EQ(rig.OpenedAdapter(), third);
}

}  // namespace
}  // namespace tarvik::testing
