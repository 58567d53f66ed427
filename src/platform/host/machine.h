#pragma once
// The machine a program runs on, with its real services: the kernel in real time, the packet
// driver of its network interfaces, the registry view of its adapters, the OS-family query,
// its files and its own process. Each system has its implementation in a file
// of its own (machine_linux.cpp, machine_windows.cpp); the code above this layer names none of
// their classes, only these.

#include <memory>
#include <optional>
#include <string>

#include "platform/capture/packet_driver.h"
#include "platform/files/file_system.h"
#include "platform/formats/mac_address.h"
#include "platform/host/os_version.h"
#include "platform/host/process_info.h"
#include "platform/kernel/kernel.h"
#include "platform/registry/registry.h"

namespace tarvik {

// The names users know the machine's interfaces by, beside the system's own.
class InterfaceNaming {
public:
    virtual ~InterfaceNaming() = default;
    // The interface's friendly name ("Ethernet 2" on Windows); empty where the system gives it
    // none beyond its own name.
    virtual std::string FriendlyName(const std::string& interfaceName) = 0;
    // The interface a friendly name or description stands for (ASCII case ignored, as Windows
    // compares them); empty when none does.
    virtual std::string InterfaceOfName(const std::string& name) = 0;
};

class Machine {
public:
    virtual ~Machine() = default;

    virtual Kernel& Clock() = 0;
    virtual FileSystem& Files() = 0;
    virtual ProcessInfo& Process() = 0;
    // Adapters answer for their interface's own address, or for stationAddress when given
    // (promiscuously, as a card with a locally administered address does).
    virtual std::unique_ptr<InterfacePacketDriver> OpenPacketDriver(
        std::optional<MacAddress> stationAddress = std::nullopt) = 0;
    virtual std::unique_ptr<Registry> OpenRegistry() = 0;
    virtual std::unique_ptr<OsVersionQuery> OpenOsVersionQuery() = 0;
    // Whether the system has a network interface of that name, up or not.
    virtual bool HasInterface(const std::string& interfaceName) = 0;
    virtual InterfaceNaming& Naming() = 0;
};

// This machine. One per program.
std::unique_ptr<Machine> OpenMachine();

// A kernel in real time apart from the machine's, for a thread that waits on its own (a
// background push) and must not share the runs' events and waits.
std::unique_ptr<Kernel> OpenRealTimeKernel();

}  // namespace tarvik
