// tarvik-window-texts: reads back, from outside, the windows another Windows program shows,
// for the desktop tests under Wine. Each line is tab-separated.
//   show TITLE        the shown top-level window of that title: "window", its handle, title
//                     and screen rectangle; then per control "control", id, class, text,
//                     screen rectangle and whether it is enabled; per list box row "row", the
//                     list's id, the row, its text and the rows' height in pixels; per
//                     status-bar pane "pane", its index and drawing flags; per toolbar button
//                     "button", its index and screen rectangle. Status 1 when there is no
//                     such window.
//   check TEMPLATE    the shown window of the template's caption against the template: each
//                     control's id, class and text (labels and buttons). Status 1 on the first
//                     difference, which it names.

#include "dialogs/win32/win32_api.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/dialog_templates.h"

namespace {

using tarvik::Utf8Text;
using tarvik::WideText;

std::string ClassOf(HWND window)
{
    wchar_t name[64] = {};
    const int length = ::GetClassNameW(window, name, 64);
    return Utf8Text(std::wstring_view(name, static_cast<std::size_t>(length)));
}

std::string TextOf(HWND window)
{
    std::vector<wchar_t> text(4096, L'\0');
    const LRESULT length =
        ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return Utf8Text(std::wstring_view(text.data(), static_cast<std::size_t>(length)));
}

std::string RectOf(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    char text[64];
    std::snprintf(text, sizeof text, "%ld %ld %ld %ld", rect.left, rect.top, rect.right,
                  rect.bottom);
    return text;
}

// Per pane of a status bar, "pane", its index and its drawing flags (SBT_NOBORDERS, ...).
void PrintPanes(HWND bar)
{
    const LRESULT count = ::SendMessageW(bar, SB_GETPARTS, 0, 0);
    for (LRESULT pane = 0; pane < count; ++pane) {
        const LRESULT length = ::SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(pane), 0);
        std::printf("pane\t%d\t0x%04x\n", static_cast<int>(pane),
                    static_cast<unsigned>(HIWORD(length)));
    }
}

// Per button of a toolbar, "button", its index and its screen rectangle. The buttons are all
// of one size, side by side from the toolbar's left (a rectangle asked of the toolbar itself
// would not cross from its process to this one).
void PrintButtons(HWND toolbar)
{
    RECT bar{};
    ::GetWindowRect(toolbar, &bar);
    const LRESULT count = ::SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0);
    const LRESULT size = ::SendMessageW(toolbar, TB_GETBUTTONSIZE, 0, 0);
    const long width = LOWORD(size);
    const long height = HIWORD(size);
    for (LRESULT button = 0; button < count; ++button) {
        const long left = bar.left + static_cast<long>(button) * width;
        std::printf("button\t%d\t%ld %ld %ld %ld\n", static_cast<int>(button), left, bar.top,
                    left + width, bar.top + height);
    }
}

struct Search {
    std::wstring Title;
    HWND Found = nullptr;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    std::vector<wchar_t> title(512, L'\0');
    const int length = ::GetWindowTextW(window, title.data(), static_cast<int>(title.size()));
    if (::IsWindowVisible(window) &&
        std::wstring_view(title.data(), static_cast<std::size_t>(length)) == search->Title) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindShown(const std::string& title)
{
    Search search{WideText(title)};
    ::EnumWindows(&MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

int Show(const std::string& title)
{
    HWND window = FindShown(title);
    if (window == nullptr) {
        std::fprintf(stderr, "tarvik-window-texts: no window titled \"%s\"\n", title.c_str());
        return 1;
    }
    std::printf("window\t%p\t%s\t%s\n", static_cast<void*>(window), title.c_str(),
                RectOf(window).c_str());
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        const int id = ::GetDlgCtrlID(child);
        const std::string kind = ClassOf(child);
        std::printf("control\t%d\t%s\t%s\t%s\t%d\n", id, kind.c_str(), TextOf(child).c_str(),
                    RectOf(child).c_str(), ::IsWindowEnabled(child) ? 1 : 0);
        if (kind == "msctls_statusbar32") {
            PrintPanes(child);
        }
        if (kind == "ToolbarWindow32") {
            PrintButtons(child);
        }
        if (kind == "ListBox") {
            const LRESULT count = ::SendMessageW(child, LB_GETCOUNT, 0, 0);
            const LRESULT height = ::SendMessageW(child, LB_GETITEMHEIGHT, 0, 0);
            for (LRESULT row = 0; row < count; ++row) {
                std::vector<wchar_t> text(512, L'\0');
                const LRESULT length = ::SendMessageW(child, LB_GETTEXT, static_cast<WPARAM>(row),
                                                      reinterpret_cast<LPARAM>(text.data()));
                std::printf("row\t%d\t%d\t%s\t%d\n", id, static_cast<int>(row),
                            Utf8Text(std::wstring_view(text.data(),
                                                       length > 0 ? static_cast<std::size_t>(length)
                                                                  : 0))
                                .c_str(),
                            static_cast<int>(height));
            }
        }
    }
    return 0;
}

const char* ClassFor(tarvik::res::ControlKind kind)
{
    switch (kind) {
    case tarvik::res::ControlKind::PushButton:
    case tarvik::res::ControlKind::DefPushButton:
        return "Button";
    case tarvik::res::ControlKind::Edit:
        return "Edit";
    case tarvik::res::ControlKind::ListBox:
        return "ListBox";
    case tarvik::res::ControlKind::Static:
    case tarvik::res::ControlKind::Icon:
        return "Static";
    case tarvik::res::ControlKind::ProgressBar:
        return "msctls_progress32";
    }
    return "";
}

int Check(int templateId)
{
    const tarvik::res::DialogTemplate* dialog = tarvik::res::FindDialogTemplate(templateId);
    if (dialog == nullptr) {
        std::fprintf(stderr, "tarvik-window-texts: no template %d\n", templateId);
        return 2;
    }
    const std::string caption(dialog->Caption);
    HWND window = FindShown(caption);
    if (window == nullptr) {
        std::fprintf(stderr, "tarvik-window-texts: no window titled \"%s\"\n", caption.c_str());
        return 1;
    }
    HWND child = ::GetWindow(window, GW_CHILD);
    for (const tarvik::res::ControlTemplate& control : dialog->Controls) {
        if (child == nullptr) {
            std::fprintf(stderr, "%s: control %d is missing\n", caption.c_str(), control.Id);
            return 1;
        }
        const int id = ::GetDlgCtrlID(child);
        const std::string kind = ClassOf(child);
        const std::string text = TextOf(child);
        const bool fixedText = control.Kind == tarvik::res::ControlKind::Static ||
                               control.Kind == tarvik::res::ControlKind::PushButton ||
                               control.Kind == tarvik::res::ControlKind::DefPushButton;
        // Labels the dialog fills at run time (the progress texts) have no text to compare.
        if (id != control.Id || kind != ClassFor(control.Kind) ||
            (fixedText && !control.Text.empty() && text != control.Text)) {
            std::fprintf(stderr, "%s: control %d is %s \"%s\", the template has %d %s \"%.*s\"\n",
                         caption.c_str(), id, kind.c_str(), text.c_str(), control.Id,
                         ClassFor(control.Kind), static_cast<int>(control.Text.size()),
                         control.Text.data());
            return 1;
        }
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    std::printf("%s: %zu controls as the template has them\n", caption.c_str(),
                dialog->Controls.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "show") {
        return Show(argv[2]);
    }
    if (argc == 3 && std::string(argv[1]) == "check") {
        return Check(std::atoi(argv[2]));
    }
    std::fprintf(stderr, "usage: tarvik-window-texts show TITLE | check TEMPLATE\n");
    return 2;
}
