// Browse Target: the choice is emptied on opening, the answering targets are listed, the
// picked name becomes SelectedTarget, and OK shows that device before closing.

#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/qt/kelbrin_view.h"
#include "app_harness.h"
#include "commands/outcomes.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

QStringList Items(TemplateDialog& dialog)
{
    QStringList items;
    QListWidget* list = dialog.List(res::IDC_NAME_LIST);
    for (int i = 0; i < list->count(); ++i) {
        items.append(list->item(i)->text());
    }
    return items;
}

int Row(TemplateDialog& dialog, const QString& name)
{
    return static_cast<int>(Items(dialog).indexOf(name));
}

class BrowseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }

    void Browse(ScriptedRunner::Script script)
    {
        rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = std::move(script);
        rig.Frame().View()->OnBrowseTarget();
        EXPECT_EQ(rig.Port.WaitDepth, 0);
    }

    AppRig rig;
};

TEST_F(BrowseTest, OpeningEmptiesTheChoiceAndListsEveryTarget)
{
    rig.State().SelectedTarget = "QV1A2B3C";
    Browse([&](TemplateDialog& dialog) {
        EXPECT_TRUE(rig.State().SelectedTarget.empty());
        // 021122334455 answers typed frames only, and the untyped pass found the others.
        EXPECT_EQ(Items(dialog), (QStringList{"QV000007", "QV1A2B3C"}));
        EXPECT_TRUE(dialog.Edit(res::IDC_NAME_EDIT)->text().isEmpty());
        EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::IDOK));
        EXPECT_GT(rig.Port.DeepestWait, 0) << "discovery runs under the wait cursor";
        return QDialog::Rejected;
    });
    EXPECT_TRUE(rig.State().SelectedTarget.empty()) << "cancel restores nothing";
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(BrowseTest, SelectionGoesToTheEditAndTheChoiceAndSurvivesEscape)
{
    Browse([&](TemplateDialog& dialog) {
        dialog.show();
        ClickListItem(dialog, res::IDC_NAME_LIST, Row(dialog, "QV1A2B3C"));
        EXPECT_EQ(dialog.Edit(res::IDC_NAME_EDIT)->text(), "QV1A2B3C");
        EXPECT_EQ(rig.State().SelectedTarget, "QV1A2B3C");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        return dialog.result();
    });
    EXPECT_EQ(rig.State().SelectedTarget, "QV1A2B3C");
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_BROWSE_TARGET});
}

TEST_F(BrowseTest, OkShowsTheLastChosenDeviceBeforeClosing)
{
    QString shownName;
    rig.Runner.Scripts[res::IDD_DEVICE_INFO] = [&](TemplateDialog& dialog) {
        shownName = dialog.Edit(res::IDC_DEVICE_NAME)->text();
        return QDialog::Accepted;
    };
    bool closedBeforeInformation = true;
    Browse([&](TemplateDialog& dialog) {
        dialog.List(res::IDC_NAME_LIST)->setCurrentRow(Row(dialog, "QV1A2B3C"));
        dialog.List(res::IDC_NAME_LIST)->setCurrentRow(Row(dialog, "QV000007"));
        Press(dialog, res::IDOK);
        closedBeforeInformation = shownName.isEmpty();
        return dialog.result();
    });
    EXPECT_FALSE(closedBeforeInformation);
    EXPECT_EQ(shownName, "QV000007");
    EXPECT_EQ(rig.State().SelectedTarget, "QV000007");
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_BROWSE_TARGET, res::IDD_DEVICE_INFO}));
}

TEST_F(BrowseTest, OkWithNothingChosenOpensNoInformation)
{
    Browse([&](TemplateDialog& dialog) {
        Press(dialog, res::IDOK);
        return dialog.result();
    });
    EXPECT_EQ(rig.Runner.Opened, std::vector<int>{res::IDD_BROWSE_TARGET});
    EXPECT_TRUE(rig.State().SelectedTarget.empty());
}

TEST_F(BrowseTest, TabbingIntoTheListChoosesNothing)
{
    Browse([&](TemplateDialog& dialog) {
        QApplication::setActiveWindow(&dialog);
        dialog.show();
        dialog.List(res::IDC_NAME_LIST)->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(rig.State().SelectedTarget.empty());
        EXPECT_TRUE(dialog.Edit(res::IDC_NAME_EDIT)->text().isEmpty());
        return QDialog::Rejected;
    });
}

TEST(BrowseWithoutAdapterTest, BroadcastErrorThenAnEmptyList)
{
    AppRig rig(std::vector<CardSpec>{{"lab0", "lab"}}, VER_PLATFORM_WIN32s);
    ASSERT_EQ(rig.Start(), 0);
    rig.Port.Messages.clear();
    rig.Log.clear();
    rig.State().SelectedTarget = "QV1A2B3C";
    int listed = -1;
    rig.Runner.Scripts[res::IDD_BROWSE_TARGET] = [&](TemplateDialog& dialog) {
        listed = dialog.List(res::IDC_NAME_LIST)->count();
        return QDialog::Rejected;
    };
    rig.Frame().View()->OnBrowseTarget();
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(rig.Log, (EventLog{"message:" + std::string(MSG_BROADCAST_ERROR), "dialog:141"}));
    EXPECT_TRUE(rig.State().SelectedTarget.empty());
}

}  // namespace
}  // namespace tarvik::testing
