// The commands that ask and change nothing: adapters, browse, device, info, check, explain and
// doctor.

#include <cstddef>
#include <string>
#include <vector>

#include "cli/bay_options.h"
#include "cli/command_context.h"
#include "cli/descriptor_text.h"
#include "cli/doctor_printer.h"
#include "cli/exit_status.h"
#include "cli/json_output.h"
#include "commands/carrier_log.h"
#include "commands/commands.h"
#include "commands/doctor.h"
#include "commands/failure_catalogue.h"
#include "commands/startup.h"
#include "platform/formats/utf8_text.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {

int RunAdapters(CommandContext& context)
{
    const CliOptions& options = context.Options;
    std::ostream& out = context.Io.Out;
    AdapterList list;
    if (const int result = context.Environment->ListAdapters(context.Port, list);
        result != DISCOVERY_OK) {
        return context.Fail(StartupExitStatus(result), context.Port.LastMessage());
    }
    // Where the system has a name of its own for the connection (Windows), it goes last:
    // -i takes it as well.
    InterfaceAccess& access = context.Environment->Access();
    if (options.Json) {
        Json adapters = Json::array();
        for (std::size_t i = 0; i < list.Names.size(); ++i) {
            Json adapter{
                {"Index", i}, {"Description", list.Descriptions[i]}, {"Name", list.Names[i]}};
            if (const std::string friendly = access.FriendlyName(list.Names[i]);
                !friendly.empty()) {
                adapter["FriendlyName"] = friendly;
            }
            adapters.push_back(std::move(adapter));
        }
        out << JsonLine(adapters, 2) << '\n';
        return EXIT_SUCCESS_STATUS;
    }
    for (std::size_t i = 0; i < list.Names.size(); ++i) {
        out << i << "  " << list.Descriptions[i] << "  " << list.Names[i];
        if (const std::string friendly = access.FriendlyName(list.Names[i]); !friendly.empty()) {
            out << "  \"" << friendly << '"';
        }
        out << '\n';
    }
    return EXIT_SUCCESS_STATUS;
}

int RunBrowse(CommandContext& context)
{
    std::vector<std::string> names;
    RunState& run = context.Environment->State();
    run.FrameVariant = FrameVariantKind::Untyped;
    if (!BrowseTargets(run, context.Port, names)) {
        return context.Fail(ExitStatusFor(InquiryOutcome::BroadcastError),
                            context.Port.LastMessage());
    }
    if (context.Stopped()) {
        return context.Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
    }
    context.Verbose(std::to_string(names.size()) + " device(s), " +
                    std::string(FrameVariantName(run.FrameVariant)) + " frames");
    if (context.Options.Json) {
        context.Io.Out << JsonLine(NamesJson(names)) << '\n';
    } else {
        for (const std::string& name : names) {
            context.Io.Out << name << '\n';
        }
    }
    return EXIT_SUCCESS_STATUS;
}

int RunDevice(CommandContext& context)
{
    const CliOptions& options = context.Options;
    if (const int status = context.SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    ImageDescriptor descriptor;
    if (!ShowDeviceInformation(context.Environment->State(), context.Port, options.DeviceName,
                               descriptor)) {
        return context.Fail(ExitStatusFor(InquiryOutcome::AccessTargetError),
                            context.Port.LastMessage());
    }
    if (options.Json) {
        context.Io.Out << JsonLine(DescriptorJson(descriptor, "DeviceName", options.DeviceName), 2)
                       << '\n';
    } else {
        context.Io.Out << DescriptorText(descriptor, "Device Name:", options.DeviceName);
    }
    return EXIT_SUCCESS_STATUS;
}

namespace {

// The signature's lines below an image's information block.
std::string SignatureText(const ImageTrust& trust)
{
    std::string text = "Signature: " + std::string(SignatureStateName(trust.State));
    if (trust.State == SignatureState::Refused || trust.State == SignatureState::Warned) {
        text += " (" + std::string(RowOf(trust.Ending).Text) + " " + trust.Why + ")";
    } else if (trust.State == SignatureState::NotChecked) {
        text += " (" + trust.Why + ")";
    }
    text += "\n";
    if (!trust.KeyId.empty()) {
        text += "Signed By: " + trust.KeyId + "\nSigned Comment: " + PrintableText(trust.Comment) +
                "\n";
    }
    return text;
}

Json SignatureJson(const ImageTrust& trust)
{
    Json json{{"State", SignatureStateName(trust.State)}};
    if (trust.State == SignatureState::Refused || trust.State == SignatureState::Warned) {
        json["Ending"] = RowOf(trust.Ending).Text;
        json["ExitStatus"] = ExitStatusFor(trust.Ending);
    }
    if (!trust.Why.empty()) {
        json["Why"] = JsonText(trust.Why);
    }
    if (!trust.KeyId.empty()) {
        json["KeyId"] = trust.KeyId;
        json["Comment"] = JsonText(trust.Comment);
    }
    return json;
}

}  // namespace

int RunInfo(CommandContext& context)
{
    const CliOptions& options = context.Options;
    ImageDescriptor descriptor;
    if (!ShowFileInformation(context.Environment->State(), context.Port, options.ImagePath,
                             descriptor)) {
        return context.Fail(ExitStatusFor(InquiryOutcome::FileAccessError),
                            context.Port.LastMessage());
    }
    // The signature as it stands, shown whatever it says: info flashes nothing.
    const ImageTrust trust = CheckImageTrust(context.Environment->State().Files,
                                             options.ImagePath,
                                             TrustSettingsFor(options.Signatures));
    if (options.Json) {
        Json json = DescriptorJson(descriptor, "FileName", options.ImagePath);
        json["Signature"] = SignatureJson(trust);
        context.Io.Out << JsonLine(json, 2) << '\n';
    } else {
        context.Io.Out << DescriptorText(descriptor, "File Name:", options.ImagePath)
                       << SignatureText(trust);
    }
    return EXIT_SUCCESS_STATUS;
}

int RunCheck(CommandContext& context)
{
    const CliOptions& options = context.Options;
    if (const int status = context.CheckSignature(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    if (const int status = context.SettleFrameType(); status != EXIT_SUCCESS_STATUS) {
        return status;
    }
    const UpgradeOutcome outcome = RunCheckCommand(context.Environment->State(), context.Port,
                                                   options.DeviceName, options.ImagePath);
    if (outcome != UpgradeOutcome::Finished) {
        return context.Fail(ExitStatusFor(outcome), context.Port.LastMessage());
    }
    if (options.Json) {
        context.Io.Out << JsonLine(Json{{"DeviceName", JsonText(options.DeviceName)},
                                        {"FileName", JsonText(options.ImagePath)},
                                        {"fits", true}})
                       << '\n';
    } else {
        context.Io.Out << options.ImagePath << " fits " << options.DeviceName << '\n';
    }
    return EXIT_SUCCESS_STATUS;
}

// Every status the topic names (a message shared by several statuses names each); with --json
// one object per line.
int RunExplain(CommandContext& context)
{
    for (const ExplainedStatus& status : ExplainTopic(context.Options.Topic)) {
        if (context.Options.Json) {
            context.Io.Out << JsonLine(ExplainedJson(status)) << '\n';
        } else {
            context.Io.Out << ExplainText(status);
        }
    }
    return EXIT_SUCCESS_STATUS;
}

int RunDoctor(CommandContext& context)
{
    const CliOptions& options = context.Options;
    DoctorRequest request{options.Interface, options.InvokedAs, {}, DefaultCarrierLogPath()};
    if (!options.Bays.empty() || !options.BaysFile.empty()) {
        std::string error;
        const std::optional<std::vector<BaySpec>> bays =
            GatherBays(options.Bays, options.BaysFile, error);
        if (!bays) {
            return context.FailWithNote(EXIT_USAGE, error);
        }
        for (const BaySpec& bay : *bays) {
            request.Bays.push_back({bay.Name, bay.Interface});
        }
    }
    DoctorPrinter printer(context.Io.Out, options.Json);
    const bool healthy = RunDoctor(*context.Environment, request, printer);
    if (context.Stopped()) {
        return context.Fail(EXIT_INTERRUPTED, TEXT_INTERRUPTED);
    }
    return healthy ? EXIT_SUCCESS_STATUS : EXIT_DOCTOR_FOUND_FAULT;
}

}  // namespace tarvik::cli
