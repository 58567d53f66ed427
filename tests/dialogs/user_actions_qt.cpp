// The user's actions with the Qt renderer: real mouse clicks and keys. A click on a window
// that is shown goes in through the window system, as the user's does, so that a window a
// modal dialog blocks never sees it; one on a dialog that no loop has shown goes to the widget.

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "dialogs/dialog_rig.h"
#include "dialogs/qt/message_port.h"
#include "dialogs/qt/template_dialog.h"

namespace tarvik::testing {
namespace {

void Click(QWidget* widget, QPoint at)
{
    QWidget* window = widget->window();
    if (window->isVisible() && window->windowHandle() != nullptr) {
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, at));
    } else {
        QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    }
}

// Posted to the widget, as the window's own handling hands on the click it found under the
// pointer: the press and the release wait in the application's queue until a loop takes
// them. Unlike Click, nothing here keeps it from a window that a modal dialog blocks.
void PostClick(QWidget* widget, QPoint at)
{
    const QPointF global = widget->mapToGlobal(QPointF(at));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                        Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                        Qt::LeftButton, {}, {}));
}

}  // namespace

void Press(CDialog& dialog, int id)
{
    QPushButton* button = QtWindow(dialog).Button(id);
    ASSERT_NE(button, nullptr) << id;
    Click(button, button->rect().center());
}

void ClickListRow(CDialog& dialog, int listId, int row)
{
    QListWidget* list = QtWindow(dialog).List(listId);
    ASSERT_NE(list, nullptr) << listId;
    QListWidgetItem* item = list->item(row);
    ASSERT_NE(item, nullptr) << row;
    Click(list->viewport(), list->visualItemRect(item).center());
}

void PressKey(CDialog& dialog, UserKey key)
{
    TemplateDialog& window = QtWindow(dialog);
    QWidget* focus = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    const Qt::Key qtKey = key == UserKey::Enter    ? Qt::Key_Return
                          : key == UserKey::Escape ? Qt::Key_Escape
                                                   : Qt::Key_Tab;
    QTest::keyClick(focus, qtKey);
}

void FocusItem(CDialog& dialog, int id)
{
    QWidget* control = QtWindow(dialog).Control(id);
    ASSERT_NE(control, nullptr) << id;
    Click(control, control->rect().center());
}

void ClickCloseBox(CDialog& dialog)
{
    // What the window system sends when the close box is clicked.
    QCloseEvent close;
    QApplication::sendEvent(&QtWindow(dialog), &close);
}

void QueueClick(CDialog& dialog, int id)
{
    QPushButton* button = QtWindow(dialog).Button(id);
    ASSERT_NE(button, nullptr) << id;
    PostClick(button, button->rect().center());
}

void QueueCloseBox(CDialog& dialog)
{
    TemplateDialog& window = QtWindow(dialog);
    QObject* receiver =
        window.windowHandle() != nullptr ? static_cast<QObject*>(window.windowHandle()) : &window;
    QCoreApplication::postEvent(receiver, new QCloseEvent);
}

std::unique_ptr<CommandPort> MakeProgramPort()
{
    return std::make_unique<QtCommandPort>();
}

std::unique_ptr<DialogRunner> MakeProgramRunner(CommandPort& /*port*/)
{
    return std::make_unique<ExecDialogRunner>();
}

void WhenUp(CDialog& dialog, std::function<void()> action)
{
    QTimer::singleShot(0, &QtWindow(dialog), std::move(action));
}

bool WaitCursorShown()
{
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

}  // namespace tarvik::testing
