#include "dialogs/win32/win32_dialog.h"

#include <algorithm>

#include "commands/outcomes.h"
#include "dialogs/dialog.h"
#include "dialogs/win32/dialog_template_ex.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

std::string WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return Utf8Text(text);
}

// The messages that are not the user's input: input posted to a window (the mouse over its
// frame and its client area, keys, and the commands of the window menu and the close box)
// lies among the posted messages, not in the input queue.
struct MessageRange {
    UINT First;
    UINT Last;
};
constexpr MessageRange NOT_INPUT[] = {{0, WM_NCMOUSEMOVE - 1},
                                      {WM_NCXBUTTONDBLCLK + 1, WM_KEYFIRST - 1},
                                      {WM_SYSCOMMAND + 1, WM_MOUSEFIRST - 1},
                                      {WM_MOUSELAST + 1, 0xFFFFFFFFU}};

// Runs what the window system has for the program's windows (their first paint, the answer to
// being shown), but no user input: the work on this thread goes on first.
void PumpPaintMessages()
{
    MSG message;
    for (const MessageRange& range : NOT_INPUT) {
        while (::PeekMessageW(&message, nullptr, range.First, range.Last,
                              PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE)) {
            if (message.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(message.wParam));
                return;
            }
            ::DispatchMessageW(&message);
        }
    }
}

// Centred over the owner (or the screen's work area without one), as the dialogs of the first
// platform's framework were whose template leaves them at the owner's origin.
void CenterOverOwner(HWND window, HWND owner)
{
    RECT area{};
    if (owner != nullptr && ::IsWindowVisible(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT own{};
    ::GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int left = std::max(0L, area.left + (area.right - area.left - width) / 2);
    const int top = std::max(0L, area.top + (area.bottom - area.top - height) / 2);
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The dialog whose keys a message is (Tab, Enter, Escape): the dialog of the window it is
// for, so that the progress window shown beside a modal dialog takes its own keys, or the
// modal dialog for anything else.
HWND DialogOf(HWND target, HWND modal)
{
    constexpr ATOM DIALOG_CLASS_ATOM = 0x8002;
    HWND root = target != nullptr ? ::GetAncestor(target, GA_ROOT) : nullptr;
    if (root != nullptr && root != modal &&
        static_cast<ATOM>(::GetClassLongPtrW(root, GCW_ATOM)) == DIALOG_CLASS_ATOM &&
        ::IsWindowEnabled(root) != FALSE) {
        return root;
    }
    return modal;
}

void DispatchDialogMessage(MSG& message, HWND modal)
{
    if (::IsDialogMessageW(DialogOf(message.hwnd, modal), &message) == FALSE) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace

void RunWaitingMessages(HWND dialog)
{
    HWND modal = dialog;
    while (modal != nullptr) {
        auto* window = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(modal, DWLP_USER));
        if (window != nullptr && window->InModalLoop()) {
            break;
        }
        modal = ::GetWindow(modal, GW_OWNER);
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        DispatchDialogMessage(message, modal != nullptr ? modal : dialog);
    }
}

Win32DialogWindow::Win32DialogWindow(const res::DialogTemplate& dialog, CDialog& handler,
                                     HWND owner)
    : template_(dialog), handler_(handler), memoryTemplate_(BuildDialogTemplateEx(dialog))
{
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&classes);
    window_ = ::CreateDialogIndirectParamW(
        ::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(memoryTemplate_.data()),
        owner, &Win32DialogWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) {
        // The templates are the program's own: a dialog the dialog manager refuses is a
        // programming error, as a template that does not exist is.
        std::abort();
    }
    if (HWND bar = Item(res::IDC_PROGRESS_BAR);
        bar != nullptr && FindControl(res::IDC_PROGRESS_BAR)) {
        ::SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    }
    CenterOverOwner(window_, owner);
}

Win32DialogWindow::~Win32DialogWindow()
{
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, DWLP_USER, 0);
        ::DestroyWindow(window_);
    }
}

const res::ControlTemplate* Win32DialogWindow::FindControl(int id) const
{
    for (const res::ControlTemplate& control : template_.Controls) {
        if (control.Id == id) {
            return &control;
        }
    }
    return nullptr;
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        // The dialog class initialises the controls and sets the focus itself (InitDialog).
        return FALSE;
    }
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        const res::ControlTemplate* control = FindControl(id);
        const bool isList = control != nullptr && control->Kind == res::ControlKind::ListBox;
        if (isList) {
            if (code == LBN_SELCHANGE) {
                handler_.OnSelectionChange(id);
            }
            return TRUE;
        }
        // Enter and Escape arrive as IDOK and IDCANCEL whether the template has such a button
        // or not, as clicks do.
        const bool isButton = control != nullptr &&
                              (control->Kind == res::ControlKind::PushButton ||
                               control->Kind == res::ControlKind::DefPushButton);
        if (code == BN_CLICKED && (isButton || id == res::IDOK || id == res::IDCANCEL)) {
            if (id == res::IDOK && control == nullptr) {
                return TRUE;  // Enter with no OK button and the focus on no button: nothing
            }
            handler_.OnButton(id);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        handler_.OnButton(res::IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

void Win32DialogWindow::SetItemText(int id, std::string_view text)
{
    ::SetDlgItemTextW(window_, id, WideText(text).c_str());
}

std::string Win32DialogWindow::ItemText(int id) const
{
    HWND item = Item(id);
    return item == nullptr ? std::string() : WindowText(item);
}

void Win32DialogWindow::EnableItem(int id, bool enable)
{
    if (HWND item = Item(id)) {
        ::EnableWindow(item, enable ? TRUE : FALSE);
    }
}

bool Win32DialogWindow::IsItemEnabled(int id) const
{
    HWND item = Item(id);
    return item != nullptr && ::IsWindowEnabled(item) != FALSE;
}

void Win32DialogWindow::SetFocusItem(int id)
{
    if (HWND item = Item(id)) {
        // The dialog manager's way: the default-button frame follows the focus.
        ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    }
}

void Win32DialogWindow::SetDefaultButton(int id)
{
    ::SendMessageW(window_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

int Win32DialogWindow::ListAddString(int id, std::string_view text)
{
    const std::wstring wide = WideText(text);
    return static_cast<int>(::SendDlgItemMessageW(window_, id, LB_ADDSTRING, 0,
                                                  reinterpret_cast<LPARAM>(wide.c_str())));
}

int Win32DialogWindow::ListCount(int id) const
{
    const LRESULT count = ::SendDlgItemMessageW(window_, id, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : static_cast<int>(count);
}

std::string Win32DialogWindow::ListText(int id, int row) const
{
    const LRESULT length =
        ::SendDlgItemMessageW(window_, id, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length == LB_ERR || length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendDlgItemMessageW(window_, id, LB_GETTEXT, static_cast<WPARAM>(row),
                                                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR ? 0 : static_cast<std::size_t>(copied));
    return Utf8Text(text);
}

int Win32DialogWindow::ListCaret(int id) const
{
    // A list box keeps its caret on row 0 before anything was picked; an empty list has none.
    if (ListCount(id) == 0) {
        return -1;
    }
    const LRESULT caret = ::SendDlgItemMessageW(window_, id, LB_GETCARETINDEX, 0, 0);
    return caret == LB_ERR ? -1 : static_cast<int>(caret);
}

int Win32DialogWindow::ListSelection(int id) const
{
    const LRESULT selected = ::SendDlgItemMessageW(window_, id, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void Win32DialogWindow::SetProgressPosition(int id, int position)
{
    if (HWND bar = Item(id)) {
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        ::UpdateWindow(bar);
    }
}

void Win32DialogWindow::RepaintItem(int id)
{
    if (HWND item = Item(id)) {
        ::InvalidateRect(item, nullptr, TRUE);
        ::UpdateWindow(item);
    }
}

void Win32DialogWindow::ShowModeless()
{
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
    PumpPaintMessages();
    ::UpdateWindow(window_);
}

void Win32DialogWindow::Hide()
{
    // The activation goes back to the owner, not to whichever window the system picks.
    const bool active = ::GetActiveWindow() == window_;
    ::ShowWindow(window_, SW_HIDE);
    HWND owner = ::GetWindow(window_, GW_OWNER);
    if (active && owner != nullptr) {
        ::SetActiveWindow(owner);
    }
}

bool Win32DialogWindow::IsShown() const
{
    return ::IsWindowVisible(window_) != FALSE;
}

void Win32DialogWindow::EndDialog(int result)
{
    if (!modal_) {
        Hide();
        return;
    }
    result_ = result;
    ended_ = true;
    // Wakes the loop if it is waiting for a message.
    ::PostMessageW(window_, WM_NULL, 0, 0);
}

int Win32DialogWindow::RunModalLoop()
{
    HWND owner = ::GetWindow(window_, GW_OWNER);
    const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner) != FALSE;
    if (disableOwner) {
        ::EnableWindow(owner, FALSE);
    }
    modal_ = true;
    ended_ = false;
    result_ = res::IDCANCEL;
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
    MSG message;
    bool quit = false;
    while (!ended_) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            quit = got == 0;
            break;
        }
        DispatchDialogMessage(message, window_);
    }
    modal_ = false;
    // The owner comes back before the dialog goes, so that the activation returns to it.
    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
    }
    ::ShowWindow(window_, SW_HIDE);
    if (owner != nullptr) {
        ::SetActiveWindow(owner);
    }
    if (quit) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
    }
    return result_;
}

std::unique_ptr<DialogWindow> MakeDialogWindow(const res::DialogTemplate& dialog, CDialog& handler,
                                               NativeWindow owner)
{
    return std::make_unique<Win32DialogWindow>(dialog, handler, static_cast<HWND>(owner));
}

Win32DialogWindow& Win32Window(CDialog& dialog)
{
    return static_cast<Win32DialogWindow&>(dialog.Window());
}

void Win32CommandPort::ShowMessage(std::string_view text)
{
    EnterModal();
    RestoreCursor();
    const std::wstring caption = WideText(APPLICATION_TITLE);
    // Owned by the dialog that is up, if any, so that it comes back active after the box.
    HWND owner = owner_ != nullptr ? ::GetLastActivePopup(owner_) : nullptr;
    ::MessageBoxW(owner, WideText(text).c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
    LeaveModal();
    RestoreCursor();
}

void Win32CommandPort::BeginWaitCursor()
{
    cursors_.push_back(CURSOR_WAIT);
    RestoreCursor();
}

void Win32CommandPort::EndWaitCursor()
{
    Pop();
    RestoreCursor();
}

void Win32CommandPort::EnterModal()
{
    cursors_.push_back(CURSOR_ARROW);
}

void Win32CommandPort::LeaveModal()
{
    Pop();
}

// Begin and end come in pairs, nested: the last one put up is the one taken down.
void Win32CommandPort::Pop()
{
    if (!cursors_.empty()) {
        cursors_.pop_back();
    }
}

void Win32CommandPort::RestoreCursor() const
{
    ::SetCursor(SystemCursor(Waiting() ? CURSOR_WAIT : CURSOR_ARROW));
}

int Win32DialogRunner::RunModal(CDialog& dialog)
{
    port_.EnterModal();
    port_.RestoreCursor();
    const int result = Win32Window(dialog).RunModalLoop();
    port_.LeaveModal();
    port_.RestoreCursor();
    return result;
}

}  // namespace tarvik
