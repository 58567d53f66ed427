// Start-up: the adapter comes up before the main window is shown, with the selection dialog
// only when there is a choice; a failed start ends the program before any window appears.

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

#include "app_harness.h"
#include "commands/outcomes.h"
#include "commands/startup.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

MacAddress OpenedAdapterAddress(AppRig& rig)
{
    MacAddress address{};
    EXPECT_EQ(rig.App().AdapterBinding().QueryStationAddress(address.data()), 0);
    return address;
}

bool AnyTopLevelVisible()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            return true;
        }
    }
    return false;
}

TEST(StartupTest, OneAdapterOpensWithoutAskingAndShowsTheWindow)
{
    AppRig rig;
    ASSERT_EQ(rig.Start(), 0);
    EXPECT_TRUE(rig.Runner.Opened.empty());
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_TRUE(rig.App().AdapterBinding().ReceptionStarted());
    EXPECT_EQ(OpenedAdapterAddress(rig), LabAdapterAddress(0));
    EXPECT_TRUE(rig.Frame().isVisible());
    EXPECT_FALSE(rig.Frame().isMaximized());
    EXPECT_FALSE(rig.Frame().isMinimized());
}

TEST(StartupTest, SelectionDialogComesBeforeTheWindowAndOffersTheCardsInOrder)
{
    AppRig rig({{"lab0", "first card"}, {"lab1", "second card"}, {"lab2", "third card"}});
    bool windowAlreadyShown = true;
    rig.Runner.Scripts[res::IDD_LAN_CARD] = [&](TemplateDialog& dialog) {
        windowAlreadyShown = AnyTopLevelVisible() && !dialog.isVisible();
        QListWidget* list = dialog.List(res::IDC_NAME_LIST);
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->item(0)->text(), "first card");
        EXPECT_EQ(list->item(2)->text(), "third card");
        EXPECT_EQ(dialog.Edit(res::IDC_NAME_EDIT)->text(), "first card");
        EXPECT_TRUE(list->selectedItems().isEmpty());
        EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::IDOK));
        Press(dialog, res::IDOK);
        return dialog.result();
    };
    ASSERT_EQ(rig.Start(), 0);
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_LAN_CARD});
    EXPECT_FALSE(windowAlreadyShown);
    EXPECT_EQ(OpenedAdapterAddress(rig), LabAdapterAddress(0));
}

TEST(StartupTest, NoCardEndsTheProgramWithAMessageAndNoWindow)
{
    AppRig rig(std::vector<CardSpec>{});
    EXPECT_EQ(rig.Start(), 30) << "the status tarvik-cli ends with for the same failure";
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_NO_LAN_CARD)});
    EXPECT_EQ(rig.App().MainFrame(), nullptr);
    EXPECT_FALSE(AnyTopLevelVisible());
}

TEST(StartupTest, AnAdapterThatWillNotOpenEndsTheProgram)
{
    AppRig rig(std::vector<CardSpec>{{"lab0", "lab"}});
    rig.Segment->Driver().FailOpens(true);
    EXPECT_EQ(rig.Start(), 31) << "the status tarvik-cli ends with for the same failure";
    EXPECT_NE(rig.App().StartupResult(), STARTUP_READY);
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_OPEN_ADAPTER_FAIL)});
    EXPECT_EQ(rig.App().MainFrame(), nullptr);
    EXPECT_EQ(rig.App().AdapterBinding().AdapterHandle, INVALID_ADAPTER);
}

TEST(StartupTest, UnsupportedSystemRunsOnWithoutAnAdapter)
{
    AppRig rig(std::vector<CardSpec>{{"lab0", "lab"}}, VER_PLATFORM_WIN32s);
    ASSERT_EQ(rig.Start(), 0);
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_OS_NOT_SUPPORTED)});
    EXPECT_TRUE(rig.Frame().isVisible());
    EXPECT_EQ(rig.App().AdapterBinding().AdapterHandle, INVALID_ADAPTER);

    // Closing tears down nothing and ends normally.
    rig.Frame().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.App().MainFrame(), nullptr);
}

TEST(StartupTest, ClosingTheWindowTakesTheAdapterDown)
{
    AppRig rig;
    ASSERT_EQ(rig.Start(), 0);
    ASSERT_TRUE(rig.App().AdapterBinding().ReceptionStarted());
    ASSERT_GT(rig.Clock.OpenEvents(), 0U);

    rig.Frame().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rig.App().MainFrame(), nullptr);
    EXPECT_EQ(rig.App().AdapterBinding().AdapterHandle, INVALID_ADAPTER);
    EXPECT_FALSE(rig.App().AdapterBinding().ReceptionStarted());
    EXPECT_EQ(rig.App().AdapterBinding().RequestEvent, NO_EVENT);
    EXPECT_EQ(rig.Clock.OpenEvents(), 0U);
}

}  // namespace
}  // namespace tarvik::testing
