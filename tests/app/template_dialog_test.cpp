// The template builder: every template of the program becomes a dialog whose controls sit at
// their dialog-unit rectangles, in template (tab) order, found by id. And the file-open dialog.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "desktop/qt/file_open_port.h"
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
    EXPECT_TRUE(browse.Button(res::IDOK)->isDefault());

    TemplateDialog lanCard(res::IDD_LAN_CARD, nullptr);
    EXPECT_FALSE(lanCard.List(res::IDC_NAME_LIST)->isSortingEnabled())
        << "item i must stay adapter i";

    TemplateDialog information(res::IDD_FILE_INFO, nullptr);
    EXPECT_EQ(information.Edit(res::IDC_FILE_NAME)->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_NE(information.Edit(res::IDC_PID_VERSION)->focusPolicy() & Qt::TabFocus, 0);
}

TEST(TemplateDialogTest, PrepareButtonsWearTheDefaultButtonStyleWithoutBecomingTheDefault)
{
    TemplateDialog prepare(res::IDD_PREPARE_UPGRADE, nullptr);
    for (const int id : {res::IDC_UPGRADE, res::IDC_VIEW_TARGET_INFO, res::IDC_VIEW_FILE_INFO}) {
        EXPECT_TRUE(prepare.Button(id)->property(DEFAULT_STYLE_PROPERTY).toBool()) << id;
        EXPECT_FALSE(prepare.Button(id)->isDefault()) << "Enter would press it" << id;
    }
    EXPECT_FALSE(prepare.Button(res::IDCANCEL)->property(DEFAULT_STYLE_PROPERTY).toBool());
}

TEST(FileOpenDialogTest, ATypedNameOfAFileThatDoesNotExistGoesThrough)
{
    QTemporaryDir directory;
    const QString missing = directory.filePath(QStringLiteral("missing.bin"));
    QtFileOpenPort port;
    port.SetStartDirectory(directory.path());
    int attempts = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                            : nullptr;
        if (name != nullptr && attempts++ == 0) {
            // Typed into the name box, as a user would.
            name->setText(QStringLiteral("missing.bin"));
            static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        } else if (QWidget* modal = QApplication::activeModalWidget()) {
            // A dialog that refused the name (or its warning) is closed, so the test ends.
            modal->close();
        }
    });
    answer.start(50);
    const std::optional<std::string> chosen = port.ChooseImageFile();
    answer.stop();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, missing.toStdString());
}

}  // namespace
}  // namespace tarvik
