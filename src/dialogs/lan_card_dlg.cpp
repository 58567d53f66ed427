#include "dialogs/lan_card_dlg.h"

#include "dialogs/dialog_runner.h"
#include "res/resource_ids.h"

namespace tarvik {

CLanCardDlg::CLanCardDlg(DialogRunner& runner, NativeWindow owner)
    : CDialog(res::IDD_LAN_CARD, owner), runner_(runner)
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
    const int count = static_cast<int>(list_->Descriptions.size());
    for (int i = 0; i < list_->Count && i < count; ++i) {
        ListAddString(res::IDC_NAME_LIST, list_->Descriptions[static_cast<std::size_t>(i)]);
    }
    // The first card is offered without being highlighted; OK alone takes it.
    if (ListCount(res::IDC_NAME_LIST) > 0) {
        SetItemText(res::IDC_NAME_EDIT, ListText(res::IDC_NAME_LIST, 0));
    }
}

void CLanCardDlg::OnSelectionChange(int id)
{
    const int caret = ListCaret(id);
    if (caret < 0 || list_ == nullptr) {
        return;
    }
    SetItemText(res::IDC_NAME_EDIT, ListText(id, caret));
    list_->Selection = caret;
}

void CLanCardDlg::OnOK()
{
    editText_ = ItemText(res::IDC_NAME_EDIT);
    const int selected = ListSelection(res::IDC_NAME_LIST);
    listText_ = selected < 0 ? std::string() : ListText(res::IDC_NAME_LIST, selected);
    EndDialog(res::IDOK);
}

}  // namespace tarvik
