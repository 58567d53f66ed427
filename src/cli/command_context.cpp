#include "cli/command_context.h"

#include <algorithm>
#include <vector>

#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "commands/commands.h"
#include "commands/startup.h"
#include "platform/capture/packet_driver.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {

CommandContext::CommandContext(const CliOptions& options, Streams streams,
                               const StopRequested& stop)
    : Options(options), Io(streams), Stop(stop), Port(streams.Err, !options.Json, stop)
{
}

int CommandContext::Fail(int status, std::string_view text)
{
    if (Stopped()) {
        status = EXIT_INTERRUPTED;
        text = TEXT_INTERRUPTED;
        if (!Options.Json) {
            Io.Err << "tarvik-cli: " << TEXT_INTERRUPTED << '\n';
        }
    }
    if (Options.Json) {
        Io.Out << JsonLine(ErrorJson(text)) << '\n';
    }
    return status;
}

int CommandContext::FailWithNote(int status, std::string_view text)
{
    if (!Options.Json && !Stopped()) {
        Io.Err << "tarvik-cli: " << text << '\n';
    }
    return Fail(status, text);
}

void CommandContext::Verbose(const std::string& line)
{
    if (Options.Verbose) {
        Io.Err << "tarvik-cli: " << line << '\n';
    }
}

int CommandContext::SettleFrameType()
{
    RunState& run = Environment->State();
    if (Options.FrameType) {
        run.FrameVariant = *Options.FrameType;
        return EXIT_SUCCESS_STATUS;
    }
    std::vector<std::string> names;
    if (!BrowseTargets(run, Port, names)) {
        return Fail(ExitStatusFor(InquiryOutcome::BroadcastError), Port.LastMessage());
    }
    Verbose("discovery settled on " + std::string(FrameVariantName(run.FrameVariant)) + " frames");
    const std::string wanted = FormatDeviceName(ParseDeviceName(Options.DeviceName));
    if (std::find(names.begin(), names.end(), wanted) == names.end()) {
        return FailWithNote(ExitStatusFor(InquiryOutcome::TargetNotFound),
                            Options.DeviceName +
                                " did not answer discovery; nothing was sent to it");
    }
    return EXIT_SUCCESS_STATUS;
}

int CommandContext::CheckSignature()
{
    RunState& run = Environment->State();
    Trust = CheckImageTrust(run.Files, Options.ImagePath, TrustSettingsFor(Options.Signatures));
    for (const std::string& note : Trust.Notes) {
        if (!Options.Json) {
            Io.Err << "tarvik-cli: " << note << '\n';
        }
    }
    switch (Trust.State) {
    case SignatureState::Verified:
        Environment->UseVerifiedImage(Options.ImagePath, Trust.Bytes, Trust.Use);
        for (const std::unique_ptr<RunEnvironment>& bay : OtherBays) {
            bay->UseVerifiedImage(Options.ImagePath, Trust.Bytes, Trust.Use);
        }
        Verbose("signed by " + Trust.KeyId + ": " + Trust.Comment);
        return EXIT_SUCCESS_STATUS;
    case SignatureState::NotChecked:
        if (!Options.Json) {
            Io.Err << "tarvik-cli: the image's signature was not checked (" << Trust.Why << ")\n";
        }
        return EXIT_SUCCESS_STATUS;
    case SignatureState::Warned:
        if (!Options.Json) {
            Io.Err << "tarvik-cli: warning: " << RowOf(Trust.Ending).Text << " " << Trust.Why
                   << "; flashed anyway (--signatures warn)\n";
        }
        return EXIT_SUCCESS_STATUS;
    case SignatureState::Refused:
        break;
    }
    const std::string_view text = RowOf(Trust.Ending).Text;
    Port.ShowMessage(text);
    if (!Options.Json && !Stopped()) {
        Io.Err << "tarvik-cli: " << Trust.Why << "; nothing was sent\n";
    }
    return Fail(ExitStatusFor(Trust.Ending), text);
}

bool CommandContext::ProgressOnTerminal() const
{
    switch (Options.Progress) {
    case ProgressStyle::Bar:
        return true;
    case ProgressStyle::Plain:
        return false;
    case ProgressStyle::Auto:
        break;
    }
    return Io.ErrIsTerminal;
}

std::string CommandContext::InterfaceName() const
{
    const AdapterList& list = Environment->Adapters();
    if (list.Selection < 0 || static_cast<std::size_t>(list.Selection) >= list.Names.size()) {
        return Options.Interface;
    }
    const std::string& name = list.Names[static_cast<std::size_t>(list.Selection)];
    return std::string(InterfaceNameOf(name).value_or(name));
}

}  // namespace tarvik::cli
