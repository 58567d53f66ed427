#pragma once
// How modal dialogs are run. The program runs them with the dialog's own event loop; tests
// give a runner that acts on the dialog the way a user would and closes it.

namespace tarvik {

class TemplateDialog;

class DialogRunner {
public:
    virtual ~DialogRunner() = default;
    // Runs an initialised dialog modally; returns QDialog::Accepted or QDialog::Rejected.
    virtual int RunModal(TemplateDialog& dialog) = 0;
};

// The dialog's own modal loop. A wait cursor put up by the command that opened the dialog
// gives way to the arrow while the dialog is up.
class ExecDialogRunner final : public DialogRunner {
public:
    int RunModal(TemplateDialog& dialog) override;
};

}  // namespace tarvik
