#pragma once
// Browsed Devices on Network: finds the targets on the segment while it opens, lists their
// names, and makes the one the user picks the run's SelectedTarget.

#include <QString>

#include "dialogs/dialog_context.h"
#include "dialogs/template_dialog.h"

namespace tarvik {

class CBrowseTargetDlg final : public TemplateDialog {
public:
    explicit CBrowseTargetDlg(DialogContext& context);

    const QString& ChosenName() const { return chosen_; }

protected:
    void OnInitDialog() override;
    void OnSelectionChange(int id) override;
    void OnOK() override;

private:
    DialogContext& context_;
    QString chosen_;
};

// The Browse Target command: the dialog under the wait cursor.
void RunBrowseTarget(DialogContext& context);

}  // namespace tarvik
