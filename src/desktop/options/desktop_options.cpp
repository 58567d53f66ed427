#include "desktop/options/desktop_options.h"

#include <cstdio>
#include <vector>

#include "platform/version.h"

namespace tarvik {
namespace {

constexpr std::string_view DESCRIPTION =
    "Tarvik: loads firmware images into devices on the local Ethernet segment.";

using Action = DesktopCommandLine::Action;

DesktopCommandLine Refuse(std::string text)
{
    DesktopCommandLine line;
    line.Do = Action::Refuse;
    line.Text = std::move(text);
    return line;
}

// "--name VALUE" or "--name=VALUE": the value, with i moved past it; nothing when the
// argument is another option. missing is set when the option has no value.
std::optional<std::string> OptionValue(std::span<const std::string_view> arguments, std::size_t& i,
                                       std::string_view name, bool& missing)
{
    const std::string_view argument = arguments[i];
    if (argument == name) {
        if (i + 1 >= arguments.size()) {
            missing = true;
            return std::nullopt;
        }
        return std::string(arguments[++i]);
    }
    if (argument.starts_with(name) && argument.substr(name.size()).starts_with('=')) {
        return std::string(argument.substr(name.size() + 1));
    }
    return std::nullopt;
}

}  // namespace

std::string DesktopUsage(const DesktopProgram& program)
{
    std::string usage = "Usage: " + std::string(program.Name) +
                        " [--lab] [--trace FILE] [--key FILE]... [--signatures MODE]";
    if (program.Screenshots) {
        usage += " [--screenshots DIR]";
    }
    usage += " [FILE]\n";
    usage += std::string(DESCRIPTION) + "\n\nOptions:\n";
    usage += "  --lab              Run on the built-in lab's virtual segment.\n";
    usage +=
        "  --trace FILE       Write every frame sent and received to FILE as a pcap capture.\n";
    usage += "  --key FILE         Trust the minisign public key in FILE, besides those in the\n"
             "                     trusted-keys folders; once any key is there, an image must\n"
             "                     be signed by one of them to be sent. Repeatable.\n";
    usage += "  --signatures MODE  require (the default once a key is there): refuse an image\n"
             "                     not signed by a trusted key; warn: say so and send it; off:\n"
             "                     check nothing.\n";
    if (program.Screenshots) {
        usage += "  --screenshots DIR  On the lab: walk through an upgrade and save pictures into "
                 "DIR.\n";
    }
    usage += "  -h, --help         Show this text.\n";
    usage += "  -v, --version      Show the version.\n";
    usage += "Arguments:\n";
    usage += "  FILE               A document file; it only titles the window.\n";
    return usage;
}

DesktopCommandLine ParseDesktopCommandLine(const DesktopProgram& program,
                                           std::span<const std::string_view> arguments)
{
    DesktopCommandLine line;
    DesktopOptions& options = line.Options;
    const std::string prefix = std::string(program.Name) + ": ";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        bool missing = false;
        if (argument == "--help" || argument == "-h") {
            line.Do = Action::ShowHelp;
            line.Text = DesktopUsage(program);
            return line;
        }
        if (argument == "--version" || argument == "-v") {
            line.Do = Action::ShowVersion;
            line.Text = "Tarvik " + std::string(TARVIK_VERSION) + "\n";
            return line;
        }
        if (argument == "--lab") {
            options.Lab = true;
        } else if (auto trace = OptionValue(arguments, i, "--trace", missing)) {
            options.Trace = std::move(*trace);
        } else if (auto key = missing ? std::nullopt
                                      : OptionValue(arguments, i, "--key", missing)) {
            options.KeyFiles.push_back(std::move(*key));
        } else if (auto mode = missing ? std::nullopt
                                       : OptionValue(arguments, i, "--signatures", missing)) {
            if (*mode != "require" && *mode != "warn" && *mode != "off") {
                return Refuse(prefix + "--signatures takes require, warn or off, not '" + *mode +
                              "'.\n");
            }
            options.Signatures = std::move(*mode);
        } else if (auto folder = program.Screenshots && !missing
                                     ? OptionValue(arguments, i, "--screenshots", missing)
                                     : std::nullopt) {
            // The pictures are of the lab's devices.
            options.Screenshots = std::move(folder);
            options.Lab = true;
        } else if (missing) {
            return Refuse(prefix + "Missing value after '" + std::string(argument) + "'.\n");
        } else if (argument.starts_with('-') && argument != "-") {
            return Refuse(prefix + "Unknown option '" + std::string(argument) + "'.\n");
        } else if (!options.Document.empty()) {
            return Refuse(prefix + "Unexpected argument '" + std::string(argument) +
                          "': one document file at most.\n");
        } else {
            options.Document = std::string(argument);
        }
    }
    return line;
}

DesktopCommandLine ParseDesktopCommandLine(const DesktopProgram& program, int argc,
                                           const char* const* argv)
{
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return ParseDesktopCommandLine(program, arguments);
}

std::optional<int> FinishWithoutRunning(const DesktopCommandLine& line)
{
    switch (line.Do) {
    case Action::Run:
        return std::nullopt;
    case Action::ShowHelp:
    case Action::ShowVersion:
        std::fputs(line.Text.c_str(), stdout);
        return 0;
    case Action::Refuse:
        std::fputs(line.Text.c_str(), stderr);
        return DESKTOP_USAGE_STATUS;
    }
    return DESKTOP_USAGE_STATUS;
}

}  // namespace tarvik
