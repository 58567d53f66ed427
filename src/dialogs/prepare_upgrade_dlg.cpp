#include "dialogs/prepare_upgrade_dlg.h"

#include "commands/signed_upgrade.h"
#include "dialogs/info_dialogs.h"
#include "res/resource_ids.h"

namespace tarvik {

CPrepareUpgradeDlg::CPrepareUpgradeDlg(DialogContext& context)
    : CDialog(res::IDD_PREPARE_UPGRADE, context.Owner), context_(context),
      progress_(Window().Native())
{
}

CPrepareUpgradeDlg::~CPrepareUpgradeDlg() = default;

void CPrepareUpgradeDlg::OnInitDialog()
{
    // Decided once: choosing a file or a device from inside this dialog is not possible, so
    // the states cannot go stale while it is open.
    const bool targetSelected = !context_.Run.SelectedTarget.empty();
    const bool fileSelected = !context_.Document.ImagePath.empty();
    EnableItem(res::IDC_UPGRADE, targetSelected && fileSelected);
    EnableItem(res::IDC_VIEW_TARGET_INFO, targetSelected);
    EnableItem(res::IDC_VIEW_FILE_INFO, fileSelected);
    SetItemText(res::IDC_DEVICE_FOR_UPGRADE, context_.Run.SelectedTarget);
    SetItemText(res::IDC_FILE_FOR_UPGRADE, context_.Document.ImagePath);
}

void CPrepareUpgradeDlg::OnCommand(int id)
{
    switch (id) {
    case res::IDC_VIEW_FILE_INFO: {
        DialogContext nested = NestedIn(context_, Window().Native());
        RunShowFileInformation(nested);
        break;
    }
    case res::IDC_VIEW_TARGET_INFO: {
        DialogContext nested = NestedIn(context_, Window().Native());
        RunShowDeviceInformation(nested);
        break;
    }
    case res::IDC_UPGRADE:
        RunSignedUpgradeCommand(context_.Network, context_.Port, progress_,
                                context_.Run.SelectedTarget, context_.Document.ImagePath,
                                context_.Trust);
        break;
    default:
        break;
    }
}

void RunPrepareUpgrade(DialogContext& context)
{
    CPrepareUpgradeDlg dialog(context);
    dialog.DoModal(context.Runner);
}

}  // namespace tarvik
