#pragma once
// How modal dialogs are run. The program runs them with the toolkit's own modal loop; tests
// give a runner that acts on the dialog the way a user would and closes it.

namespace tarvik {

class CDialog;

class DialogRunner {
public:
    virtual ~DialogRunner() = default;
    // Runs an initialised dialog modally; returns how it ended (IDOK, IDCANCEL, ...).
    virtual int RunModal(CDialog& dialog) = 0;
};

}  // namespace tarvik
