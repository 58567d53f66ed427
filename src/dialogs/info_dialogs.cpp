#include "dialogs/info_dialogs.h"

#include <array>

#include "commands/commands.h"
#include "res/resource_ids.h"

namespace tarvik {
namespace {

constexpr std::array<std::pair<int, DescriptorField>, 13> BOXES = {{
    {res::IDC_PID_VERSION, DescriptorField::PidVersion},
    {res::IDC_UPGRADE_CONTROL, DescriptorField::UpgradeControl},
    {res::IDC_HW_VERSION, DescriptorField::HwVersion},
    {res::IDC_BOARD_CODE, DescriptorField::BoardCode},
    {res::IDC_FW_VERSION, DescriptorField::FwVersion},
    {res::IDC_PRODUCT_ID, DescriptorField::ProductId},
    {res::IDC_PRODUCT_MASK, DescriptorField::ProductMask},
    {res::IDC_PROTOCOL_ID, DescriptorField::ProtocolId},
    {res::IDC_PROTOCOL_MASK, DescriptorField::ProtocolMask},
    {res::IDC_FUNCTION_ID, DescriptorField::FunctionId},
    {res::IDC_FUNCTION_MASK, DescriptorField::FunctionMask},
    {res::IDC_CODE_SEGMENT, DescriptorField::CodeSegment},
    {res::IDC_CODE_SIZE, DescriptorField::CodeSize},
}};

void FillBoxes(CDialog& dialog, const ImageDescriptor& descriptor)
{
    for (const auto& [box, field] : BOXES) {
        dialog.SetItemText(box, FormatField(descriptor, field));
    }
}

// The status bar is told only of a change, so that with no key installed it is never touched.
void ShowSignatureStatus(DialogContext& context, std::string text)
{
    if (text == context.Document.SignatureStatus) {
        return;
    }
    context.Document.SignatureStatus = std::move(text);
    if (context.StatusBar != nullptr) {
        context.StatusBar->SetIdleText(context.Document.SignatureStatus);
    }
}

}  // namespace

std::span<const std::pair<int, DescriptorField>> DescriptorBoxes()
{
    return BOXES;
}

CFileInfoDlg::CFileInfoDlg(DialogContext& context)
    : CDialog(res::IDD_FILE_INFO, context.Owner), context_(context)
{
}

void CFileInfoDlg::OnInitDialog()
{
    SetItemText(res::IDC_FILE_NAME, context_.Document.ImagePath);
    FillBoxes(*this, context_.Document.FileDescriptor);
}

CDeviceInfoDlg::CDeviceInfoDlg(DialogContext& context)
    : CDialog(res::IDD_DEVICE_INFO, context.Owner), context_(context)
{
}

void CDeviceInfoDlg::OnInitDialog()
{
    ImageDescriptor device;
    if (!ShowDeviceInformation(context_.Run, context_.Port, context_.Run.SelectedTarget, device)) {
        return;
    }
    SetItemText(res::IDC_DEVICE_NAME, context_.Run.SelectedTarget);
    FillBoxes(*this, device);
}

void RunShowFileInformation(DialogContext& context)
{
    WaitCursorGuard cursor(context.Port);
    if (!ShowFileInformation(context.Run, context.Port, context.Document.ImagePath,
                             context.Document.FileDescriptor)) {
        return;
    }
    CFileInfoDlg dialog(context);
    dialog.DoModal(context.Runner);
}

void RunSelectBinFile(DialogContext& context, const std::optional<std::string>& chosen)
{
    if (!chosen) {
        // Cancelling forgets the earlier choice; the descriptor read from it stays behind.
        context.Document.ImagePath.clear();
        ShowSignatureStatus(context, {});
        return;
    }
    context.Document.ImagePath = *chosen;
    if (context.Document.ImagePath.empty()) {
        ShowSignatureStatus(context, {});
        return;
    }
    // Said before the file's information opens, so that both are in view together. Upgrade
    // checks the file again: it may change on disk while it stays chosen.
    const ImageTrust trust =
        CheckImageTrust(context.Run.Files, context.Document.ImagePath, context.Trust);
    ShowSignatureStatus(context, SignatureStatusText(trust));
    RunShowFileInformation(context);
}

void RunShowDeviceInformation(DialogContext& context)
{
    WaitCursorGuard cursor(context.Port);
    CDeviceInfoDlg dialog(context);
    dialog.DoModal(context.Runner);
}

}  // namespace tarvik
