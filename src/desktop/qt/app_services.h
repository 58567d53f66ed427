#pragma once
// What the desktop program runs over, handed to it whole: the run environment (the clock, the
// packet driver, the registry and the OS family, the binding and the run's state), the message
// port, the way modal dialogs and the file-open dialog are run, the keys images are checked
// with. The program hands the
// machine's own (or the built-in lab's); tests hand the lab in simulated time and recording
// ports.

#include <optional>
#include <string>

#include "commands/command_port.h"
#include "commands/image_trust.h"
#include "commands/run_environment.h"

namespace tarvik {

class DialogRunner;

// The file-open dialog of Select BIN File: the chosen path, or nothing when cancelled.
class FileOpenPort {
public:
    virtual ~FileOpenPort() = default;
    virtual std::optional<std::string> ChooseImageFile() = 0;
};

struct AppServices {
    RunEnvironment& Network;
    CommandPort& Port;
    DialogRunner& Runner;
    FileOpenPort& FileOpen;
    TrustSettings Trust = {};  // the keys images are checked with; none: nothing is checked
};

}  // namespace tarvik
