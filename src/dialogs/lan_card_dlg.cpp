#include "dialogs/lan_card_dlg.h"

#include <QLineEdit>
#include <QListWidget>

#include "dialogs/dialog_runner.h"
#include "res/resource_ids.h"

namespace tarvik {

CLanCardDlg::CLanCardDlg(DialogRunner& runner, QWidget* parent)
    : TemplateDialog(res::IDD_LAN_CARD, parent), runner_(runner)
{
}

void CLanCardDlg::SelectAdapter(AdapterList& list)
{
    list_ = &list;
    list.Selection = 0;
    DoModal(runner_);
    list_ = nullptr;
}

void CLanCardDlg::OnInitDialog()
{
    QListWidget* box = List(res::IDC_NAME_LIST);
    const int count = static_cast<int>(list_->Descriptions.size());
    for (int i = 0; i < list_->Count && i < count; ++i) {
        box->addItem(QString::fromStdString(list_->Descriptions[static_cast<std::size_t>(i)]));
    }
    // The first card is offered without being highlighted; OK alone takes it.
    if (box->count() > 0) {
        Edit(res::IDC_NAME_EDIT)->setText(box->item(0)->text());
    }
}

void CLanCardDlg::OnSelectionChange(int id)
{
    QListWidget* box = List(id);
    const int caret = box->currentRow();
    if (caret < 0 || list_ == nullptr) {
        return;
    }
    Edit(res::IDC_NAME_EDIT)->setText(box->item(caret)->text());
    list_->Selection = caret;
}

void CLanCardDlg::OnOK()
{
    editText_ = Edit(res::IDC_NAME_EDIT)->text();
    const QList<QListWidgetItem*> selected = List(res::IDC_NAME_LIST)->selectedItems();
    listText_ = selected.isEmpty() ? QString() : selected.front()->text();
    accept();
}

}  // namespace tarvik
