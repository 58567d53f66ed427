#include "dialogs/upgrade_process_dlg.h"

#include <cstdio>

#include "res/resource_ids.h"

namespace tarvik {
namespace {

// Close only hides the window: the next transfer shows it again.
class CProgressWindow final : public CDialog {
public:
    explicit CProgressWindow(NativeWindow owner) : CDialog(res::IDD_UPGRADE_PROCESS, owner) {}

protected:
    void OnCommand(int id) override
    {
        if (id == res::IDC_CLOSE_PROGRESS) {
            Window().Hide();
        }
    }
};

}  // namespace

CUpgradeProcessDlg::CUpgradeProcessDlg(NativeWindow owner) : owner_(owner) {}

CUpgradeProcessDlg::~CUpgradeProcessDlg() = default;

// The window shows texts and the bar only; the byte counts are for other displays.
void CUpgradeProcessDlg::BeginProgress(std::uint64_t /*bytesTotal*/)
{
    status_.clear();
    percent_.clear();
    if (window_ == nullptr) {
        window_ = std::make_unique<CProgressWindow>(owner_);
        window_->InitDialog();
    }
    // Emptied before the window shows, so that a second transfer never flashes the last
    // one's end.
    PushTexts();
    DialogWindow& window = window_->Window();
    window.SetProgressPosition(res::IDC_PROGRESS_BAR, 0);
    window.ShowModeless();
}

void CUpgradeProcessDlg::SetProgress(const ProgressReport& report)
{
    if (const std::optional<std::string_view>& text = report.Text) {
        status_ = std::string(*text);
    }
    if (report.Percent) {
        SetPercent(*report.Percent);
    }
    if (window_ != nullptr) {
        PushTexts();
    }
}

// The bar is painted at once; the texts when they are pushed.
void CUpgradeProcessDlg::SetPercent(const ProgressPercent& percent)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d %%", percent.Number);
    percent_ = text;
    if (window_ != nullptr) {
        window_->Window().SetProgressPosition(res::IDC_PROGRESS_BAR, percent.Position);
    }
}

void CUpgradeProcessDlg::PushTexts()
{
    DialogWindow& window = window_->Window();
    window.SetItemText(res::IDC_STATUS_TEXT, status_);
    window.SetItemText(res::IDC_PERCENT_TEXT, percent_);
    window.RepaintItem(res::IDC_STATUS_TEXT);
    window.RepaintItem(res::IDC_PERCENT_TEXT);
}

}  // namespace tarvik
