// The user's actions with the Win32 renderer: what a click makes the controls do, sent to
// them as the system sends it (a button's click; a list box's new selection and the
// notification it sends its dialog).

#include "dialogs/win32/win32_api.h"

#include <gtest/gtest.h>

#include "dialogs/dialog_rig.h"
#include "dialogs/win32/win32_dialog.h"

namespace tarvik::testing {

void Press(CDialog& dialog, int id)
{
    HWND button = ::GetDlgItem(Win32Window(dialog).Handle(), id);
    ASSERT_NE(button, nullptr) << id;
    // A disabled button takes no clicks.
    if (::IsWindowEnabled(button) != FALSE) {
        ::SendMessageW(button, BM_CLICK, 0, 0);
    }
}

void ClickListRow(CDialog& dialog, int listId, int row)
{
    HWND window = Win32Window(dialog).Handle();
    HWND list = ::GetDlgItem(window, listId);
    ASSERT_NE(list, nullptr) << listId;
    ASSERT_NE(::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0), LB_ERR) << row;
    if ((::GetWindowLongW(list, GWL_STYLE) & LBS_NOTIFY) != 0) {
        ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(listId, LBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list));
    }
}

}  // namespace tarvik::testing
