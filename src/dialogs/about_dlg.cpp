#include "dialogs/about_dlg.h"

#include "res/pictures.h"
#include "res/resource_ids.h"

namespace tarvik {

CAboutDlg::CAboutDlg(QWidget* parent) : TemplateDialog(res::IDD_ABOUTBOX, parent)
{
    setWindowIcon(res::ProgramIcon());
}

}  // namespace tarvik
