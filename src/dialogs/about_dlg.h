#pragma once
// The About box: the program icon, the version text and OK.

#include "dialogs/template_dialog.h"

namespace tarvik {

class CAboutDlg final : public TemplateDialog {
public:
    explicit CAboutDlg(QWidget* parent);
};

}  // namespace tarvik
