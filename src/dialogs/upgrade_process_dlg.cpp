#include "dialogs/upgrade_process_dlg.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "res/resource_ids.h"

namespace tarvik {

CUpgradeProcessDlg::CUpgradeProcessDlg(QWidget* owner) : owner_(owner) {}

CUpgradeProcessDlg::~CUpgradeProcessDlg() = default;

// The window shows texts and the bar only; the byte counts are for other displays.
void CUpgradeProcessDlg::BeginProgress(std::uint64_t /*bytesTotal*/)
{
    status_.clear();
    percent_.clear();
    if (window_ == nullptr) {
        window_ = std::make_unique<TemplateDialog>(res::IDD_UPGRADE_PROCESS, owner_);
        window_->setModal(false);
        TemplateDialog* window = window_.get();
        QObject::connect(window->Button(res::IDC_CLOSE_PROGRESS), &QPushButton::clicked, window,
                         [window] { window->hide(); });
        window_->InitDialog();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    PushTexts();
    QProgressBar* bar = window_->Bar(res::IDC_PROGRESS_BAR);
    bar->setRange(0, 100);
    bar->setValue(0);
    // A window shown for the first time needs the window system's answer before it can be
    // painted; user input stays queued until the transfer is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    window_->repaint();
}

void CUpgradeProcessDlg::SetProgress(const ProgressReport& report)
{
    if (const std::optional<std::string_view>& text = report.Text) {
        status_ = QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size()));
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
    percent_ = QString::asprintf("%d %%", percent.Number);
    if (window_ != nullptr) {
        QProgressBar* bar = window_->Bar(res::IDC_PROGRESS_BAR);
        bar->setValue(percent.Position);
        bar->repaint();
    }
}

void CUpgradeProcessDlg::PushTexts()
{
    QLabel* status = window_->Label(res::IDC_STATUS_TEXT);
    QLabel* percent = window_->Label(res::IDC_PERCENT_TEXT);
    status->setText(status_);
    percent->setText(percent_);
    status->repaint();
    percent->repaint();
}

}  // namespace tarvik
