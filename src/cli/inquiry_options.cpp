// The options of the commands that ask and change nothing.

#include "cli/command_options.h"
#include "commands/failure_catalogue.h"
#include "platform/host/user_identity.h"
#include "protocol/upgrade_link.h"

namespace tarvik::cli {
namespace {

// A topic explain has an entry for: refused with what it accepts, as a command-line error.
const CLI::Validator EXPLAIN_TOPIC(
    [](std::string& topic) -> std::string {
        if (!ExplainTopic(topic).empty()) {
            return {};
        }
        return "neither an exit status nor a message: \"" + topic + "\"; explain takes " +
               ExplainAccepts();
    },
    "STATUS|TEXT");

}  // namespace

// Any other text would still turn into some address, so a typo would go to a device nobody
// named, or to the one it merely begins with.
const CLI::Validator DEVICE_NAME(
    [](std::string& name) -> std::string {
        if (IsDeviceName(name)) {
            return {};
        }
        return "not a device name: \"" + name + "\" (" + std::string(DEVICE_NAME_PREFIX) +
               " and 6 hex digits, or 12 hex digits)";
    },
    "NAME");

CLI::App* AddAdaptersCommand(CLI::App& app)
{
    return app.add_subcommand("adapters", "List the network adapters");
}

CLI::App* AddBrowseCommand(CLI::App& app)
{
    return app.add_subcommand("browse", "Find the devices on the segment");
}

CLI::App* AddDeviceCommand(CLI::App& app, CliOptions& options)
{
    CLI::App* device = app.add_subcommand("device", "Show a device's information block");
    device->add_option("NAME", options.DeviceName, "Device name (QV1A2B3C or 12 hex digits)")
        ->required()
        ->check(DEVICE_NAME);
    return device;
}

CLI::App* AddInfoCommand(CLI::App& app, CliOptions& options)
{
    CLI::App* info = app.add_subcommand("info", "Show an image file's information block");
    info->add_option("FILE", options.ImagePath, "Image file")->required();
    AddSignatureOptions(*info, options.Signatures);
    return info;
}

CLI::App* AddCheckCommand(CLI::App& app, CliOptions& options)
{
    CLI::App* check = app.add_subcommand("check", "Check that an image fits a device");
    check->add_option("FILE", options.ImagePath, "Image file")->required();
    check->add_option("NAME", options.DeviceName, "Device name")->required()->check(DEVICE_NAME);
    AddSignatureOptions(*check, options.Signatures);
    return check;
}

CLI::App* AddExplainCommand(CLI::App& app, CliOptions& options)
{
    CLI::App* explain = app.add_subcommand(
        "explain", "Say what an exit status or a message means, its usual causes and what to do");
    explain
        ->add_option("TOPIC", options.Topic,
                     "An exit status, or a message as shown (quoted: \"" +
                         std::string(MSG_HARDWARE_MISMATCH) + "\")")
        ->required()
        ->check(EXPLAIN_TOPIC);
    return explain;
}

CLI::App* AddDoctorCommand(CLI::App& app, CliOptions& options, UnsettledOptions& unsettled)
{
    CLI::App* doctor = app.add_subcommand(
        "doctor",
        "Check what stands between the program and the devices: each interface (or the one -i "
        "names, or each bay's), network managers, bridges, the link's carrier changes since the "
        "last check, privilege, then a probe in both frame types. Changes nothing on the "
        "system (it keeps the carrier counts in " +
            std::string(UserStateFolderHelp()) + ")");
    AddBayOptions(app, *doctor,
                  "Each bay's interface is checked and its segment probed, each line naming the "
                  "bay",
                  options, unsettled);
    return doctor;
}

}  // namespace tarvik::cli
