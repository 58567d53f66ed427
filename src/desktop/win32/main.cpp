// tarvik.exe: the desktop program on Windows, the same dialogs as the Qt program's drawn by
// Win32 from the same templates, over the Win32 platform (Npcap, the registry, Win32 events)
// or the built-in lab.
//   tarvik.exe [--lab] [--trace FILE] [FILE]

#include "dialogs/win32/win32_api.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "commands/outcomes.h"
#include "commands/run_environment.h"
#include "commands/startup.h"
#include "dialogs/lan_card_dlg.h"
#include "platform/host/program_start.h"
#include "platform/version.h"
#include "desktop/win32/main_frame.h"

namespace {

constexpr char USAGE[] =
    "Usage: tarvik.exe [--lab] [--trace FILE] [FILE]\n"
    "Tarvik: loads firmware images into devices on the local Ethernet segment.\n"
    "\n"
    "Options:\n"
    "  --lab         Run on the built-in lab's virtual segment.\n"
    "  --trace FILE  Write every frame sent and received to FILE as a pcap capture.\n"
    "  --help        Show this text.\n"
    "  --version     Show the version.\n"
    "Arguments:\n"
    "  FILE          A document file; it only titles the window.\n";

struct Options {
    bool Lab = false;
    std::string Trace;
    std::string Document;
};

// 0 to go on; otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--lab") {
            options.Lab = true;
        } else if (argument == "--trace" && i + 1 < argc) {
            options.Trace = argv[++i];
        } else if (argument.starts_with("--trace=")) {
            options.Trace = std::string(argument.substr(8));
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(USAGE, stdout);
            return -1;
        } else if (argument == "--version" || argument == "-v") {
            std::printf("Tarvik %.*s\n", static_cast<int>(tarvik::TARVIK_VERSION.size()),
                        tarvik::TARVIK_VERSION.data());
            return -1;
        } else if (argument.starts_with("-")) {
            std::fprintf(stderr, "tarvik: Unknown option '%s'.\n", argv[i]);
            return 2;
        } else {
            options.Document = argv[i];
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    tarvik::ProgramStart start(argc, argv);
    Options options;
    if (const int status = ParseOptions(start.Argc(), start.Argv(), options); status != 0) {
        return status < 0 ? 0 : status;
    }

    const std::unique_ptr<tarvik::RunEnvironment> network = tarvik::RunEnvironment::Make(
        options.Lab ? tarvik::SegmentKind::Lab : tarvik::SegmentKind::Real);
    const bool rightsGivenUp = network->OpenEarly();
    if (!options.Trace.empty()) {
        if (const auto error = network->TraceTo(options.Trace)) {
            std::fprintf(stderr, "tarvik: cannot write the trace %s: %s\n", options.Trace.c_str(),
                         error->c_str());
            return 2;
        }
    }

    tarvik::Win32CommandPort messageBoxes;
    if (!rightsGivenUp) {
        messageBoxes.ShowMessage(tarvik::MSG_CAPABILITIES_KEPT);
        return tarvik::StartupExitStatus(tarvik::STARTUP_CAPABILITIES_KEPT);
    }
    tarvik::Win32DialogRunner dialogLoop(messageBoxes);
    tarvik::ImageSelection document;
    tarvik::DialogContext context{network->State(), messageBoxes, dialogLoop, document, nullptr};

    // The start-up sequence, before the main window exists: the choice among two or more
    // adapters is a dialog of its own, owned by nothing.
    int startup = 0;
    {
        tarvik::CLanCardDlg selection(dialogLoop, nullptr);
        startup = network->Start(selection, messageBoxes);
    }
    if (!tarvik::StartupLetsProgramRun(startup)) {
        return tarvik::StartupExitStatus(startup);
    }

    int status = 0;
    {
        tarvik::Win32MainFrame frame(context, messageBoxes, std::wstring());
        if (!frame.Create(SW_SHOWNORMAL)) {
            std::fprintf(stderr, "tarvik: cannot make the main window: %s\n",
                         tarvik::SystemErrorText(::GetLastError()).c_str());
            status = 1;
        } else {
            if (!options.Document.empty()) {
                frame.OpenDocument(tarvik::WideText(options.Document));
            }
            MSG message;
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
                if (frame.Handle() != nullptr &&
                    ::TranslateAcceleratorW(frame.Handle(), frame.Accelerators(), &message) != 0) {
                    continue;
                }
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            status = static_cast<int>(message.wParam);
        }
    }
    network->AdapterBinding().Close();
    return status;
}
