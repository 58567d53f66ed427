#pragma once
// What every command of one run of tarvik-cli shares once its options are parsed: the options,
// the streams, the user's stop, the terminal port and the environment, and the ways a command
// says that it failed. Each group of commands takes it whole.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/terminal_port.h"
#include "commands/image_trust.h"
#include "commands/run_environment.h"
#include "platform/files/append_file.h"

namespace tarvik::cli {

class CommandContext {
public:
    CommandContext(const CliOptions& options, Streams streams, const StopRequested& stop);

    const CliOptions& Options;
    const Streams Io;
    const StopRequested& Stop;
    TerminalPort Port;
    std::unique_ptr<RunEnvironment> Environment;  // made once the command needs the machine
    // A station's bays, when it serves several: Environment is the first's, the others' follow
    // in the order the bays were given.
    std::vector<BaySpec> Bays;
    std::vector<std::unique_ptr<RunEnvironment>> OtherBays;
    SystemUtcClock Utc;
    std::mutex NoteLock;  // stderr's, among the runs of several devices

    bool Stopped() const { return Stop && Stop(); }

    // Prints a failure: the flows have shown their fixed text already, unless output is JSON.
    int Fail(int status, std::string_view text);
    // A failure that has no fixed text of its own: said in plain words on stderr.
    int FailWithNote(int status, std::string_view text);
    // A line on stderr with --verbose.
    void Verbose(const std::string& line);

    // Settles FrameVariant for the commands that talk to one device. 0 to go on.
    int SettleFrameType();
    // Checks the image's signature against the trusted keys before anything is sent, and
    // hands the verified bytes and list to the environment's runs. 0 to go on; otherwise the
    // refusal has been said and its status comes back. Trust keeps what was found.
    int CheckSignature();
    ImageTrust Trust;
    // Whether the upgrade's progress is a bar redrawn in place.
    bool ProgressOnTerminal() const;
    // The adapter's interface, as the record names it ("eth0", "lab0").
    std::string InterfaceName() const;
};

// The commands, each in the file of its group; each returns the exit status.
int RunAdapters(CommandContext& context);
int RunBrowse(CommandContext& context);
int RunDevice(CommandContext& context);
int RunInfo(CommandContext& context);
int RunCheck(CommandContext& context);
int RunExplain(CommandContext& context);
int RunDoctor(CommandContext& context);
int RunUpgrade(CommandContext& context);
int RunStationCommand(CommandContext& context);

}  // namespace tarvik::cli
