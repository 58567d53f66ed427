#pragma once
// The Win32 renderer of the dialog templates: each template becomes a dialog of Win32's dialog
// manager, made from an in-memory extended template, and implements the control API with the
// dialog manager's own messages. The modal loop and the message box are here too.
// Windows files only.

#include "dialogs/win32/win32_api.h"

#include <string_view>
#include <vector>

#include "commands/command_port.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/dialog_window.h"

namespace tarvik {

class Win32DialogWindow final : public DialogWindow {
public:
    Win32DialogWindow(const res::DialogTemplate& dialog, CDialog& handler, HWND owner);
    ~Win32DialogWindow() override;
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    HWND Handle() const { return window_; }
    const res::DialogTemplate& Template() const { return template_; }

    NativeWindow Native() override { return window_; }
    void SetItemText(int id, std::string_view text) override;
    std::string ItemText(int id) const override;
    void EnableItem(int id, bool enable) override;
    bool IsItemEnabled(int id) const override;
    void SetFocusItem(int id) override;
    void SetDefaultButton(int id) override;
    int ListAddString(int id, std::string_view text) override;
    int ListCount(int id) const override;
    std::string ListText(int id, int row) const override;
    int ListCaret(int id) const override;
    int ListSelection(int id) const override;
    void SetProgressPosition(int id, int position) override;
    void RepaintItem(int id) override;
    void ShowModeless() override;
    void Hide() override;
    bool IsShown() const override;
    void EndDialog(int result) override;

    // The modal loop: the owner disabled, the dialog shown, its messages run until it ends.
    int RunModalLoop();
    bool InModalLoop() const { return modal_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND Item(int id) const { return ::GetDlgItem(window_, id); }
    const res::ControlTemplate* FindControl(int id) const;

    const res::DialogTemplate& template_;
    CDialog& handler_;
    std::vector<std::uint16_t> memoryTemplate_;
    HWND window_ = nullptr;
    bool modal_ = false;
    bool ended_ = false;
    int result_ = 0;
};

// The window of a dialog made while the program runs on Win32.
Win32DialogWindow& Win32Window(CDialog& dialog);

// Runs the messages waiting in the queue as the modal loop the dialog is in (its own or its
// owner's) would, and returns when none is left.
void RunWaitingMessages(HWND dialog);

// The desktop's CommandPort on Windows: the warning message box captioned "Tarvik" with one
// OK button, and the wait cursor. The cursors stack and the latest wins: a modal dialog or a
// box brings the arrow over a command's wait cursor, and work started from inside the dialog
// (a transfer, a device query) brings the wait cursor back over the dialog's arrow until it
// ends. The dialog manager would otherwise put its arrow back over the whole transfer.
class Win32CommandPort final : public CommandPort {
public:
    void SetOwner(HWND owner) { owner_ = owner; }
    void ShowMessage(std::string_view text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    // What the cursor over the program's windows should be now.
    bool Waiting() const { return !cursors_.empty() && cursors_.back() == CURSOR_WAIT; }
    void RestoreCursor() const;

    // Held by the modal loops and the boxes.
    void EnterModal();
    void LeaveModal();

private:
    void Pop();

    HWND owner_ = nullptr;
    std::vector<WORD> cursors_;
};

// Runs each dialog in its own modal loop, with the arrow cursor.
class Win32DialogRunner final : public DialogRunner {
public:
    explicit Win32DialogRunner(Win32CommandPort& port) : port_(port) {}
    int RunModal(CDialog& dialog) override;

private:
    Win32CommandPort& port_;
};

}  // namespace tarvik
