#pragma once
// Upgrade Process: the progress window of a transfer, a status line, a percent text and a
// bar. The object lives as long as the Prepare For Upgrade dialog; its window is made by the
// first transfer that starts and shown again by every later one.
//
// The transfer holds the user-interface thread, so nothing repaints by itself while it runs:
// every call below paints what it changed before returning.

#include <cstdint>
#include <memory>
#include <string>

#include "commands/command_port.h"
#include "dialogs/dialog.h"

namespace tarvik {

class CUpgradeProcessDlg final : public ProgressDisplay {
public:
    // The window, once made, belongs to owner.
    explicit CUpgradeProcessDlg(NativeWindow owner);
    ~CUpgradeProcessDlg() override;
    CUpgradeProcessDlg(const CUpgradeProcessDlg&) = delete;
    CUpgradeProcessDlg& operator=(const CUpgradeProcessDlg&) = delete;

    void BeginProgress(std::uint64_t bytesTotal) override;
    void SetProgress(const ProgressReport& report) override;

    // The window; null until the first transfer has started.
    CDialog* Window() const { return window_.get(); }
    const std::string& StatusText() const { return status_; }
    const std::string& PercentText() const { return percent_; }

private:
    void SetPercent(const ProgressPercent& percent);
    void PushTexts();

    NativeWindow owner_;
    std::string status_;
    std::string percent_;
    std::unique_ptr<CDialog> window_;
};

}  // namespace tarvik
