#include "device_daemon/target_options.h"

#include <algorithm>
#include <map>

#include <CLI/CLI.hpp>

#include "platform/capture/packet_driver.h"
#include "platform/formats/hex_text.h"
#include "platform/version.h"

namespace tarvik::target {

std::optional<std::array<std::uint8_t, 6>> ParseBoardCode(std::string_view text)
{
    std::array<std::uint8_t, 6> code{};
    const auto bytes = ParseHexDigits(text);
    if (!bytes || bytes->size() != code.size()) {
        return std::nullopt;
    }
    std::copy(bytes->begin(), bytes->end(), code.begin());
    return code;
}

namespace {

// Texts the parser keeps for the settling that follows the parse.
struct UnsettledTexts {
    std::string Mac;
    std::string Board;
    std::string Variant = "both";
    double DropRequests = 0;
    double DropReplies = 0;
    std::vector<int> Silent;
    std::vector<int> ReplyFaultOpcodes;
    std::vector<std::string> Statuses;
    std::string ReplayDevice;
};

// Who the device is: the interface it listens on, its address, board code and frame types.
void AddDeviceOptions(CLI::App& app, TargetOptions& options, UnsettledTexts& texts)
{
    app.add_option("-i,--interface", options.Interface, "Interface to listen on")->required();
    app.add_option("--mac", texts.Mac, "The device's MAC address (default: the interface's)");
    app.add_option("--board", texts.Board, "Board code, 12 hex digits (default 001122334455)");
    app.add_option("--variant", texts.Variant, "Frame types answered")
        ->check(CLI::IsMember({std::string(FrameVariantName(FrameVariantKind::Untyped)),
                               std::string(FrameVariantName(FrameVariantKind::Typed)),
                               std::string("both")}));
}

// Where the device leaves what it saw.
void AddOutputOptions(CLI::App& app, TargetOptions& options)
{
    app.add_option("--dump", options.DumpPath, "Write the device's memory to FILE on exit");
    app.add_option("--trace", options.TracePath,
                   "Write every frame received and sent, with its time, to FILE as a pcap "
                   "capture");
}

// How the emulated device misbehaves, for tests of the tool against it.
void AddFaultOptions(CLI::App& app, TargetOptions& options, UnsettledTexts& texts)
{
    TargetFaults& faults = options.Faults;
    app.add_option("--delay", faults.ResponseDelayMs, "Delay every reply by MS");
    app.add_option("--drop-requests", texts.DropRequests, "Ignore PCT percent of the requests")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--drop-replies", texts.DropReplies, "Lose PCT percent of the replies")
        ->check(CLI::Range(0.0, 100.0));
    app.add_option("--silent-opcode", texts.Silent,
                   "Never answer this opcode (0 info, 1 begin, "
                   "2 write, 3 reset, 4 verify); repeatable")
        ->check(CLI::Range(0, 65535));
    app.add_option("--status-for-opcode", texts.Statuses,
                   "Answer opcode N with status word S (N=S, S may be 0x..); repeatable");
    app.add_flag("--duplicate-replies", faults.DuplicateReplies, "Send every reply twice");
    app.add_option("--seed", faults.Seed, "Seed of the drop decisions");
    app.add_option("--reply-length-lie", faults.ClaimedReplyLength,
                   "Replies claim N bytes of data in their DataLength word, whatever they carry");
    app.add_option("--truncate-replies", faults.TruncateRepliesTo,
                   "Cut every reply to its first N bytes (no padding to the Ethernet minimum)")
        ->check(CLI::Range(14, static_cast<int>(MAX_FRAME_BYTES)));
    app.add_option("--pad-replies", faults.PadRepliesTo,
                   "Pad every reply with zeros to N bytes, at most the longest Ethernet frame")
        ->check(CLI::Range(0, static_cast<int>(MAX_FRAME_BYTES)));
    app.add_option("--reply-fault-opcode", texts.ReplyFaultOpcodes,
                   "Malform only the replies to this opcode (default: every reply); repeatable")
        ->check(CLI::Range(0, 65535));
}

// The replaying device, which excludes every option of the emulation.
void AddReplayOptions(CLI::App& app, TargetOptions& options, UnsettledTexts& texts)
{
    CLI::Option* replay =
        app.add_option("--replay", options.ReplayPath,
                       "Answer as the device in the pcap capture FILE did (a --trace of "
                       "tarvik-cli or tarvik-target, or tcpdump's): each request with the reply "
                       "the recorded device gave the same request at the same point of the "
                       "session, after the same delay; none where it gave none. Answers from "
                       "the recorded device's address unless --mac names another")
            ->type_name("FILE");
    app.add_option("--device", texts.ReplayDevice,
                   "With --replay: the device in the capture to replay, when several answer in it")
        ->needs(replay);
    // A replaying device does what the capture shows and nothing of its own.
    for (const char* emulation :
         {"--board", "--variant", "--delay", "--drop-requests", "--drop-replies", "--silent-opcode",
          "--status-for-opcode", "--duplicate-replies", "--seed", "--reply-length-lie",
          "--truncate-replies", "--pad-replies", "--reply-fault-opcode", "--dump"}) {
        replay->excludes(app.get_option(emulation));
    }
}

// The addresses and the board code from their texts; a text that is none throws the parser's
// error.
void ReadAddresses(TargetOptions& options, const UnsettledTexts& texts)
{
    if (!texts.ReplayDevice.empty()) {
        options.ReplayDevice = ParseMacAddress(texts.ReplayDevice);
        if (!options.ReplayDevice) {
            throw CLI::ValidationError("--device", "not a MAC address: " + texts.ReplayDevice);
        }
    }
    if (!texts.Mac.empty()) {
        options.Address = ParseMacAddress(texts.Mac);
        if (!options.Address) {
            throw CLI::ValidationError("--mac", "not a MAC address: " + texts.Mac);
        }
    }
    if (!texts.Board.empty()) {
        const auto code = ParseBoardCode(texts.Board);
        if (!code) {
            throw CLI::ValidationError("--board", "not 12 hex digits: " + texts.Board);
        }
        options.BoardCode = *code;
    }
}

// --status-for-opcode N=S, each; a pair that is none throws the parser's error.
void ReadStatuses(TargetFaults& faults, const std::vector<std::string>& statuses)
{
    for (const std::string& pair : statuses) {
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos) {
            throw CLI::ValidationError("--status-for-opcode", "expected N=S: " + pair);
        }
        try {
            const unsigned long opcode = std::stoul(pair.substr(0, equals), nullptr, 0);
            const unsigned long status = std::stoul(pair.substr(equals + 1), nullptr, 0);
            if (opcode > 0xFFFF || status > 0xFFFF) {
                throw std::out_of_range("16 bits");
            }
            faults.StatusForOpcode[static_cast<std::uint16_t>(opcode)] =
                static_cast<std::uint16_t>(status);
        } catch (const std::logic_error&) {
            throw CLI::ValidationError("--status-for-opcode", "expected N=S: " + pair);
        }
    }
}

void SettleFaults(TargetOptions& options, const UnsettledTexts& texts)
{
    for (const int opcode : texts.Silent) {
        options.Faults.SilentOpcodes.insert(static_cast<std::uint16_t>(opcode));
    }
    for (const int opcode : texts.ReplyFaultOpcodes) {
        options.Faults.ReplyFaultOpcodes.insert(static_cast<std::uint16_t>(opcode));
    }
    options.Faults.DropRequestShare = texts.DropRequests / 100.0;
    options.Faults.DropReplyShare = texts.DropReplies / 100.0;
    if (texts.Variant == FrameVariantName(FrameVariantKind::Untyped)) {
        options.Variants = {FrameVariantKind::Untyped};
    } else if (texts.Variant == FrameVariantName(FrameVariantKind::Typed)) {
        options.Variants = {FrameVariantKind::Typed};
    }
}

}  // namespace

TargetParse ParseTargetCommandLine(int argc, const char* const* argv)
{
    TargetOptions options;
    CLI::App app{"tarvik-target: an emulated upgradable device on a real network interface. It "
                 "answers the upgrade protocol, prints one line per request it answers and, "
                 "with --dump, writes its memory to a file when it ends (SIGINT or SIGTERM).",
                 "tarvik-target"};
    // Options are --name and -n on every system: a path such as /tmp/x.bin is a path on
    // Windows too, not an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "tarvik-target " + std::string(TARVIK_VERSION));
    UnsettledTexts texts;
    AddDeviceOptions(app, options, texts);
    AddFaultOptions(app, options, texts);
    AddOutputOptions(app, options);
    AddReplayOptions(app, options, texts);
    try {
        app.parse(argc, argv);
        ReadAddresses(options, texts);
        ReadStatuses(options.Faults, texts.Statuses);
    } catch (const CLI::ParseError& error) {
        return {std::nullopt, app.exit(error) == 0 ? 0 : 2};
    }
    SettleFaults(options, texts);
    return {options, 0};
}

}  // namespace tarvik::target
