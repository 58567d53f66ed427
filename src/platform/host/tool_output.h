#pragma once
// Runs another program of the system to read what it prints, the way a user would run it from
// a shell: for facts only that program knows (a network manager's view of an interface).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class Kernel;

// What the program printed on stdout (its stderr is dropped) and its exit status.
struct ToolOutput {
    std::string Out;
    int ExitStatus = -1;  // -1 when it was ended for running too long or by a signal
};

// Runs arguments[0], found on the PATH, with the rest as its arguments, and waits at most
// timeoutMs on the clock for it to end (then ends it). Nothing when it is not installed or
// could not be started.
std::optional<ToolOutput> RunToolForOutput(Kernel& clock, const std::vector<std::string>& arguments,
                                           std::uint32_t timeoutMs);

}  // namespace tarvik
