#include "dialogs/about_dlg.h"

#include "res/resource_ids.h"

namespace tarvik {

CAboutDlg::CAboutDlg(NativeWindow owner) : CDialog(res::IDD_ABOUTBOX, owner) {}

}  // namespace tarvik
