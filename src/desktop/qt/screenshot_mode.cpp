#include "desktop/qt/screenshot_mode.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

#include "desktop/qt/kelbrin_app.h"
#include "desktop/qt/kelbrin_view.h"
#include "dialogs/prepare_upgrade_dlg.h"
#include "dialogs/qt/template_dialog.h"
#include "res/resource_ids.h"

namespace tarvik {

ScreenshotSession::ScreenshotSession(QString directory, std::string imagePath,
                                     std::string targetName)
    : directory_(std::move(directory)), imagePath_(std::move(imagePath)),
      targetName_(QString::fromStdString(targetName))
{
}

bool ScreenshotSession::Save(QWidget& window, const QString& name)
{
    window.show();
    window.raise();
    // Twice: what the first pass changes (the time pane taking over from "Time", and so its
    // width) is laid out only by the next one.
    QApplication::processEvents();
    QApplication::processEvents();
    const QString path = QDir(directory_).filePath(name);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "tarvik: cannot write %s\n", qPrintable(path));
        failed_ = true;
        return false;
    }
    saved_.append(path);
    return true;
}

int ScreenshotSession::RunModal(CDialog& handler)
{
    TemplateDialog& dialog = QtWindow(handler);
    switch (dialog.Template().Id) {
    case res::IDD_FILE_INFO:
        Save(dialog, QStringLiteral("file-information.png"));
        break;
    case res::IDD_BROWSE_TARGET: {
        const QList<QListWidgetItem*> found =
            dialog.List(res::IDC_NAME_LIST)->findItems(targetName_, Qt::MatchExactly);
        if (!found.isEmpty()) {
            dialog.List(res::IDC_NAME_LIST)->setCurrentItem(found.front());
        }
        Save(dialog, QStringLiteral("browse.png"));
        // OK shows the chosen device's information before the dialog closes.
        dialog.Button(res::IDOK)->click();
        break;
    }
    case res::IDD_DEVICE_INFO:
        Save(dialog, QStringLiteral("device-information.png"));
        break;
    case res::IDD_PREPARE_UPGRADE: {
        Save(dialog, QStringLiteral("prepare.png"));
        dialog.Button(res::IDC_UPGRADE)->click();
        auto& prepare = static_cast<CPrepareUpgradeDlg&>(handler);
        if (CDialog* progress = prepare.Progress().Window()) {
            Save(QtWindow(*progress), QStringLiteral("progress.png"));
        } else {
            failed_ = true;
        }
        break;
    }
    default:
        break;
    }
    dialog.hide();
    return res::IDOK;
}

std::optional<std::string> ScreenshotSession::ChooseImageFile()
{
    return imagePath_;
}

void ScreenshotSession::ShowMessage(std::string_view text)
{
    std::fprintf(stderr, "tarvik: %.*s\n", static_cast<int>(text.size()), text.data());
    failed_ = true;
}

int ScreenshotSession::Run(CKelbrinApp& app)
{
    if (!QDir().mkpath(directory_)) {
        std::fprintf(stderr, "tarvik: cannot make %s\n", qPrintable(directory_));
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    Save(*frame, QStringLiteral("main-window.png"));
    CKelbrinView* view = frame->View();
    view->OnSelectBinFile();
    view->OnBrowseTarget();
    view->OnPrepareUpgrade();
    frame->close();
    return failed_ ? 1 : 0;
}

}  // namespace tarvik
