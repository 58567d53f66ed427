#include "dialogs/dialog.h"

#include <cstdlib>

#include "dialogs/dialog_runner.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

const res::DialogTemplate& TemplateOrDie(int templateId)
{
    const res::DialogTemplate* found = res::FindDialogTemplate(templateId);
    if (found == nullptr) {
        // A dialog class naming a template the program lacks is a programming error.
        std::abort();
    }
    return *found;
}

}  // namespace

CDialog::CDialog(int templateId, NativeWindow owner)
    : template_(TemplateOrDie(templateId)), window_(MakeDialogWindow(template_, *this, owner))
{
}

CDialog::~CDialog() = default;

void CDialog::InitDialog()
{
    if (initialised_) {
        return;
    }
    initialised_ = true;
    // Enter presses the focused button, else the dialog's default one: OK where the template
    // gives it the default style.
    for (const res::ControlTemplate& control : template_.Controls) {
        if (control.Id == res::IDOK && control.Kind == res::ControlKind::DefPushButton) {
            window_->SetDefaultButton(res::IDOK);
        }
    }
    OnInitDialog();
    for (const res::ControlTemplate& control : template_.Controls) {
        if ((control.Style & res::CTL_TABSTOP) != 0 && control.Id != res::IDC_STATIC &&
            window_->IsItemEnabled(control.Id)) {
            window_->SetFocusItem(control.Id);
            break;
        }
    }
}

int CDialog::DoModal(DialogRunner& runner)
{
    InitDialog();
    return runner.RunModal(*this);
}

void CDialog::OnButton(int id)
{
    if (id == res::IDOK) {
        OnOK();
    } else if (id == res::IDCANCEL) {
        OnCancel();
    } else {
        OnCommand(id);
    }
}

void CDialog::OnOK()
{
    EndDialog(res::IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(res::IDCANCEL);
}

}  // namespace tarvik
