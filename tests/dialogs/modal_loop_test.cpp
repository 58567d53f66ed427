// The dialogs in the program's own modal loops, with its own port, under whichever renderer the
// tests are built with: what the user can reach while a dialog is up (modal means modal), the
// cursor over work started inside a dialog, and the keys the dialog manager gives meaning to.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dialogs/browse_target_dlg.h"
#include "dialogs/dialog_rig.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

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
    DialogContext context{*rig.Network, rig.Network->State(), *port,
                          rig.Runner,   rig.Document,         nullptr};
};

TEST_F(ProgramLoopTest, NoInputReachesPrepareWhileAnInformationDialogIsUp)
{
    CDialog* prepare = nullptr;
    int tries = 0;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](CDialog& /*information*/) {
        // Once: where the clicks get through, each would open another dialog that tries again.
        if (tries++ == 0) {
            Press(*prepare, res::IDC_UPGRADE);
            Press(*prepare, res::IDC_VIEW_FILE_INFO);
            Press(*prepare, res::IDCANCEL);
        }
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
        if (shown.size() == 1) {
            ClickListRow(*browse, res::IDC_NAME_LIST,
                         RowOf(*browse, res::IDC_NAME_LIST, "QV000007"));
            Press(*browse, res::IDOK);
        }
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
    rig.Network->State().SelectedTarget = "QV1A2B3C";
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
        CDialog* progress = PressUpgrade(dialog);
        if (progress == nullptr) {
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

// What the user sees of a transfer while it runs, tick by tick of the simulated clock: the
// ticks with the progress window up, and those of them with Prepare For Upgrade gone. Held by
// the clock's pending action, so that one left over after the test touches nothing freed.
struct TransferWatch {
    CPrepareUpgradeDlg* Dialog = nullptr;
    int TicksShown = 0;
    int TicksWithoutDialog = 0;
};

void WatchTransfer(SimKernel& clock, const std::shared_ptr<TransferWatch>& watch)
{
    if (watch->Dialog == nullptr) {
        return;
    }
    CDialog* progress = watch->Dialog->Progress().Window();
    if (progress != nullptr && progress->Window().IsShown()) {
        ++watch->TicksShown;
        if (!watch->Dialog->Window().IsShown()) {
            ++watch->TicksWithoutDialog;
        }
    }
    clock.Schedule(1, [&clock, watch] { WatchTransfer(clock, watch); });
}

// The user clicks Upgrade and at once closes the dialog, both before the program has taken
// the first click: the close waits in the queue behind the transfer, which holds the thread.
// The upgrade runs to its end with the dialog up, and only then does the close act.
class QueuedCloseTest : public ProgramLoopTest {
protected:
    void UpgradeThenClose(void (*close)(CDialog&))
    {
        CPrepareUpgradeDlg dialog(context);
        const auto watch = std::make_shared<TransferWatch>();
        rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& /*prepare*/) {
            watch->Dialog = &dialog;
            WatchTransfer(rig.Clock, watch);
            QueueClick(dialog, res::IDC_UPGRADE);
            close(dialog);
            EXPECT_EQ(dialog.Progress().Window(), nullptr) << "a queued click acted at once";
            return 0;
        };
        EXPECT_EQ(dialog.DoModal(context.Runner), res::IDCANCEL);
        watch->Dialog = nullptr;
        EXPECT_FALSE(dialog.Window().IsShown());
        CDialog* progress = dialog.Progress().Window();
        ASSERT_NE(progress, nullptr) << "the upgrade did not run";
        EXPECT_GT(watch->TicksShown, 0);
        EXPECT_EQ(watch->TicksWithoutDialog, 0) << "the dialog closed during the transfer";
        EXPECT_EQ(progress->ItemText(res::IDC_STATUS_TEXT), "Upgrade Finish");
    }
};

TEST_F(QueuedCloseTest, CancelClickedBehindUpgradeActsAfterTheTransfer)
{
    UpgradeThenClose([](CDialog& dialog) { QueueClick(dialog, res::IDCANCEL); });
}

TEST_F(QueuedCloseTest, TheCloseBoxClickedBehindUpgradeActsAfterTheTransfer)
{
    UpgradeThenClose(&QueueCloseBox);
}

// Enter with the focus in a box goes to the dialog's default button, which for Prepare For
// Upgrade is the last the template gives the default style: View File Infomation, when it is
// enabled; never Upgrade.
TEST_F(ProgramLoopTest, EnterInAnEditBoxPressesTheDefaultButtonWhenItIsEnabled)
{
    for (const bool fileSelected : {true, false}) {
        rig.Runner.Opened.clear();
        rig.Document.ImagePath = fileSelected ? rig.WriteImage("small.bin", SmallImage()) : "";
        rig.Runner.Scripts[res::IDD_FILE_INFO] = [](CDialog& /*information*/) { return res::IDOK; };
        rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
            for (const int box : {res::IDC_FILE_FOR_UPGRADE, res::IDC_DEVICE_FOR_UPGRADE}) {
                FocusItem(dialog, box);
                PressKey(dialog, UserKey::Enter);
                EXPECT_TRUE(dialog.Window().IsShown()) << box;
            }
            EXPECT_EQ(static_cast<CPrepareUpgradeDlg&>(dialog).Progress().Window(), nullptr);
            return res::IDCANCEL;
        };
        RunPrepareUpgrade(context);
        const std::vector<int> expected =
            fileSelected
                ? std::vector<int>{res::IDD_PREPARE_UPGRADE, res::IDD_FILE_INFO, res::IDD_FILE_INFO}
                : std::vector<int>{res::IDD_PREPARE_UPGRADE};
        EXPECT_EQ(rig.Runner.Opened, expected) << "file selected: " << fileSelected;
    }
}

TEST_F(ProgramLoopTest, BrowseKeepsTheClickedNameThroughEscapeAndTabbingChoosesNothing)
{
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](CDialog& dialog) {
        // Tab from OK into the list: the caret comes with the focus, no selection does.
        PressKey(dialog, UserKey::Tab);
        EXPECT_TRUE(rig.Network->State().SelectedTarget.empty());
        EXPECT_EQ(dialog.ItemText(res::IDC_NAME_EDIT), "");
        ClickListRow(dialog, res::IDC_NAME_LIST, RowOf(dialog, res::IDC_NAME_LIST, "QV1A2B3C"));
        EXPECT_EQ(dialog.ItemText(res::IDC_NAME_EDIT), "QV1A2B3C");
        PressKey(dialog, UserKey::Escape);
        return 0;
    };
    RunBrowseTarget(context);
    EXPECT_EQ(rig.Network->State().SelectedTarget, "QV1A2B3C");
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_BROWSE_TARGET});
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
