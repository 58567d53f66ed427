#pragma once
// Detected LAN Cards: the choice among two or more network adapters at start-up. The object
// is made before discovery runs and is shown only when discovery finds two or more.

#include <string>

#include "commands/adapter_selection.h"
#include "dialogs/dialog.h"

namespace tarvik {

class DialogRunner;

class CLanCardDlg final : public CDialog, public AdapterSelectionPort {
public:
    explicit CLanCardDlg(DialogRunner& runner, NativeWindow owner = nullptr);

    // Runs the dialog over the list. However it is closed, list.Selection is the last item
    // the user selected, or 0.
    void SelectAdapter(AdapterList& list) override;

    // What OK read back from the controls; nothing uses it.
    const std::string& EditText() const { return editText_; }
    const std::string& ChosenListText() const { return listText_; }

    void OnSelectionChange(int id) override;

protected:
    void OnInitDialog() override;
    void OnOK() override;

private:
    DialogRunner& runner_;
    AdapterList* list_ = nullptr;
    std::string editText_;
    std::string listText_;
};

}  // namespace tarvik
