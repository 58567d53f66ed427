#pragma once
// The command line of the desktop program, the same for both shells (`tarvik` with Qt,
// `tarvik.exe` with Win32):
//   tarvik [--lab] [--trace FILE] [--key FILE]... [--signatures MODE] [--screenshots DIR] [FILE]
// where --screenshots is offered by the shell that can take pictures without a display. Read
// before anything else starts, so that the network can be opened first.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// What a shell offers besides the common options.
struct DesktopProgram {
    std::string_view Name;  // as the usage shows it
    bool Screenshots = false;
};

struct DesktopOptions {
    bool Lab = false;                        // --lab, and implied by --screenshots
    std::string Trace;                       // empty: no trace
    std::vector<std::string> KeyFiles;       // --key, repeatable: trusted besides the folders'
    std::string Signatures;                  // --signatures: require, warn, off; empty: default
    std::optional<std::string> Screenshots;  // the folder for the pictures
    std::string Document;                    // a document file; it only titles the window
};

struct DesktopCommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };
    Action Do = Action::Run;
    DesktopOptions Options;
    // The usage (ShowHelp), the version line (ShowVersion) or why the line is refused
    // (Refuse), each ending with a line break.
    std::string Text;
};

// The exit status of a refused command line.
inline constexpr int DESKTOP_USAGE_STATUS = 2;

// arguments: the words after the program's name.
DesktopCommandLine ParseDesktopCommandLine(const DesktopProgram& program,
                                           std::span<const std::string_view> arguments);
DesktopCommandLine ParseDesktopCommandLine(const DesktopProgram& program, int argc,
                                           const char* const* argv);

// The usage text --help shows.
std::string DesktopUsage(const DesktopProgram& program);

// What the main function does with a line that does not run the program: prints its text to
// the standard output (help, version) or error (refusal); the exit status, or nothing when the
// program runs.
std::optional<int> FinishWithoutRunning(const DesktopCommandLine& line);

}  // namespace tarvik
