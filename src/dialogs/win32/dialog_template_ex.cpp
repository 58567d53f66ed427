#include "dialogs/win32/win32_api.h"

#include "dialogs/win32/dialog_template_ex.h"

#include "res/resource_ids.h"

namespace tarvik {
namespace {

// The predefined classes, by the ordinals a template names them with.
constexpr std::uint16_t CLASS_BUTTON = 0x0080;
constexpr std::uint16_t CLASS_EDIT = 0x0081;
constexpr std::uint16_t CLASS_STATIC = 0x0082;
constexpr std::uint16_t CLASS_LISTBOX = 0x0083;

class TemplateWriter {
public:
    void Word(std::uint16_t value) { words_.push_back(value); }
    void Dword(std::uint32_t value)
    {
        Word(static_cast<std::uint16_t>(value & 0xFFFF));
        Word(static_cast<std::uint16_t>(value >> 16));
    }
    void Short(int value) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(value))); }
    void Text(std::string_view text)
    {
        for (const wchar_t unit : WideText(text)) {
            Word(static_cast<std::uint16_t>(unit));
        }
        Word(0);
    }
    void Ordinal(std::uint16_t value)
    {
        Word(0xFFFF);
        Word(value);
    }
    // Every item starts on a DWORD boundary.
    void AlignDword()
    {
        if (words_.size() % 2 != 0) {
            Word(0);
        }
    }
    std::vector<std::uint16_t> Take() { return std::move(words_); }

private:
    std::vector<std::uint16_t> words_;
};

}  // namespace

std::uint32_t Win32DialogStyle(const res::DialogTemplate& dialog)
{
    // Made hidden: the modal loop or the progress window shows it once its texts are in.
    std::uint32_t style = DS_SETFONT;
    if ((dialog.Style & res::DLG_POPUP) != 0) {
        style |= WS_POPUP;
    }
    if ((dialog.Style & res::DLG_CAPTION) != 0) {
        style |= WS_CAPTION;
    }
    if ((dialog.Style & res::DLG_SYSMENU) != 0) {
        style |= WS_SYSMENU;
    }
    if ((dialog.Style & res::DLG_MODALFRAME) != 0) {
        style |= DS_MODALFRAME;
    }
    if ((dialog.Style & res::DLG_SETFOREGROUND) != 0) {
        style |= DS_SETFOREGROUND;
    }
    return style;
}

std::uint32_t Win32ControlStyle(const res::ControlTemplate& control)
{
    std::uint32_t style = WS_CHILD | WS_VISIBLE;
    const std::uint32_t given = control.Style;
    if ((given & res::CTL_TABSTOP) != 0) {
        style |= WS_TABSTOP;
    }
    if ((given & res::CTL_GROUP) != 0) {
        style |= WS_GROUP;
    }
    if ((given & res::CTL_BORDER) != 0) {
        style |= WS_BORDER;
    }
    if ((given & res::CTL_VSCROLL) != 0) {
        style |= WS_VSCROLL;
    }
    switch (control.Kind) {
    case res::ControlKind::PushButton:
        style |= BS_PUSHBUTTON;
        break;
    case res::ControlKind::DefPushButton:
        style |= BS_DEFPUSHBUTTON;
        break;
    case res::ControlKind::Edit:
        style |= ES_LEFT;
        if ((given & res::CTL_AUTOHSCROLL) != 0) {
            style |= ES_AUTOHSCROLL;
        }
        if ((given & res::CTL_READONLY) != 0) {
            style |= ES_READONLY;
        }
        break;
    case res::ControlKind::ListBox:
        if ((given & res::CTL_NOTIFY) != 0) {
            style |= LBS_NOTIFY;
        }
        if ((given & res::CTL_SORT) != 0) {
            style |= LBS_SORT;
        }
        if ((given & res::CTL_NOINTEGRALHEIGHT) != 0) {
            style |= LBS_NOINTEGRALHEIGHT;
        }
        break;
    case res::ControlKind::Static:
        style |= SS_LEFT;
        if ((given & res::CTL_NOPREFIX) != 0) {
            style |= SS_NOPREFIX;
        }
        break;
    case res::ControlKind::Icon:
        style |= SS_ICON;
        break;
    case res::ControlKind::ProgressBar:
        break;
    }
    return style;
}

std::vector<std::uint16_t> BuildDialogTemplateEx(const res::DialogTemplate& dialog)
{
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature: the extended form
    out.Dword(0);      // helpID
    out.Dword(0);      // exStyle
    out.Dword(Win32DialogStyle(dialog));
    out.Word(static_cast<std::uint16_t>(dialog.Controls.size()));
    out.Short(0);
    out.Short(0);
    out.Short(dialog.Width);
    out.Short(dialog.Height);
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(dialog.Caption);
    out.Word(static_cast<std::uint16_t>(dialog.PointSize));
    out.Word(FW_NORMAL);
    out.Word(0);  // not italic; the default character set
    out.Text(dialog.FontName);

    for (const res::ControlTemplate& control : dialog.Controls) {
        out.AlignDword();
        out.Dword(0);  // helpID
        out.Dword(0);  // exStyle
        out.Dword(Win32ControlStyle(control));
        out.Short(control.X);
        out.Short(control.Y);
        out.Short(control.Width);
        out.Short(control.Height);
        out.Dword(static_cast<std::uint32_t>(control.Id));
        switch (control.Kind) {
        case res::ControlKind::PushButton:
        case res::ControlKind::DefPushButton:
            out.Ordinal(CLASS_BUTTON);
            break;
        case res::ControlKind::Edit:
            out.Ordinal(CLASS_EDIT);
            break;
        case res::ControlKind::ListBox:
            out.Ordinal(CLASS_LISTBOX);
            break;
        case res::ControlKind::Static:
        case res::ControlKind::Icon:
            out.Ordinal(CLASS_STATIC);
            break;
        case res::ControlKind::ProgressBar:
            out.Text("msctls_progress32");
            break;
        }
        if (control.Kind == res::ControlKind::Icon) {
            // The program icon from the module's resources.
            out.Ordinal(static_cast<std::uint16_t>(res::IDR_MAINFRAME));
        } else {
            out.Text(control.Text);
        }
        out.Word(0);  // no creation data
    }
    return out.Take();
}

}  // namespace tarvik
