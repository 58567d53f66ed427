// tarvik: the desktop program. `tarvik` works on the machine's network interfaces (the
// adapter is opened through libpcap and needs raw network access); `tarvik --lab` runs on the
// built-in lab's virtual segment in real time, with no privileges and no network.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <optional>

#include "commands/run_environment.h"
#include "commands/startup.h"
#include "desktop/options/desktop_options.h"
#include "desktop/qt/file_open_port.h"
#include "desktop/qt/kelbrin_app.h"
#include "desktop/qt/screenshot_mode.h"
#include "dialogs/qt/message_port.h"
#include "dialogs/qt/template_dialog.h"
#include "platform/version.h"
#include "res/pictures.h"

#ifndef TARVIK_LAB_SAMPLE_IMAGE
#define TARVIK_LAB_SAMPLE_IMAGE ""
#endif

int main(int argc, char** argv)
{
    const tarvik::DesktopCommandLine line =
        tarvik::ParseDesktopCommandLine({"tarvik", true}, argc, argv);
    if (const std::optional<int> status = tarvik::FinishWithoutRunning(line)) {
        return *status;
    }
    const tarvik::DesktopOptions& options = line.Options;
    const bool takeScreenshots = options.Screenshots.has_value();
    // Pictures for the README are taken without a display.
    if (takeScreenshots && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The network comes first: on a real interface every capture the start-up sequence may
    // choose is opened and every capability given up before the toolkit starts threads of its
    // own, which would keep them.
    const std::unique_ptr<tarvik::RunEnvironment> network = tarvik::RunEnvironment::Make(
        options.Lab ? tarvik::SegmentKind::Lab : tarvik::SegmentKind::Real);
    const bool capabilitiesDropped = network->OpenEarly();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    QApplication::setApplicationVersion(QString::fromUtf8(tarvik::TARVIK_VERSION.data(),
                                                          tarvik::TARVIK_VERSION.size()));
    QApplication::setWindowIcon(tarvik::res::ProgramIcon());
    if (!options.Trace.empty()) {
        if (const auto error = network->TraceTo(options.Trace)) {
            std::fprintf(stderr, "tarvik: cannot write the trace %s: %s\n", options.Trace.c_str(),
                         error->c_str());
            return 2;
        }
    }

    tarvik::QtCommandPort messageBoxes;
    if (!capabilitiesDropped) {
        messageBoxes.ShowMessage(tarvik::MSG_CAPABILITIES_KEPT);
        return tarvik::StartupExitStatus(tarvik::STARTUP_CAPABILITIES_KEPT);
    }
    tarvik::ExecDialogRunner dialogLoop;
    tarvik::QtFileOpenPort fileDialog;
    const QFileInfo sample(QString::fromUtf8(TARVIK_LAB_SAMPLE_IMAGE));
    if (options.Lab && sample.exists()) {
        fileDialog.SetStartDirectory(sample.absolutePath());
    }
    tarvik::ScreenshotSession screenshots(QString::fromStdString(options.Screenshots.value_or("")),
                                          sample.absoluteFilePath().toStdString(), "QV1A2B3C");
    tarvik::TrustSettings trust = tarvik::DefaultTrustSettings(options.KeyFiles);
    trust.Mode = tarvik::SignatureModeNamed(options.Signatures);
    tarvik::AppServices services{
        *network,
        takeScreenshots ? static_cast<tarvik::CommandPort&>(screenshots) : messageBoxes,
        takeScreenshots ? static_cast<tarvik::DialogRunner&>(screenshots) : dialogLoop,
        takeScreenshots ? static_cast<tarvik::FileOpenPort&>(screenshots) : fileDialog,
        // The pictures are of the lab's unsigned sample, whatever keys the machine trusts.
        takeScreenshots ? tarvik::TrustSettings{} : trust,
    };

    QStringList documents;
    if (!options.Document.empty()) {
        documents.append(QString::fromStdString(options.Document));
    }
    tarvik::CKelbrinApp app(services, documents);
    const int status = app.InitInstance();
    if (status != 0) {
        return status;
    }
    fileDialog.SetOwner(app.MainFrame());
    if (takeScreenshots) {
        if (!sample.exists()) {
            std::fprintf(stderr, "tarvik: the lab's sample image %s is missing\n",
                         qPrintable(sample.filePath()));
            return 1;
        }
        return screenshots.Run(app);
    }
    return QApplication::exec();
}
