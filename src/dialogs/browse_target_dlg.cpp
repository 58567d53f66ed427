#include "dialogs/browse_target_dlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "dialogs/info_dialogs.h"
#include "res/resource_ids.h"

namespace tarvik {

CBrowseTargetDlg::CBrowseTargetDlg(DialogContext& context)
    : TemplateDialog(res::IDD_BROWSE_TARGET, context.Owner), context_(context)
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
    QListWidget* list = List(res::IDC_NAME_LIST);
    std::size_t added = 0;
    for (const std::string& name : names) {
        if (added++ == BROWSE_LIST_ROWS) {
            break;
        }
        list->addItem(QString::fromStdString(name).toUpper());
    }
}

void CBrowseTargetDlg::OnSelectionChange(int id)
{
    QListWidget* list = List(id);
    const QListWidgetItem* caret = list->item(list->currentRow());
    if (caret == nullptr) {
        return;
    }
    chosen_ = caret->text();
    Edit(res::IDC_NAME_EDIT)->setText(chosen_);
    context_.Run.SelectedTarget = chosen_.toStdString();
}

void CBrowseTargetDlg::OnOK()
{
    if (!context_.Run.SelectedTarget.empty()) {
        RunShowDeviceInformation(context_);
    }
    accept();
}

void RunBrowseTarget(DialogContext& context)
{
    WaitCursorGuard cursor(context.Port);
    CBrowseTargetDlg dialog(context);
    dialog.DoModal(context.Runner);
}

}  // namespace tarvik
