#pragma once
// The About box: the program icon, the version text and OK.

#include "dialogs/dialog.h"

namespace tarvik {

class CAboutDlg final : public CDialog {
public:
    explicit CAboutDlg(NativeWindow owner);
};

}  // namespace tarvik
