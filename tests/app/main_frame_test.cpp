// The main window: menu, accelerators, toolbar and status bar as the program defines them,
// every command reaching its handler, the time pane, the picture and dropped files.

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <fstream>

#include "desktop/qt/kelbrin_view.h"
#include "app_harness.h"
#include "res/pictures.h"
#include "res/resource_ids.h"
#include "support/minisign_signer.h"

namespace tarvik::testing {
namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(rig.Start(), 0); }

    QAction* Action(int id) { return rig.Frame().Action(id); }

    AppRig rig;
};

TEST_F(MainFrameTest, MenuHoldsTheCommandsInOrderWithTheirTexts)
{
    std::vector<std::pair<QString, std::vector<std::pair<int, QString>>>> seen;
    for (QAction* popup : rig.Frame().menuBar()->actions()) {
        std::vector<std::pair<int, QString>> items;
        for (QAction* item : popup->menu()->actions()) {
            items.emplace_back(item->isSeparator() ? 0 : item->data().toInt(), item->text());
        }
        seen.emplace_back(popup->text(), items);
    }
    const decltype(seen) expected = {
        {"&File", {{57601, "&Select BIN File..."}, {0, ""}, {57665, "E&xit"}}},
        {"&Browse", {{32777, "Browse &Target..."}}},
        {"&Upgrade", {{32774, "&Prepare Upgrade..."}}},
        {"&Help", {{57664, "&About Tarvik..."}}},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(rig.Frame().windowTitle(), "Upgrade Utility - Tarvik");
}

TEST_F(MainFrameTest, AcceleratorsAreBound)
{
    const std::vector<std::pair<int, QString>> bindings = {
        {57600, "Ctrl+N"},        {57601, "Ctrl+O"}, {57603, "Ctrl+S"},    {57643, "Ctrl+Z"},
        {57643, "Alt+Backspace"}, {57635, "Ctrl+X"}, {57635, "Shift+Del"}, {57634, "Ctrl+C"},
        {57634, "Ctrl+Ins"},      {57637, "Ctrl+V"}, {57637, "Shift+Ins"}, {57680, "F6"},
        {57681, "Shift+F6"},
    };
    for (const auto& [id, keys] : bindings) {
        ASSERT_NE(Action(id), nullptr) << id;
        EXPECT_TRUE(Action(id)->shortcuts().contains(QKeySequence(keys))) << keys.toStdString();
    }
}

TEST_F(MainFrameTest, CtrlOThroughTheKeyboardRunsSelectBinFile)
{
    QApplication::setActiveWindow(&rig.Frame());
    QTest::keyClick(&rig.Frame(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(rig.FileOpen.Calls, 1);
}

TEST_F(MainFrameTest, ToolbarHasFourButtonsWithImagesTooltipsAndPrompts)
{
    QToolBar* bar = rig.Frame().ToolBar();
    const QList<QAction*> buttons = bar->actions();
    ASSERT_EQ(buttons.size(), 4);
    const std::vector<std::tuple<int, QString, QString>> expected = {
        {57601, "Select BIN File", "Select Firmware BIN File for Upgrade"},
        {32777, "Browse Target", "Browse Targets on Network"},
        {32774, "Upgrade", "Prepare for Upgrade"},
        {57665, "Exit", "Quit the application"},
    };
    for (int i = 0; i < 4; ++i) {
        const auto& [id, tooltip, prompt] = expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(buttons[i]->data().toInt(), id);
        EXPECT_EQ(buttons[i]->toolTip(), tooltip);
        EXPECT_EQ(buttons[i]->statusTip(), prompt);
        EXPECT_EQ(buttons[i]->icon().availableSizes().value(0), QSize(51, 51));
    }
    EXPECT_EQ(bar->iconSize(), QSize(51, 51));
}

TEST_F(MainFrameTest, StatusBarShowsPromptsWhileHoveredAndReadyOtherwise)
{
    QStatusBar* status = rig.Frame().statusBar();
    EXPECT_EQ(status->currentMessage(), "Ready");
    QStatusTipEvent hover(Action(res::ID_BROWSE_TARGET)->statusTip());
    QCoreApplication::sendEvent(&rig.Frame(), &hover);
    EXPECT_EQ(status->currentMessage(), "Browse Targets on Network");
    QStatusTipEvent leave{QString()};
    QCoreApplication::sendEvent(&rig.Frame(), &leave);
    EXPECT_EQ(status->currentMessage(), "Ready");
}

TEST_F(MainFrameTest, StatusBarNamesTheSignerOfTheChosenImageBetweenPrompts)
{
    const Signer signer;
    const ImageSpec spec = SampleImageSpec();
    const std::string image = rig.WriteImage("fw.bin", spec);
    std::ofstream(image + ".minisig") << signer.Sign(BuildImage(spec), "timestamp:1");
    const std::string key = rig.Directory.filePath(QStringLiteral("release.pub")).toStdString();
    std::ofstream(key) << signer.PublicKeyFile();
    rig.App().Context().Trust.KeyFiles = {key};
    rig.FileOpen.Answers = {image, std::nullopt};

    QStatusBar* status = rig.Frame().statusBar();
    Action(res::ID_FILE_OPEN)->trigger();
    const QString signedBy = QString::fromStdString("Signed by " + signer.KeyId());
    EXPECT_EQ(status->currentMessage(), signedBy);
    QStatusTipEvent hover(Action(res::ID_BROWSE_TARGET)->statusTip());
    QCoreApplication::sendEvent(&rig.Frame(), &hover);
    EXPECT_EQ(status->currentMessage(), "Browse Targets on Network");
    QStatusTipEvent leave{QString()};
    QCoreApplication::sendEvent(&rig.Frame(), &leave);
    EXPECT_EQ(status->currentMessage(), signedBy) << "the signer stands where Ready stood";

    Action(res::ID_FILE_OPEN)->trigger();  // cancelled: no image chosen
    EXPECT_EQ(status->currentMessage(), "Ready");
    EXPECT_TRUE(rig.Port.Messages.empty());
}

// Each command, given through the menu or its toolbar button, reaches the handler that shows
// its dialog (observed through the runner) or does its work.
TEST_F(MainFrameTest, EveryCommandReachesItsHandler)
{
    Action(res::ID_FILE_OPEN)->trigger();
    EXPECT_EQ(rig.FileOpen.Calls, 1);
    Action(res::ID_BROWSE_TARGET)->trigger();
    Action(res::ID_PREPARE_UPGRADE)->trigger();
    Action(res::ID_APP_ABOUT)->trigger();
    EXPECT_EQ(rig.Runner.Opened, (std::vector<int>{res::IDD_BROWSE_TARGET, res::IDD_PREPARE_UPGRADE,
                                                   res::IDD_ABOUTBOX}));

    QToolBar* bar = rig.Frame().ToolBar();
    auto click = [bar](int id) {
        for (QAction* action : bar->actions()) {
            if (action->data().toInt() == id) {
                QTest::mouseClick(bar->widgetForAction(action), Qt::LeftButton);
            }
        }
    };
    click(res::ID_FILE_OPEN);
    EXPECT_EQ(rig.FileOpen.Calls, 2);
    click(res::ID_BROWSE_TARGET);
    click(res::ID_PREPARE_UPGRADE);
    EXPECT_EQ(rig.Runner.Opened.size(), 5U);
    EXPECT_EQ(rig.Runner.Opened[3], res::IDD_BROWSE_TARGET);
    EXPECT_EQ(rig.Runner.Opened[4], res::IDD_PREPARE_UPGRADE);

    click(res::ID_APP_EXIT);
    EXPECT_FALSE(rig.App().MainFrame() != nullptr && rig.App().MainFrame()->isVisible());
}

TEST_F(MainFrameTest, AboutBoxShowsTheVersionAndIcon)
{
    QString shownText;
    rig.Runner.Scripts[res::IDD_ABOUTBOX] = [&](TemplateDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "About Tarvik");
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                shownText = label->text();
            } else {
                EXPECT_FALSE(label->pixmap().isNull());
            }
        }
        Press(dialog, res::IDOK);
        return dialog.result();
    };
    Action(res::ID_APP_ABOUT)->trigger();
    EXPECT_EQ(shownText, "Tarvik Version 1.03.002");
}

TEST_F(MainFrameTest, NewDocumentAndTheOtherAcceleratorsLeaveTheImageAlone)
{
    rig.Document().ImagePath = "/images/chosen.bin";
    rig.Document().FileDescriptor.Bytes[DESC_CODE_SIZE] = 0x12;
    const ImageDescriptor before = rig.Document().FileDescriptor;
    for (int id : {res::ID_FILE_NEW, res::ID_FILE_SAVE, res::ID_EDIT_UNDO, res::ID_EDIT_CUT,
                   res::ID_EDIT_COPY, res::ID_EDIT_PASTE, res::ID_NEXT_PANE, res::ID_PREV_PANE}) {
        Action(id)->trigger();
    }
    EXPECT_EQ(rig.Document().ImagePath, "/images/chosen.bin");
    EXPECT_EQ(rig.Document().FileDescriptor, before);
    EXPECT_TRUE(rig.Runner.Opened.empty());
    EXPECT_EQ(rig.FileOpen.Calls, 0);
    EXPECT_TRUE(rig.Frame().isVisible());
}

TEST_F(MainFrameTest, TimePaneShowsTheLocalTimeAndIsAsWideAsItsText)
{
    QLabel* pane = rig.Frame().TimePane();
    EXPECT_EQ(pane->objectName(), "id102");
    EXPECT_EQ(pane->text(), "Time");

    // The clock takes over at the first idle moment, without waiting for the timer.
    const QString before = FormatLocalTime();
    QCoreApplication::processEvents();
    const QString after = FormatLocalTime();
    EXPECT_TRUE(pane->text() == before || pane->text() == after) << pane->text().toStdString();

    const QFontMetrics metrics(rig.Frame().statusBar()->font());
    EXPECT_EQ(pane->contentsRect().width(), metrics.horizontalAdvance(pane->text()));

    const int shortWidth = pane->width();
    rig.Frame().SetTimePaneText("12:00:00 in the afternoon");
    EXPECT_EQ(pane->contentsRect().width(), metrics.horizontalAdvance("12:00:00 in the afternoon"));
    EXPECT_GT(pane->width(), shortWidth);

    QTimer* timer = rig.Frame().TimePaneTimer();
    EXPECT_EQ(timer->objectName(), "timer4096");
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(timer->isActive());
}

TEST_F(MainFrameTest, ViewPaintsThePictureFromItsOriginWithoutScrollBars)
{
    CKelbrinView* view = rig.Frame().View();
    EXPECT_EQ(rig.Frame().centralWidget(), view);
    EXPECT_EQ(view->findChildren<QScrollBar*>().size(), 0);

    const QImage shown = view->grab().toImage();
    const QImage picture = res::DrawBackgroundBitmap().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(1015, 872));
    const int width = std::min(shown.width(), picture.width());
    const int height = std::min({shown.height(), picture.height(), VIEW_COPY_HEIGHT});
    for (int y = 0; y < height; y += 7) {
        for (int x = 0; x < width; x += 5) {
            ASSERT_EQ(shown.pixel(x, y), picture.pixel(x, y)) << x << "," << y;
        }
    }
}

TEST_F(MainFrameTest, DroppedFileChangesTheTitleOnly)
{
    rig.Document().ImagePath = "/images/chosen.bin";
    const std::string dropped = rig.WriteImage("dropped.BIN", SampleImageSpec());

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
    const QPointF centre = rig.Frame().rect().center();
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&rig.Frame(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&rig.Frame(), &drop);

    EXPECT_EQ(rig.Frame().windowTitle(), "dropped.BIN - Tarvik");
    EXPECT_EQ(rig.Document().ImagePath, "/images/chosen.bin");
    EXPECT_TRUE(rig.Runner.Opened.empty());

    Action(res::ID_FILE_NEW)->trigger();
    EXPECT_EQ(rig.Frame().windowTitle(), "Upgrade Utility - Tarvik");
}

}  // namespace
}  // namespace tarvik::testing
