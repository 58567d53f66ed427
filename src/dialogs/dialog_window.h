#pragma once
// The control API: what a dialog does with its window, in the terms of its template. A dialog
// class names controls by their template ids and never sees a widget; each toolkit draws the
// template and implements these operations over its own controls (Qt widgets on Linux, the
// Win32 dialog manager on Windows).

#include <memory>
#include <string>
#include <string_view>

#include "res/dialog_templates.h"

namespace tarvik {

class CDialog;

// A window of the toolkit, as the toolkit knows it (a QWidget*, an HWND); null for none.
using NativeWindow = void*;

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    // The window as its toolkit knows it, to own other windows.
    virtual NativeWindow Native() = 0;

    // Texts of labels, boxes and buttons, UTF-8.
    virtual void SetItemText(int id, std::string_view text) = 0;
    virtual std::string ItemText(int id) const = 0;
    virtual void EnableItem(int id, bool enable) = 0;
    virtual bool IsItemEnabled(int id) const = 0;
    virtual void SetFocusItem(int id) = 0;
    // The button Enter presses when the focus is on no other push button.
    virtual void SetDefaultButton(int id) = 0;

    // List boxes. A sorted list puts a new row in its place: the return is the row it took.
    virtual int ListAddString(int id, std::string_view text) = 0;
    virtual int ListCount(int id) const = 0;
    virtual std::string ListText(int id, int row) const = 0;
    // The row with the caret, or -1; the selected row, or -1.
    virtual int ListCaret(int id) const = 0;
    virtual int ListSelection(int id) const = 0;

    // A progress bar's position (0 to 100), painted at once.
    virtual void SetProgressPosition(int id, int position) = 0;
    // Paints a control now, even while the user-interface thread is busy with other work.
    virtual void RepaintItem(int id) = 0;

    // A window without a modal loop: shown in front and painted before the call returns; hidden.
    virtual void ShowModeless() = 0;
    virtual void Hide() = 0;
    virtual bool IsShown() const = 0;

    // Ends the modal loop (or hides a window shown without one) with IDOK, IDCANCEL, ...
    virtual void EndDialog(int result) = 0;
};

// The window of the toolkit the program is built with, made from the template, hidden, with
// every control's events going to handler. Defined once per toolkit.
std::unique_ptr<DialogWindow> MakeDialogWindow(const res::DialogTemplate& dialog, CDialog& handler,
                                               NativeWindow owner);

}  // namespace tarvik
