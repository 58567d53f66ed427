// The Qt renderer: every template becomes a dialog whose controls sit at their dialog-unit
// rectangles, in template (tab) order, found by id, with their templates' styles.

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

#include "dialogs/dialog.h"
#include "dialogs/qt/template_dialog.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

TEST(TemplateDialogTest, EveryControlIsFoundByIdAtItsConvertedRectangle)
{
    for (const res::DialogTemplate* dialogTemplate : res::AllDialogTemplates()) {
        TemplateDialog dialog(dialogTemplate->Id, nullptr);
        const QSize units = DialogBaseUnits(TemplateFont(*dialogTemplate));
        ASSERT_GT(units.width(), 0);
        EXPECT_EQ(dialog.size(), QSize((dialogTemplate->Width * units.width() + 2) / 4,
                                       (dialogTemplate->Height * units.height() + 4) / 8))
            << dialogTemplate->Id;
        for (const res::ControlTemplate& control : dialogTemplate->Controls) {
            if (control.Id == res::IDC_STATIC) {
                continue;
            }
            QWidget* widget = dialog.Control(control.Id);
            ASSERT_NE(widget, nullptr) << dialogTemplate->Id << "/" << control.Id;
            EXPECT_EQ(widget->objectName(), QStringLiteral("id%1").arg(control.Id));
            EXPECT_EQ(widget->geometry(),
                      dialog.UnitsToPixels(control.X, control.Y, control.Width, control.Height));
            EXPECT_EQ(widget->geometry().x(), (control.X * units.width() + 2) / 4);
            EXPECT_EQ(widget->geometry().height(), (control.Height * units.height() + 4) / 8);
        }
        EXPECT_EQ(dialog.windowTitle().toStdString(), dialogTemplate->Caption);
    }
}

// The next widget the Tab key reaches after widget.
QWidget* NextTabStop(QWidget* widget)
{
    for (QWidget* next = widget->nextInFocusChain(); next != widget;
         next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) != 0 && next->isEnabled()) {
            return next;
        }
    }
    return nullptr;
}

TEST(TemplateDialogTest, TabOrderFollowsTheTemplate)
{
    CDialog browse(res::IDD_BROWSE_TARGET, nullptr);
    browse.InitDialog();
    TemplateDialog& dialog = QtWindow(browse);
    EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::IDOK));
    EXPECT_EQ(NextTabStop(dialog.Control(res::IDOK)), dialog.Control(res::IDC_NAME_LIST));
    EXPECT_EQ(NextTabStop(dialog.Control(res::IDC_NAME_LIST)), dialog.Control(res::IDC_NAME_EDIT));
    EXPECT_EQ(NextTabStop(dialog.Control(res::IDC_NAME_EDIT)), dialog.Control(res::IDOK));
}

TEST(TemplateDialogTest, ControlsTakeTheirStyles)
{
    TemplateDialog prepare(res::IDD_PREPARE_UPGRADE, nullptr);
    EXPECT_TRUE(prepare.Edit(res::IDC_FILE_FOR_UPGRADE)->isReadOnly());
    EXPECT_EQ(prepare.Edit(res::IDC_FILE_FOR_UPGRADE)->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(prepare.Button(res::IDC_VIEW_FILE_INFO)->text(), "View File Infomation");

    TemplateDialog browse(res::IDD_BROWSE_TARGET, nullptr);
    EXPECT_TRUE(browse.List(res::IDC_NAME_LIST)->isSortingEnabled());
    EXPECT_FALSE(browse.Edit(res::IDC_NAME_EDIT)->isReadOnly());

    TemplateDialog lanCard(res::IDD_LAN_CARD, nullptr);
    EXPECT_FALSE(lanCard.List(res::IDC_NAME_LIST)->isSortingEnabled())
        << "item i must stay adapter i";

    TemplateDialog information(res::IDD_FILE_INFO, nullptr);
    EXPECT_EQ(information.Edit(res::IDC_FILE_NAME)->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_NE(information.Edit(res::IDC_PID_VERSION)->focusPolicy() & Qt::TabFocus, 0);
}

// Which button Enter presses is the dialog's (see the dialog flows); the style only draws.
TEST(TemplateDialogTest, PrepareButtonsWearTheDefaultButtonStyle)
{
    TemplateDialog prepare(res::IDD_PREPARE_UPGRADE, nullptr);
    for (const int id : {res::IDC_UPGRADE, res::IDC_VIEW_TARGET_INFO, res::IDC_VIEW_FILE_INFO}) {
        EXPECT_TRUE(prepare.Button(id)->property(DEFAULT_STYLE_PROPERTY).toBool()) << id;
    }
    EXPECT_FALSE(prepare.Button(res::IDCANCEL)->property(DEFAULT_STYLE_PROPERTY).toBool());
}

}  // namespace
}  // namespace tarvik
