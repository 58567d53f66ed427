// The user's actions with the Win32 renderer: what a click makes the controls do, sent to
// them as the system sends it (a button's click; a list box's new selection and the
// notification it sends its dialog), and keys posted to the control with the focus and run
// through the modal loop's own dispatch. The system gives no mouse input to a disabled window
// nor to the controls inside one: a dialog that a modal loop has disabled takes no clicks.

#include "dialogs/win32/win32_api.h"

#include <gtest/gtest.h>

#include "dialogs/dialog_rig.h"
#include "dialogs/win32/win32_dialog.h"

namespace tarvik::testing {
namespace {

bool TakesClicks(HWND control)
{
    return ::IsWindowEnabled(control) != FALSE &&
           ::IsWindowEnabled(::GetAncestor(control, GA_ROOT)) != FALSE;
}

}  // namespace

void Press(CDialog& dialog, int id)
{
    HWND button = ::GetDlgItem(Win32Window(dialog).Handle(), id);
    ASSERT_NE(button, nullptr) << id;
    if (TakesClicks(button)) {
        ::SendMessageW(button, BM_CLICK, 0, 0);
    }
}

void ClickListRow(CDialog& dialog, int listId, int row)
{
    HWND window = Win32Window(dialog).Handle();
    HWND list = ::GetDlgItem(window, listId);
    ASSERT_NE(list, nullptr) << listId;
    if (!TakesClicks(list)) {
        return;
    }
    ASSERT_NE(::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0), LB_ERR) << row;
    if ((::GetWindowLongW(list, GWL_STYLE) & LBS_NOTIFY) != 0) {
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(listId, LBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list));
    }
}

void PressKey(CDialog& dialog, UserKey key)
{
    Win32DialogWindow& window = Win32Window(dialog);
    HWND focus = ::GetFocus();
    if (focus == nullptr || ::GetAncestor(focus, GA_ROOT) != window.Handle()) {
        focus = window.Handle();
    }
    const WPARAM virtualKey = key == UserKey::Enter    ? VK_RETURN
                              : key == UserKey::Escape ? VK_ESCAPE
                                                       : VK_TAB;
    ::PostMessageW(focus, WM_KEYDOWN, virtualKey, 1);
    ::PostMessageW(focus, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001U));
    RunWaitingMessages(window.Handle());
}

void FocusItem(CDialog& dialog, int id)
{
    HWND control = ::GetDlgItem(Win32Window(dialog).Handle(), id);
    ASSERT_NE(control, nullptr) << id;
    ::SetFocus(control);
}

void ClickCloseBox(CDialog& dialog)
{
    ::SendMessageW(Win32Window(dialog).Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

// The button's own down and up, posted to it: the button takes the capture, and sends its
// dialog the click when the button comes up over it.
void QueueClick(CDialog& dialog, int id)
{
    HWND button = ::GetDlgItem(Win32Window(dialog).Handle(), id);
    ASSERT_NE(button, nullptr) << id;
    RECT area{};
    ::GetClientRect(button, &area);
    const LPARAM at = MAKELPARAM((area.right - area.left) / 2, (area.bottom - area.top) / 2);
    ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(button, WM_LBUTTONUP, 0, at);
}

// What the frame's default handling makes of a click on the close box.
void QueueCloseBox(CDialog& dialog)
{
    ::PostMessageW(Win32Window(dialog).Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::unique_ptr<CommandPort> MakeProgramPort()
{
    return std::make_unique<Win32CommandPort>();
}

std::unique_ptr<DialogRunner> MakeProgramRunner(CommandPort& port)
{
    return std::make_unique<Win32DialogRunner>(static_cast<Win32CommandPort&>(port));
}

namespace {

constexpr UINT WHEN_UP_MESSAGE = WM_APP + 0x57;

LRESULT CALLBACK WhenUpProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                            DWORD_PTR data)
{
    if (message != WHEN_UP_MESSAGE) {
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    auto* action = reinterpret_cast<std::function<void()>*>(data);
    ::RemoveWindowSubclass(window, &WhenUpProc, id);
    (*action)();
    delete action;
    return 0;
}

}  // namespace

void WhenUp(CDialog& dialog, std::function<void()> action)
{
    HWND window = Win32Window(dialog).Handle();
    auto* held = new std::function<void()>(std::move(action));
    ::SetWindowSubclass(window, &WhenUpProc, 1, reinterpret_cast<DWORD_PTR>(held));
    ::PostMessageW(window, WHEN_UP_MESSAGE, 0, 0);
}

bool WaitCursorShown()
{
    return ::GetCursor() == SystemCursor(CURSOR_WAIT);
}

}  // namespace tarvik::testing
