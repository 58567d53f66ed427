#include "desktop/qt/kelbrin_app.h"

#include <QSettings>
#include <clocale>

#include "desktop/qt/kelbrin_view.h"
#include "commands/startup.h"
#include "dialogs/about_dlg.h"
#include "dialogs/qt/message_port.h"

namespace tarvik {
namespace {

constexpr char RECENT_FILE_GROUP[] = "Recent File List";

}  // namespace

CKelbrinApp::CKelbrinApp(AppServices& services, QStringList documentFiles)
    : services_(services),
      documentFiles_(std::move(documentFiles)), context_{services.Network, services.Network.State(),
                                                         services.Port, services.Runner, document_}
{
    context_.Trust = services.Trust;
}

CKelbrinApp::~CKelbrinApp()
{
    // The frame takes the view with it, and the view the adapter.
    delete frame_.data();
    SaveSettings();
}

int CKelbrinApp::InitInstance()
{
    // The time pane shows the time the way the user's locale writes it.
    std::setlocale(LC_ALL, "");
    LoadSettings();

    frame_ = new CMainFrame(*this);
    startupResult_ = frame_->View()->StartupResult();
    if (!frame_->Created()) {
        delete frame_.data();
        return StartupExitStatus(startupResult_);
    }
    context_.Owner = static_cast<QWidget*>(frame_.data());
    context_.StatusBar = frame_.data();
    if (auto* port = dynamic_cast<QtCommandPort*>(&services_.Port)) {
        port->SetOwner(frame_.data());
    }
    for (const QString& file : documentFiles_) {
        OnOpenDocument(file);
    }

    frame_->showNormal();
    frame_->update();
    frame_->setAcceptDrops(true);
    return 0;
}

void CKelbrinApp::OnAppAbout()
{
    CAboutDlg about(static_cast<QWidget*>(frame_.data()));
    about.DoModal(services_.Runner);
}

void CKelbrinApp::OnFileNew()
{
    document_.OnNewDocument();
    if (frame_ != nullptr) {
        frame_->UpdateTitle();
    }
}

void CKelbrinApp::OnOpenDocument(const QString& path)
{
    document_.OnOpenDocument(path);
    recentFiles_.removeAll(path);
    recentFiles_.prepend(path);
    while (recentFiles_.size() > RECENT_FILE_COUNT) {
        recentFiles_.removeLast();
    }
    recentFilesChanged_ = true;
    if (frame_ != nullptr) {
        frame_->UpdateTitle();
    }
}

void CKelbrinApp::LoadSettings()
{
    QSettings settings(QString::fromLatin1(SETTINGS_ORGANIZATION),
                       QString::fromLatin1(SETTINGS_APPLICATION));
    settings.beginGroup(QString::fromLatin1(RECENT_FILE_GROUP));
    recentFiles_.clear();
    for (int i = 1; i <= RECENT_FILE_COUNT; ++i) {
        const QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!file.isEmpty()) {
            recentFiles_.append(file);
        }
    }
}

void CKelbrinApp::SaveSettings()
{
    if (!recentFilesChanged_) {
        return;
    }
    QSettings settings(QString::fromLatin1(SETTINGS_ORGANIZATION),
                       QString::fromLatin1(SETTINGS_APPLICATION));
    settings.beginGroup(QString::fromLatin1(RECENT_FILE_GROUP));
    for (int i = 1; i <= RECENT_FILE_COUNT; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= recentFiles_.size()) {
            settings.setValue(key, recentFiles_[i - 1]);
        } else {
            settings.remove(key);
        }
    }
}

}  // namespace tarvik
