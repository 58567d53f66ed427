#pragma once
// Detected LAN Cards: the choice among two or more network adapters at start-up. The object
// is made before discovery runs and is shown only when discovery finds two or more.

#include <QString>

#include "commands/adapter_selection.h"
#include "dialogs/template_dialog.h"

namespace tarvik {

class DialogRunner;

class CLanCardDlg final : public TemplateDialog, public AdapterSelectionPort {
public:
    explicit CLanCardDlg(DialogRunner& runner, QWidget* parent = nullptr);

    // Runs the dialog over the list. However it is closed, list.Selection is the last item
    // the user selected, or 0.
    void SelectAdapter(AdapterList& list) override;

    // What OK read back from the controls; nothing uses it.
    const QString& EditText() const { return editText_; }
    const QString& ListText() const { return listText_; }

protected:
    void OnInitDialog() override;
    void OnSelectionChange(int id) override;
    void OnOK() override;

private:
    DialogRunner& runner_;
    AdapterList* list_ = nullptr;
    QString editText_;
    QString listText_;
};

}  // namespace tarvik
