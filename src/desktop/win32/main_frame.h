#pragma once
// The Windows program's main window: menu 128, the accelerators, toolbar 128 with its bitmap,
// the status bar with its message pane and time pane, the program icon, the title, and the
// view's background picture. Commands go as in the Qt program: Select BIN File, Browse
// Target, Prepare Upgrade, About, New, Exit. Windows files only.

#include "dialogs/win32/win32_api.h"

#include <map>
#include <string>

#include "dialogs/dialog_context.h"
#include "dialogs/win32/win32_dialog.h"

namespace tarvik {

// The status bar's time pane is refreshed by this timer.
inline constexpr UINT_PTR TIME_PANE_TIMER_ID = 4096;
inline constexpr UINT TIME_PANE_PERIOD_MS = 1000;

class Win32MainFrame final : public StatusBarPort {
public:
    Win32MainFrame(DialogContext& context, Win32CommandPort& port, std::wstring startDirectory);
    ~Win32MainFrame() override;
    Win32MainFrame(const Win32MainFrame&) = delete;
    Win32MainFrame& operator=(const Win32MainFrame&) = delete;

    // Makes and shows the window; false when the system refused it.
    bool Create(int showCommand);
    HWND Handle() const { return window_; }
    HACCEL Accelerators() const { return accelerators_; }

    void OnCommand(int id);
    // A document file named on the command line: it only titles the window.
    void OpenDocument(const std::wstring& path);
    // The message pane's text between prompts: the chosen image's signer, or "Ready".
    void SetIdleText(std::string_view text) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateToolBar();
    void CreateStatusBar();
    void LayOut();
    void UpdateTimePane();
    void SetStatusText(std::string_view text);
    // The command's prompt in the message pane; "Ready" for none (0).
    void ShowPrompt(int commandId);
    void UpdateTitle();
    void Paint();
    void SelectBinFile();

    DialogContext& context_;
    Win32CommandPort& port_;
    std::wstring startDirectory_;
    std::wstring documentTitle_;
    HWND window_ = nullptr;
    HWND toolBar_ = nullptr;
    HWND statusBar_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HBITMAP background_ = nullptr;
    HIMAGELIST toolbarImages_ = nullptr;
    std::map<int, std::wstring> tooltips_;
    std::string idleText_;
};

}  // namespace tarvik
