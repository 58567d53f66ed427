#include "dialogs/browse_target_dlg.h"

#include <cctype>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "dialogs/info_dialogs.h"
#include "res/resource_ids.h"

namespace tarvik {

CBrowseTargetDlg::CBrowseTargetDlg(DialogContext& context)
    : CDialog(res::IDD_BROWSE_TARGET, context.Owner), context_(context)
{
}

void CBrowseTargetDlg::OnInitDialog()
{
    // Whatever was chosen before is forgotten as soon as the dialog opens, even if it is
    // cancelled at once.
    context_.Run.SelectedTarget.clear();
    std::vector<std::string> names;
    if (!BrowseTargets(context_.Run, context_.Port, names)) {
        return;
    }
    std::size_t added = 0;
    for (std::string name : names) {
        if (added++ == BROWSE_LIST_ROWS) {
            break;
        }
        // Device names are ASCII on the wire.
        for (char& letter : name) {
            letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
        }
        ListAddString(res::IDC_NAME_LIST, name);
    }
}

void CBrowseTargetDlg::OnSelectionChange(int id)
{
    const int caret = ListCaret(id);
    if (caret < 0) {
        return;
    }
    chosen_ = ListText(id, caret);
    SetItemText(res::IDC_NAME_EDIT, chosen_);
    context_.Run.SelectedTarget = chosen_;
}

void CBrowseTargetDlg::OnOK()
{
    if (!context_.Run.SelectedTarget.empty()) {
        DialogContext nested = NestedIn(context_, Window().Native());
        RunShowDeviceInformation(nested);
    }
    EndDialog(res::IDOK);
}

void RunBrowseTarget(DialogContext& context)
{
    WaitCursorGuard cursor(context.Port);
    CBrowseTargetDlg dialog(context);
    dialog.DoModal(context.Runner);
}

}  // namespace tarvik
