#include "desktop/win32/main_frame.h"

#include <commdlg.h>
#include <shellapi.h>

#include <array>
#include <optional>
#include <vector>

#include "dialogs/about_dlg.h"
#include "dialogs/browse_target_dlg.h"
#include "dialogs/info_dialogs.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "res/accelerator_keys.h"
#include "res/resource_ids.h"
#include "res/shell_resources.h"

namespace tarvik {
namespace {

constexpr wchar_t FRAME_CLASS[] = L"TarvikMainFrame";
// The parts of the view's picture that are copied, from its origin to the view's.
constexpr int VIEW_COPY_WIDTH = 1200;
constexpr int VIEW_COPY_HEIGHT = 600;

std::wstring Wide(std::string_view text)
{
    return WideText(text);
}

// An entry of the accelerator table from its portable key text.
std::optional<ACCEL> ToAccel(const res::Accelerator& accelerator)
{
    const std::optional<res::AcceleratorKey> keys = res::ParseAcceleratorKeys(accelerator.Keys);
    if (!keys) {
        return std::nullopt;
    }
    const int modifiers = (keys->Control ? FCONTROL : 0) | (keys->Shift ? FSHIFT : 0) |
                          (keys->Alt ? FALT : 0);
    return ACCEL{static_cast<BYTE>(FVIRTKEY | modifiers), keys->VirtualKey,
                 static_cast<WORD>(accelerator.CommandId)};
}

HMENU BuildMenu()
{
    HMENU bar = ::CreateMenu();
    for (const res::MenuPopup& popup : res::MainMenu()) {
        HMENU menu = ::CreatePopupMenu();
        for (const res::MenuItem& item : popup.Items) {
            if (item.CommandId == 0) {
                ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            } else {
                ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(item.CommandId),
                              Wide(item.Text).c_str());
            }
        }
        ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), Wide(popup.Text).c_str());
    }
    return bar;
}

std::wstring FormatLocalTime()
{
    std::array<wchar_t, 128> text{};
    const int length = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text.data(),
                                        static_cast<int>(text.size()));
    return std::wstring(text.data(), length > 0 ? static_cast<std::size_t>(length - 1) : 0);
}

}  // namespace

Win32MainFrame::Win32MainFrame(DialogContext& context, Win32CommandPort& port,
                               std::wstring startDirectory)
    : context_(context), port_(port), startDirectory_(std::move(startDirectory)),
      documentTitle_(Wide(res::StringPart(res::LoadString(res::IDR_MAINFRAME),
                                          res::DOC_DOCUMENT_NAME)))
{
}

Win32MainFrame::~Win32MainFrame()
{
    if (context_.StatusBar == this) {
        context_.StatusBar = nullptr;
    }
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    if (accelerators_ != nullptr) {
        ::DestroyAcceleratorTable(accelerators_);
    }
    if (toolbarImages_ != nullptr) {
        ::ImageList_Destroy(toolbarImages_);
    }
    if (background_ != nullptr) {
        ::DeleteObject(background_);
    }
}

bool Win32MainFrame::Create(int showCommand)
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);

    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.style = CS_HREDRAW | CS_VREDRAW;
    frameClass.lpfnWndProc = &Win32MainFrame::WindowProc;
    frameClass.hInstance = instance;
    frameClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(res::IDR_MAINFRAME));
    frameClass.hIconSm = static_cast<HICON>(::LoadImageW(
        instance, MAKEINTRESOURCEW(res::IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    frameClass.hCursor = SystemCursor(CURSOR_ARROW);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = FRAME_CLASS;
    ::RegisterClassExW(&frameClass);

    std::vector<ACCEL> table;
    for (const res::Accelerator& accelerator : res::Accelerators()) {
        if (const std::optional<ACCEL> parsed = ToAccel(accelerator)) {
            table.push_back(*parsed);
        }
    }
    accelerators_ = ::CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
    background_ = static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(res::IDB_BACKGROUND),
                                                    IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));

    window_ = ::CreateWindowExW(0, FRAME_CLASS, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, 800, 600, nullptr, BuildMenu(),
                                instance, this);
    if (window_ == nullptr) {
        return false;
    }
    context_.Owner = window_;
    context_.StatusBar = this;
    port_.SetOwner(window_);
    CreateToolBar();
    CreateStatusBar();
    UpdateTitle();
    ::DragAcceptFiles(window_, TRUE);
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    return true;
}

void Win32MainFrame::CreateToolBar()
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    toolBar_ = ::CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                                 WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
                                 0, 0, 0, 0, window_, nullptr, instance, nullptr);
    ::SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    // The strip's magenta ground is the transparent colour.
    toolbarImages_ = ::ImageList_LoadImageW(instance, MAKEINTRESOURCEW(res::IDR_MAINFRAME),
                                            res::TOOLBAR_BUTTON_SIZE, 0, RGB(0xFF, 0x00, 0xFF),
                                            IMAGE_BITMAP, LR_CREATEDIBSECTION);
    ::SendMessageW(toolBar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_));
    std::vector<TBBUTTON> buttons;
    int image = 0;
    for (const int id : res::ToolbarCommands()) {
        TBBUTTON button{};
        button.iBitmap = image++;
        button.idCommand = id;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
        buttons.push_back(button);
        tooltips_[id] = Wide(res::PromptTooltip(id));
    }
    ::SendMessageW(toolBar_, TB_ADDBUTTONSW, buttons.size(),
                   reinterpret_cast<LPARAM>(buttons.data()));
    ::SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
}

void Win32MainFrame::CreateStatusBar()
{
    statusBar_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr,
                                   WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ShowPrompt(0);
    LayOut();
    ::SendMessageW(statusBar_, SB_SETTEXTW, 1,
                   reinterpret_cast<LPARAM>(Wide(res::LoadString(res::ID_INDICATOR_TIME)).c_str()));
    ::SetTimer(window_, TIME_PANE_TIMER_ID, TIME_PANE_PERIOD_MS, nullptr);
    // "Time" only sizes the pane: the clock replaces it at once.
    UpdateTimePane();
}

void Win32MainFrame::LayOut()
{
    if (toolBar_ != nullptr) {
        ::SendMessageW(toolBar_, TB_AUTOSIZE, 0, 0);
    }
    if (statusBar_ == nullptr) {
        return;
    }
    ::SendMessageW(statusBar_, WM_SIZE, 0, 0);
    RECT client{};
    ::GetClientRect(window_, &client);
    // The time pane is as wide as its text, plus the pane's borders and the size grip.
    HDC dc = ::GetDC(statusBar_);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(statusBar_, WM_GETFONT, 0, 0)));
    const std::wstring time = FormatLocalTime();
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, time.c_str(), static_cast<int>(time.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(statusBar_, dc);
    const int grip = ::GetSystemMetrics(SM_CXVSCROLL);
    std::array<int, 2> edges = {client.right - extent.cx - 8 - grip, -1};
    ::SendMessageW(statusBar_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void Win32MainFrame::UpdateTimePane()
{
    LayOut();
    const std::wstring time = FormatLocalTime();
    ::SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(time.c_str()));
}

// The message pane is drawn without a border, flat on the bar.
void Win32MainFrame::SetStatusText(std::string_view text)
{
    ::SendMessageW(statusBar_, SB_SETTEXTW, 0 | SBT_NOBORDERS,
                   reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void Win32MainFrame::ShowPrompt(int commandId)
{
    const std::string_view prompt = commandId == 0 ? std::string_view()
                                                   : res::PromptStatusText(commandId);
    if (!prompt.empty()) {
        SetStatusText(prompt);
    } else {
        SetStatusText(idleText_.empty() ? res::LoadString(res::IDS_IDLE_MESSAGE) : idleText_);
    }
}

void Win32MainFrame::SetIdleText(std::string_view text)
{
    idleText_ = text;
    if (statusBar_ != nullptr) {
        ShowPrompt(0);
    }
}

void Win32MainFrame::UpdateTitle()
{
    const std::wstring title =
        documentTitle_ + L" - " +
        Wide(res::StringPart(res::LoadString(res::IDR_MAINFRAME), res::DOC_WINDOW_TITLE));
    ::SetWindowTextW(window_, title.c_str());
}

void Win32MainFrame::OpenDocument(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    documentTitle_ = slash == std::wstring::npos ? path : path.substr(slash + 1);
    UpdateTitle();
}

void Win32MainFrame::SelectBinFile()
{
    // The one filter, "*.BIN": Windows file systems ignore the letter case themselves.
    static constexpr wchar_t FILTER[] = L"*.BIN\0*.BIN\0";
    std::vector<wchar_t> name(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = FILTER;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrInitialDir = startDirectory_.empty() ? nullptr : startDirectory_.c_str();
    // No OFN_FILEMUSTEXIST: a typed name goes through even when no such file exists, and
    // reading it then fails with the program's own messages. Nothing here can change a file.
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    port_.EnterModal();
    port_.RestoreCursor();
    const bool chosen = ::GetOpenFileNameW(&dialog) != FALSE;
    port_.LeaveModal();
    port_.RestoreCursor();
    std::optional<std::string> path;
    if (chosen) {
        path = Utf8Text(name.data());
    }
    RunSelectBinFile(context_, path);
}

void Win32MainFrame::OnCommand(int id)
{
    switch (id) {
    case res::ID_FILE_OPEN:
        SelectBinFile();
        break;
    case res::ID_BROWSE_TARGET:
        RunBrowseTarget(context_);
        break;
    case res::ID_PREPARE_UPGRADE:
        RunPrepareUpgrade(context_);
        break;
    case res::ID_APP_ABOUT: {
        CAboutDlg about(window_);
        about.DoModal(context_.Runner);
        break;
    }
    case res::ID_FILE_NEW:
        documentTitle_ =
            Wide(res::StringPart(res::LoadString(res::IDR_MAINFRAME), res::DOC_DOCUMENT_NAME));
        UpdateTitle();
        break;
    case res::ID_APP_EXIT:
        ::DestroyWindow(window_);
        break;
    default:
        // Save, the edit commands and the pane commands: the document has nothing to save
        // and the window nothing to edit.
        break;
    }
}

void Win32MainFrame::Paint()
{
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window_, &paint);
    RECT toolbar{};
    if (toolBar_ != nullptr) {
        ::GetWindowRect(toolBar_, &toolbar);
    }
    const int top = toolbar.bottom - toolbar.top;
    if (background_ != nullptr) {
        HDC picture = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(picture, background_);
        ::BitBlt(dc, 0, top, VIEW_COPY_WIDTH, VIEW_COPY_HEIGHT, picture, 0, 0, SRCCOPY);
        ::SelectObject(picture, old);
        ::DeleteDC(picture);
    }
    ::EndPaint(window_, &paint);
}

LRESULT CALLBACK Win32MainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        static_cast<Win32MainFrame*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<Win32MainFrame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT Win32MainFrame::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_SIZE:
        LayOut();
        return 0;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND: {
        RECT client{};
        ::GetClientRect(window_, &client);
        ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_TIMER:
        if (wParam == TIME_PANE_TIMER_ID) {
            UpdateTimePane();
        }
        return 0;
    case WM_MENUSELECT: {
        const UINT flags = HIWORD(wParam);
        const int id = LOWORD(wParam);
        if (flags == 0xFFFF && lParam == 0) {
            ShowPrompt(0);
        } else if ((flags & (MF_POPUP | MF_SEPARATOR)) == 0) {
            ShowPrompt(id);
        }
        return 0;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == toolBar_ && header->code == TBN_HOTITEMCHANGE) {
            // The fly-by prompt: the button under the pointer, "Ready" once it has left.
            const auto* hot = reinterpret_cast<NMTBHOTITEM*>(lParam);
            ShowPrompt((hot->dwFlags & HICF_LEAVING) != 0 ? 0 : hot->idNew);
            return 0;
        }
        if (header->code == TTN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            const auto found = tooltips_.find(static_cast<int>(header->idFrom));
            if (found != tooltips_.end()) {
                info->lpszText = found->second.data();
            }
        }
        return 0;
    }
    case WM_SETCURSOR:
        if (port_.Waiting()) {
            port_.RestoreCursor();
            return TRUE;
        }
        break;
    case WM_DROPFILES: {
        auto* drop = reinterpret_cast<HDROP>(wParam);
        std::vector<wchar_t> name(32768, L'\0');
        if (::DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size())) > 0) {
            OpenDocument(name.data());
        }
        ::DragFinish(drop);
        return 0;
    }
    case WM_DESTROY:
        ::KillTimer(window_, TIME_PANE_TIMER_ID);
        ::PostQuitMessage(0);
        window_ = nullptr;
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace tarvik
