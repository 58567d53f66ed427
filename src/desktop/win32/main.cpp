// tarvik.exe: the desktop program on Windows, the same dialogs as the Qt program's drawn by
// Win32 from the same templates, over the Win32 platform (Npcap, the registry, Win32 events)
// or the built-in lab.
//   tarvik.exe [--lab] [--trace FILE] [--key FILE]... [FILE]

#include "dialogs/win32/win32_api.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "commands/outcomes.h"
#include "commands/run_environment.h"
#include "commands/startup.h"
#include "desktop/options/desktop_options.h"
#include "desktop/win32/main_frame.h"
#include "dialogs/lan_card_dlg.h"
#include "platform/host/program_start.h"

int main(int argc, char** argv)
{
    tarvik::ProgramStart start(argc, argv);
    const tarvik::DesktopCommandLine line =
        tarvik::ParseDesktopCommandLine({"tarvik.exe", false}, start.Argc(), start.Argv());
    if (const std::optional<int> status = tarvik::FinishWithoutRunning(line)) {
        return *status;
    }
    const tarvik::DesktopOptions& options = line.Options;

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
    tarvik::DialogContext context{*network,
                                  network->State(),
                                  messageBoxes,
                                  dialogLoop,
                                  document,
                                  nullptr,
                                  tarvik::DefaultTrustSettings(options.KeyFiles)};
    context.Trust.Mode = tarvik::SignatureModeNamed(options.Signatures);

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
