#pragma once
// Browsed Devices on Network: finds the targets on the segment while it opens, lists their
// names, and makes the one the user picks the run's SelectedTarget.

#include <string>

#include "dialogs/dialog.h"
#include "dialogs/dialog_context.h"

namespace tarvik {

class CBrowseTargetDlg final : public CDialog {
public:
    explicit CBrowseTargetDlg(DialogContext& context);

    const std::string& ChosenName() const { return chosen_; }

    void OnSelectionChange(int id) override;

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    DialogContext& context_;
    std::string chosen_;
};

// The Browse Target command: the dialog under the wait cursor.
void RunBrowseTarget(DialogContext& context);

}  // namespace tarvik
