#pragma once
// A dialog as its class sees it: made from one of the program's templates, it speaks to its
// window through the control API (set the text of item 1004, fill list 1046, enable the
// Upgrade button, end with IDOK) and hears of the user's actions through the handlers below.
// No toolkit type appears here: the toolkit's window lives behind DialogWindow.

#include <memory>
#include <string>
#include <string_view>

#include "dialogs/dialog_window.h"
#include "res/dialog_templates.h"

namespace tarvik {

class DialogRunner;

class CDialog {
public:
    // The template must exist; owner is the window that owns the dialog (may be null).
    CDialog(int templateId, NativeWindow owner);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    const res::DialogTemplate& Template() const { return template_; }
    DialogWindow& Window() { return *window_; }

    // Runs the dialog's own initialisation the first time only, before the dialog is shown,
    // and gives the focus to the first enabled tab stop.
    void InitDialog();
    // Initialises the dialog and runs it modally through the runner; returns how it closed.
    int DoModal(DialogRunner& runner);

    // The control API, by template id.
    void SetItemText(int id, std::string_view text) { window_->SetItemText(id, text); }
    std::string ItemText(int id) const { return window_->ItemText(id); }
    void EnableItem(int id, bool enable) { window_->EnableItem(id, enable); }
    int ListAddString(int id, std::string_view text) { return window_->ListAddString(id, text); }
    int ListCount(int id) const { return window_->ListCount(id); }
    std::string ListText(int id, int row) const { return window_->ListText(id, row); }
    int ListCaret(int id) const { return window_->ListCaret(id); }
    int ListSelection(int id) const { return window_->ListSelection(id); }
    void EndDialog(int result) { window_->EndDialog(result); }

    // What the window reports: a push button was pressed (OK, Cancel and the Escape key
    // included), a list box that notifies has a new selection under its caret.
    void OnButton(int id);
    virtual void OnSelectionChange(int id) { (void)id; }

protected:
    virtual void OnInitDialog() {}
    // Button 1 and the Enter key on it. Ends with IDOK unless overridden.
    virtual void OnOK();
    virtual void OnCancel();
    // Push buttons other than OK and Cancel.
    virtual void OnCommand(int id) { (void)id; }

private:
    const res::DialogTemplate& template_;
    std::unique_ptr<DialogWindow> window_;
    bool initialised_ = false;
};

}  // namespace tarvik
