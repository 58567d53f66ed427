// The Win32 renderer: every template becomes a dialog of the dialog manager whose controls
// carry their ids, classes, texts and styles, at the pixels Win32 makes of their dialog-unit
// rectangles with the template's font; and the control API reads back what it wrote.

#include "dialogs/win32/win32_api.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "dialogs/dialog.h"
#include "dialogs/win32/win32_dialog.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

std::string ClassOf(HWND window)
{
    std::array<wchar_t, 64> name{};
    const int length = ::GetClassNameW(window, name.data(), static_cast<int>(name.size()));
    return Utf8Text(std::wstring_view(name.data(), static_cast<std::size_t>(length)));
}

std::string TextOf(HWND window)
{
    std::array<wchar_t, 256> text{};
    const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return Utf8Text(std::wstring_view(text.data(), static_cast<std::size_t>(length)));
}

const char* ExpectedClass(res::ControlKind kind)
{
    switch (kind) {
    case res::ControlKind::PushButton:
    case res::ControlKind::DefPushButton:
        return "Button";
    case res::ControlKind::Edit:
        return "Edit";
    case res::ControlKind::ListBox:
        return "ListBox";
    case res::ControlKind::Static:
    case res::ControlKind::Icon:
        return "Static";
    case res::ControlKind::ProgressBar:
        return "msctls_progress32";
    }
    return "";
}

TEST(Win32RendererTest, EveryControlHasItsClassTextStyleAndConvertedRectangle)
{
    for (const res::DialogTemplate* dialogTemplate : res::AllDialogTemplates()) {
        CDialog dialog(dialogTemplate->Id, nullptr);
        HWND window = Win32Window(dialog).Handle();
        ASSERT_NE(window, nullptr) << dialogTemplate->Id;
        EXPECT_EQ(TextOf(window), dialogTemplate->Caption);
        EXPECT_FALSE(::IsWindowVisible(window)) << "shown only by its loop";
        RECT size{0, 0, dialogTemplate->Width, dialogTemplate->Height};
        ::MapDialogRect(window, &size);
        RECT client{};
        ::GetClientRect(window, &client);
        EXPECT_EQ(client.right, size.right) << dialogTemplate->Id;
        EXPECT_EQ(client.bottom, size.bottom) << dialogTemplate->Id;

        HWND child = ::GetWindow(window, GW_CHILD);
        for (const res::ControlTemplate& control : dialogTemplate->Controls) {
            // The children come in template order, which is the tab order.
            ASSERT_NE(child, nullptr) << dialogTemplate->Id << "/" << control.Id;
            EXPECT_EQ(::GetDlgCtrlID(child), control.Id) << dialogTemplate->Id;
            EXPECT_EQ(ClassOf(child), ExpectedClass(control.Kind)) << control.Id;
            if (control.Kind != res::ControlKind::Icon) {
                EXPECT_EQ(TextOf(child), control.Text) << control.Id;
            }
            // The origin and the size are converted each on its own, as the Qt builder does.
            RECT expected{control.X, control.Y, control.Width, control.Height};
            ::MapDialogRect(window, &expected);
            RECT shown{};
            ::GetWindowRect(child, &shown);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&shown), 2);
            EXPECT_EQ(shown.left, expected.left) << dialogTemplate->Id << "/" << control.Id;
            EXPECT_EQ(shown.top, expected.top) << dialogTemplate->Id << "/" << control.Id;
            // An icon takes the icon's size; a list box without the no-integral-height style
            // drops the part row that would not show whole.
            const bool integralList = control.Kind == res::ControlKind::ListBox &&
                                      (control.Style & res::CTL_NOINTEGRALHEIGHT) == 0;
            if (control.Kind != res::ControlKind::Icon) {
                EXPECT_EQ(shown.right - shown.left, expected.right) << control.Id;
            }
            if (integralList) {
                EXPECT_LE(shown.bottom - shown.top, expected.bottom) << control.Id;
            } else if (control.Kind != res::ControlKind::Icon) {
                EXPECT_EQ(shown.bottom - shown.top, expected.bottom) << control.Id;
            }
            const LONG style = ::GetWindowLongW(child, GWL_STYLE);
            EXPECT_EQ((style & WS_TABSTOP) != 0, (control.Style & res::CTL_TABSTOP) != 0)
                << control.Id;
            if (control.Kind == res::ControlKind::Edit) {
                EXPECT_EQ((style & ES_READONLY) != 0, (control.Style & res::CTL_READONLY) != 0)
                    << control.Id;
            }
            if (control.Kind == res::ControlKind::ListBox) {
                EXPECT_EQ((style & LBS_SORT) != 0, (control.Style & res::CTL_SORT) != 0);
                EXPECT_EQ((style & LBS_NOTIFY) != 0, (control.Style & res::CTL_NOTIFY) != 0);
            }
            child = ::GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "no control beyond the template's";
    }
}

TEST(Win32RendererTest, ASortedListPutsARowInItsPlaceAndTheApiReadsItBack)
{
    CDialog browse(res::IDD_BROWSE_TARGET, nullptr);
    EXPECT_EQ(browse.ListCaret(res::IDC_NAME_LIST), -1) << "an empty list has no caret";
    EXPECT_EQ(browse.ListAddString(res::IDC_NAME_LIST, "QV1A2B3C"), 0);
    EXPECT_EQ(browse.ListAddString(res::IDC_NAME_LIST, "QV000007"), 0);
    EXPECT_EQ(browse.ListText(res::IDC_NAME_LIST, 1), "QV1A2B3C");
    EXPECT_EQ(browse.ListSelection(res::IDC_NAME_LIST), -1);
    browse.SetItemText(res::IDC_NAME_EDIT, "Bild-äß-画像");
    EXPECT_EQ(browse.ItemText(res::IDC_NAME_EDIT), "Bild-äß-画像");
    browse.InitDialog();
    EXPECT_EQ(LOWORD(::SendMessageW(Win32Window(browse).Handle(), DM_GETDEFID, 0, 0)), res::IDOK);
}

}  // namespace
}  // namespace tarvik
