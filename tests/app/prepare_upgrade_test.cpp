// Prepare For Upgrade and the progress window: the buttons the selection allows, an upgrade
// followed phase by phase in the progress window (painted as it goes, since the transfer holds
// the thread), the window reused by a second upgrade, and checks that stop before it exists.

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include "desktop/qt/kelbrin_view.h"
#include "app_harness.h"
#include "commands/outcomes.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/resource_ids.h"

namespace tarvik::testing {
namespace {

// Records, in order, what the progress window's texts and bar showed each time they were
// painted.
class PaintRecorder final : public QObject {
public:
    PaintRecorder() { QCoreApplication::instance()->installEventFilter(this); }
    ~PaintRecorder() override { QCoreApplication::instance()->removeEventFilter(this); }

    std::vector<QString> Status;
    std::vector<QString> Percent;
    std::vector<int> Bar;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint) {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window()->objectName() != "dialog133") {
            return false;
        }
        if (watched->objectName() == "id1004") {
            Note(Status, static_cast<QLabel*>(widget)->text());
        } else if (watched->objectName() == "id1005") {
            Note(Percent, static_cast<QLabel*>(widget)->text());
        } else if (watched->objectName() == "id1002") {
            Note(Bar, static_cast<QProgressBar*>(widget)->value());
        }
        return false;
    }

private:
    template <typename T>
    static void Note(std::vector<T>& seen, const T& value)
    {
        if (seen.empty() || seen.back() != value) {
            seen.push_back(value);
        }
    }
};

class PrepareUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }

    // 1000 bytes: two blocks written and verified; the bar ends at 512 * 100 / 1000 = 51.
    std::string SmallImage()
    {
        ImageSpec spec = SampleImageSpec();
        spec.Size = 1000;
        return rig.WriteImage("small.bin", spec);
    }

    void OpenPrepare(ScriptedRunner::Script script)
    {
        rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = std::move(script);
        rig.Frame().View()->OnPrepareUpgrade();
        EXPECT_EQ(rig.Port.WaitDepth, 0);
    }

    AppRig rig;
};

struct Enabled {
    bool Upgrade;
    bool ViewTarget;
    bool ViewFile;
    bool operator==(const Enabled&) const = default;
};

TEST_F(PrepareUpgradeTest, ButtonsFollowWhatIsSelected)
{
    struct Case {
        std::string Target;
        std::string Image;
        Enabled Expected;
    };
    const std::vector<Case> cases = {
        {"", "", {false, false, false}},
        {"", "/images/a.bin", {false, false, true}},
        {"QV1A2B3C", "", {false, true, false}},
        {"QV1A2B3C", "/images/a.bin", {true, true, true}},
    };
    for (const Case& c : cases) {
        rig.State().SelectedTarget = c.Target;
        rig.Document().ImagePath = c.Image;
        OpenPrepare([&](TemplateDialog& dialog) {
            const Enabled shown{dialog.Button(res::IDC_UPGRADE)->isEnabled(),
                                dialog.Button(res::IDC_VIEW_TARGET_INFO)->isEnabled(),
                                dialog.Button(res::IDC_VIEW_FILE_INFO)->isEnabled()};
            EXPECT_EQ(shown, c.Expected) << "target '" << c.Target << "' image '" << c.Image << "'";
            EXPECT_TRUE(dialog.Button(res::IDCANCEL)->isEnabled());
            EXPECT_EQ(dialog.Edit(res::IDC_DEVICE_FOR_UPGRADE)->text().toStdString(), c.Target);
            EXPECT_EQ(dialog.Edit(res::IDC_FILE_FOR_UPGRADE)->text().toStdString(), c.Image);
            return QDialog::Rejected;
        });
    }
    EXPECT_TRUE(rig.Port.Messages.empty());
}

TEST_F(PrepareUpgradeTest, UpgradeShowsEveryPhaseAndEndsFinished)
{
    rig.State().SelectedTarget = "QV1A2B3C";
    rig.Document().ImagePath = SmallImage();
    PaintRecorder painted;
    TemplateDialog* window = nullptr;
    OpenPrepare([&](TemplateDialog& dialog) {
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(*dialog.Handler());
        EXPECT_EQ(prepare.Progress().Window(), nullptr);
        Press(dialog, res::IDC_UPGRADE);
        window = prepare.Progress().Window() ? &QtWindow(*prepare.Progress().Window()) : nullptr;
        EXPECT_NE(window, nullptr);
        if (window != nullptr) {
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(window->Label(res::IDC_STATUS_TEXT)->text(), "Upgrade Finish");
            EXPECT_EQ(window->Label(res::IDC_PERCENT_TEXT)->text(), "52 %");
            EXPECT_EQ(window->Bar(res::IDC_PROGRESS_BAR)->value(), 51);
            EXPECT_EQ(window->Bar(res::IDC_PROGRESS_BAR)->maximum(), 100);
        }
        return QDialog::Rejected;
    });
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(painted.Status,
              (std::vector<QString>{"", "Erasing EEPROM...", "Upgrade...", "Verify Target...",
                                    "Reseting Target...", "Upgrade Finish"}));
    EXPECT_EQ(painted.Percent, (std::vector<QString>{"", "51 %", "52 %"}));
    EXPECT_EQ(painted.Bar, (std::vector<int>{0, 51}));
    EXPECT_TRUE(rig.Segment->FindTarget({0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C})->Device().WasReset());
}

TEST_F(PrepareUpgradeTest, SecondUpgradeEmptiesAndReusesTheSameWindow)
{
    rig.State().SelectedTarget = "QV1A2B3C";
    rig.Document().ImagePath = SmallImage();
    PaintRecorder painted;
    OpenPrepare([&](TemplateDialog& dialog) {
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(*dialog.Handler());
        Press(dialog, res::IDC_UPGRADE);
        CDialog* firstDialog = prepare.Progress().Window();
        if (firstDialog == nullptr) {
            ADD_FAILURE() << "no progress window";
            return QDialog::Rejected;
        }
        TemplateDialog* first = &QtWindow(*firstDialog);
        Press(*first, res::IDC_CLOSE_PROGRESS);
        EXPECT_FALSE(first->isVisible());

        painted.Status.clear();
        painted.Bar.clear();
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(prepare.Progress().Window(), firstDialog);
        EXPECT_TRUE(first->isVisible());
        EXPECT_EQ(first->Label(res::IDC_STATUS_TEXT)->text(), "Upgrade Finish");
        return QDialog::Rejected;
    });
    ASSERT_FALSE(painted.Status.empty());
    EXPECT_EQ(painted.Status.front(), "");
    ASSERT_FALSE(painted.Bar.empty());
    EXPECT_EQ(painted.Bar.front(), 0);
    EXPECT_EQ(rig.Frame().findChildren<QDialog*>("dialog133").size(), 0)
        << "the progress window goes with the Prepare dialog";
}

TEST_F(PrepareUpgradeTest, MismatchStopsBeforeTheProgressWindowExists)
{
    rig.State().SelectedTarget = "QV000007";
    rig.Document().ImagePath = SmallImage();
    OpenPrepare([&](TemplateDialog& dialog) {
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(static_cast<CPrepareUpgradeDlg&>(*dialog.Handler()).Progress().Window(), nullptr);
        return QDialog::Rejected;
    });
    EXPECT_EQ(rig.Port.Messages, std::vector<std::string>{std::string(MSG_HARDWARE_MISMATCH)});
}

TEST_F(PrepareUpgradeTest, ViewButtonsOpenTheInformationDialogs)
{
    rig.State().SelectedTarget = "QV1A2B3C";
    rig.Document().ImagePath = SmallImage();
    OpenPrepare([&](TemplateDialog& dialog) {
        Press(dialog, res::IDC_VIEW_FILE_INFO);
        Press(dialog, res::IDC_VIEW_TARGET_INFO);
        return QDialog::Rejected;
    });
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_PREPARE_UPGRADE, res::IDD_FILE_INFO,
                                                   res::IDD_DEVICE_INFO}));
    EXPECT_TRUE(rig.Port.Messages.empty());
}

}  // namespace
}  // namespace tarvik::testing
