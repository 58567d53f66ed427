// tarvik: the desktop program. `tarvik` works on the machine's network interfaces (the
// adapter is opened through libpcap and needs raw network access); `tarvik --lab` runs on the
// built-in lab's virtual segment in real time, with no privileges and no network.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "desktop/qt/file_open_port.h"
#include "desktop/qt/kelbrin_app.h"
#include "desktop/qt/screenshot_mode.h"
#include "commands/run_environment.h"
#include "commands/startup.h"
#include "dialogs/qt/message_port.h"
#include "dialogs/qt/template_dialog.h"
#include "platform/version.h"
#include "res/pictures.h"

#ifndef TARVIK_LAB_SAMPLE_IMAGE
#define TARVIK_LAB_SAMPLE_IMAGE ""
#endif

namespace {

// Whether the option is given, alone or as "--option=value".
bool HasArgument(int argc, char** argv, std::string_view wanted)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == wanted ||
            (argument.starts_with(wanted) && argument.substr(wanted.size()).starts_with('='))) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Pictures for the README are taken without a display.
    if (HasArgument(argc, argv, "--screenshots") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The network comes first: on a real interface every capture the start-up sequence may
    // choose is opened and every capability given up before the toolkit starts threads of its
    // own, which would keep them.
    const bool lab = HasArgument(argc, argv, "--lab") || HasArgument(argc, argv, "--screenshots");
    const std::unique_ptr<tarvik::RunEnvironment> network =
        tarvik::RunEnvironment::Make(lab ? tarvik::SegmentKind::Lab : tarvik::SegmentKind::Real);
    const bool capabilitiesDropped = network->OpenEarly();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    QApplication::setApplicationVersion(QString::fromUtf8(tarvik::TARVIK_VERSION.data(),
                                                          tarvik::TARVIK_VERSION.size()));
    QApplication::setWindowIcon(tarvik::res::ProgramIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tarvik: loads firmware images into devices on the local Ethernet segment."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption labOption(
        QStringLiteral("lab"), QStringLiteral("Run on the built-in lab's virtual segment."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshots"),
        QStringLiteral("With --lab: walk through an upgrade and save pictures into <dir>."),
        QStringLiteral("dir"));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Write every frame sent and received to <file> as a pcap capture."),
        QStringLiteral("file"));
    parser.addOption(labOption);
    parser.addOption(screenshotOption);
    parser.addOption(traceOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A document file; it only titles the window."));
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "tarvik: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (parser.isSet(traceOption)) {
        const std::string tracePath = parser.value(traceOption).toStdString();
        if (const auto error = network->TraceTo(tracePath)) {
            std::fprintf(stderr, "tarvik: cannot write the trace %s: %s\n", tracePath.c_str(),
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
    if (lab && sample.exists()) {
        fileDialog.SetStartDirectory(sample.absolutePath());
    }
    tarvik::ScreenshotSession screenshots(parser.value(screenshotOption),
                                          sample.absoluteFilePath().toStdString(), "QV1A2B3C");
    const bool takeScreenshots = parser.isSet(screenshotOption);
    tarvik::AppServices services{
        *network,
        takeScreenshots ? static_cast<tarvik::CommandPort&>(screenshots) : messageBoxes,
        takeScreenshots ? static_cast<tarvik::DialogRunner&>(screenshots) : dialogLoop,
        takeScreenshots ? static_cast<tarvik::FileOpenPort&>(screenshots) : fileDialog,
    };

    tarvik::CKelbrinApp app(services, parser.positionalArguments());
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
