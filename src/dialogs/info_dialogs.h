#pragma once
// The File Information and Device Information dialogs, which show an image descriptor field
// by field in read-only boxes, and the two operations that open them.

#include <optional>
#include <span>
#include <string>
#include <utility>

#include "dialogs/dialog.h"
#include "dialogs/dialog_context.h"

namespace tarvik {

// Which box of the information dialogs shows which field.
std::span<const std::pair<int, DescriptorField>> DescriptorBoxes();

// Shows the selected image's descriptor, read afresh when the dialog opens.
class CFileInfoDlg final : public CDialog {
public:
    explicit CFileInfoDlg(DialogContext& context);

protected:
    void OnInitDialog() override;

private:
    DialogContext& context_;
};

// Asks the selected device for its descriptor while opening, and shows it; every box stays
// empty when the device does not answer.
class CDeviceInfoDlg final : public CDialog {
public:
    explicit CDeviceInfoDlg(DialogContext& context);

protected:
    void OnInitDialog() override;

private:
    DialogContext& context_;
};

// Reads the descriptor of the selected image into the document and shows it; shows
// MSG_FILE_ACCESS_ERROR instead when it cannot be read.
void RunShowFileInformation(DialogContext& context);
// Opens the Device Information dialog for the selected target.
void RunShowDeviceInformation(DialogContext& context);
// Select BIN File, once the file-open dialog has answered (nothing when it was cancelled):
// the chosen file becomes the selected image, the status bar says who signed it, and its
// information is shown.
void RunSelectBinFile(DialogContext& context, const std::optional<std::string>& chosen);

}  // namespace tarvik
