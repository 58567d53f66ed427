#pragma once
// What the user asked for on the command line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netio/binding.h"

namespace tarvik::cli {

enum class Command { Adapters, Browse, Device, Info, Check, Upgrade };
enum class FrameTypeChoice { Untyped, Typed, Auto };
enum class ProgressStyle { Auto, Bar, Plain };

struct CliOptions {
    Command Which = Command::Browse;
    std::string Interface;  // -i: empty runs the start-up sequence
    bool Lab = false;
    bool Json = false;
    bool Verbose = false;
    FrameTypeChoice FrameType = FrameTypeChoice::Untyped;
    ProgressStyle Progress = ProgressStyle::Auto;
    std::uint32_t PaceMs = SEND_PAUSE_MS;  // --pace: the pause after each frame sent
    std::string DeviceName;
    std::string ImagePath;
    std::string InvokedAs;  // argv[0], for the privilege hint when the binary cannot be told
};

struct ParseResult {
    std::optional<CliOptions> Options;  // nothing: the program ends with ExitStatus
    int ExitStatus = 0;
};

// Parses argv; prints help, version or usage errors itself (stdout for help, stderr for
// errors) and then leaves Options empty.
ParseResult ParseCommandLine(int argc, const char* const* argv);

}  // namespace tarvik::cli
