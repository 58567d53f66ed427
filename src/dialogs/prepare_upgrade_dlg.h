#pragma once
// Prepare For Upgrade: shows the selected file and device, opens their information, and runs
// the Upgrade with the progress window it owns.

#include "dialogs/dialog.h"
#include "dialogs/dialog_context.h"
#include "dialogs/upgrade_process_dlg.h"

namespace tarvik {

class CPrepareUpgradeDlg final : public CDialog {
public:
    explicit CPrepareUpgradeDlg(DialogContext& context);
    ~CPrepareUpgradeDlg() override;

    CUpgradeProcessDlg& Progress() { return progress_; }

protected:
    void OnInitDialog() override;
    void OnCommand(int id) override;

private:
    DialogContext& context_;
    CUpgradeProcessDlg progress_;
};

// The Prepare Upgrade command.
void RunPrepareUpgrade(DialogContext& context);

}  // namespace tarvik
