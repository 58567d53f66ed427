#pragma once
// What the desktop program runs over, handed to it whole: the clock, the packet driver, the
// files, the registry and the OS family, the message port, the way modal dialogs and the
// file-open dialog are run. The program hands the machine's own (or the built-in lab's);
// tests hand simulated time, the lab in simulated time and recording ports.

#include <optional>
#include <string>

#include "commands/command_port.h"
#include "platform/file_system.h"
#include "platform/kernel.h"
#include "platform/os_version.h"
#include "platform/packet_driver.h"
#include "platform/registry.h"

namespace tarvik {

class DialogRunner;

// The file-open dialog of Select BIN File: the chosen path, or nothing when cancelled.
class FileOpenPort {
public:
    virtual ~FileOpenPort() = default;
    virtual std::optional<std::string> ChooseImageFile() = 0;
};

struct AppServices {
    Kernel& Clock;
    PacketDriver& Driver;
    FileSystem& Files;
    Registry& AdapterRegistry;
    OsVersionQuery& OsVersion;
    CommandPort& Port;
    DialogRunner& Runner;
    FileOpenPort& FileOpen;
};

}  // namespace tarvik
