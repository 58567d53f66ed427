// The Qt progress window while a transfer holds the thread: each phase is painted as it comes
// (no event loop runs meanwhile), and a second transfer empties the same window before it
// shows it again.

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <gtest/gtest.h>

#include "dialogs/dialog_rig.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "dialogs/qt/template_dialog.h"
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

class QtProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(rig.Start(), 0);
        rig.Network->State().SelectedTarget = "QV1A2B3C";
        rig.Document.ImagePath = rig.WriteImage("small.bin", SmallImage());
    }
    DialogRig rig;
};

TEST_F(QtProgressTest, UpgradePaintsEveryPhaseAndEndsFinished)
{
    PaintRecorder painted;
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        CDialog* progress = PressUpgrade(dialog);
        if (progress == nullptr) {
            return res::IDCANCEL;
        }
        TemplateDialog& window = QtWindow(*progress);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.Bar(res::IDC_PROGRESS_BAR)->value(), 51);
        EXPECT_EQ(window.Bar(res::IDC_PROGRESS_BAR)->maximum(), 100);
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(*rig.Context);
    EXPECT_TRUE(rig.Port.Messages.empty());
    EXPECT_EQ(painted.Status,
              (std::vector<QString>{"", "Erasing EEPROM...", "Upgrade...", "Verify Target...",
                                    "Reseting Target...", "Upgrade Finish"}));
    EXPECT_EQ(painted.Percent, (std::vector<QString>{"", "51 %", "52 %"}));
    EXPECT_EQ(painted.Bar, (std::vector<int>{0, 51}));
    EXPECT_TRUE(rig.Segment->FindTarget({0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C})->Device().WasReset());
}

TEST_F(QtProgressTest, SecondUpgradeEmptiesTheSameWindowFirstAndItGoesWithPrepare)
{
    PaintRecorder painted;
    QPointer<TemplateDialog> first;
    rig.Runner.Scripts[res::IDD_PREPARE_UPGRADE] = [&](CDialog& dialog) {
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(dialog);
        CDialog* progress = PressUpgrade(dialog);
        if (progress == nullptr) {
            return res::IDCANCEL;
        }
        first = &QtWindow(*progress);
        Press(*progress, res::IDC_CLOSE_PROGRESS);
        painted.Status.clear();
        painted.Bar.clear();
        Press(dialog, res::IDC_UPGRADE);
        EXPECT_EQ(&QtWindow(*prepare.Progress().Window()), first.data());
        return res::IDCANCEL;
    };
    RunPrepareUpgrade(*rig.Context);
    ASSERT_FALSE(painted.Status.empty());
    EXPECT_EQ(painted.Status.front(), "");
    ASSERT_FALSE(painted.Bar.empty());
    EXPECT_EQ(painted.Bar.front(), 0);
    EXPECT_TRUE(first.isNull()) << "the progress window goes with the Prepare dialog";
}

}  // namespace
}  // namespace tarvik::testing
