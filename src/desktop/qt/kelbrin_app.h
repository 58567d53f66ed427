#pragma once
// The application: one per run. It holds the document and the main window over the run's
// environment (the adapter binding and everything the protocol keeps), and starts them in
// order.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

#include "desktop/qt/app_services.h"
#include "desktop/qt/kelbrin_doc.h"
#include "desktop/qt/main_frame.h"
#include "dialogs/dialog_context.h"

namespace tarvik {

// Where the per-user settings live, and how many recent files they keep. Nothing reads them.
inline constexpr char SETTINGS_ORGANIZATION[] = "Local AppWizard-Generated Applications";
inline constexpr char SETTINGS_APPLICATION[] = "Tarvik";
inline constexpr int RECENT_FILE_COUNT = 3;

class CKelbrinApp {
public:
    // documentFiles: files named on the command line (they only title the window).
    explicit CKelbrinApp(AppServices& services, QStringList documentFiles = {});
    ~CKelbrinApp();
    CKelbrinApp(const CKelbrinApp&) = delete;
    CKelbrinApp& operator=(const CKelbrinApp&) = delete;

    // Starts the program: 0 with the main window shown, or the exit status of a start-up
    // that ended the program (no window has been shown then).
    int InitInstance();

    AppServices& Services() { return services_; }
    Binding& AdapterBinding() { return services_.Network.AdapterBinding(); }
    RunState& State() { return services_.Network.State(); }
    CKelbrinDoc& Document() { return document_; }
    DialogContext& Context() { return context_; }
    // The main window; null before InitInstance and once it has been closed.
    CMainFrame* MainFrame() const { return frame_.data(); }
    int StartupResult() const { return startupResult_; }
    const QStringList& RecentFiles() const { return recentFiles_; }

    void OnAppAbout();
    void OnFileNew();
    void OnOpenDocument(const QString& path);

private:
    void LoadSettings();
    void SaveSettings();

    AppServices& services_;
    QStringList documentFiles_;
    CKelbrinDoc document_;
    DialogContext context_;
    QPointer<CMainFrame> frame_;
    int startupResult_ = -1;
    QStringList recentFiles_;
    bool recentFilesChanged_ = false;
};

}  // namespace tarvik
