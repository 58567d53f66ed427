#pragma once
// What the system says about a network interface and about the program's right to open one,
// read without changing anything: the facts `tarvik-cli doctor` judges. Each system reads
// them its own way (on Linux from /sys, /proc and the group database); a fact the system
// cannot tell is left at its default.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class Kernel;

enum class InterfaceMedium { Ethernet, WiFi, Other };

// The bridge an interface is a port of.
struct BridgePortFacts {
    std::string Bridge;
    bool SpanningTree = false;         // the bridge runs STP (kernel's or a daemon's)
    std::uint32_t ForwardDelayMs = 0;  // each of listening and learning lasts this long
    bool Forwarding = true;            // the port passes frames now
    std::string PortState;             // "forwarding", "listening", ... as the bridge says
};

// The VLAN an interface is: frames sent on it leave its parent tagged.
struct VlanFacts {
    std::uint32_t Id = 0;
    std::string Parent;
};

// Another program's raw socket bound to the interface.
struct RawSocketHolder {
    std::string Program;  // empty when its process could not be seen
    int ProcessId = 0;    // 0 when unknown
    std::uint32_t UserId = 0;
};

struct InterfaceFacts {
    std::string Name;
    bool Exists = false;
    bool Up = false;        // administratively up
    bool Carrier = false;   // the link is there (cable in, peer up)
    std::string OperState;  // "up", "down", "lowerlayerdown", ...
    // How often the link came or went since the interface was made (a counter that only grows
    // while the interface lives); nothing where the system does not count.
    std::optional<std::uint64_t> CarrierChanges;
    InterfaceMedium Medium = InterfaceMedium::Other;
    std::uint32_t LinkType = 0;  // the hardware type (1 for Ethernet)
    std::uint32_t Mtu = 0;
    std::optional<BridgePortFacts> BridgePort;
    std::string BondMaster;  // the bond it is a slave of; empty when none
    std::optional<VlanFacts> Vlan;
    std::vector<RawSocketHolder> OtherRawSockets;  // the program's own are not counted
};

// What is known of an interface now. Opens nothing that stays open.
InterfaceFacts ReadInterfaceFacts(const std::string& name);

// The group whose members may run the installed binaries without sudo.
inline constexpr std::string_view PRIVILEGE_GROUP = "tarvik";

struct PrivilegeFacts {
    bool Root = false;              // effective user 0
    bool RawNetworkAccess = false;  // CAP_NET_RAW in the effective set (or root)
    bool FileCapability = false;    // the binary itself carries cap_net_raw
    std::string Binary;             // the running binary's path
    std::string UserName;
    bool GroupExists = false;
    bool GroupInSession = false;   // the process runs with the group
    bool GroupInDatabase = false;  // the user is a member as the group database says
    // Windows: the capture driver decides at the adapter's open, and Root means an elevated
    // administrator.
    bool DecidedAtOpen = false;
};

// The program's own privilege; invokedAs (argv[0]) names the binary when the system cannot.
PrivilegeFacts ReadPrivilegeFacts(std::string_view invokedAs);

// Whether a network manager runs the interface. NotInstalled: its tool is not on the PATH;
// Unknown: the tool ran but said nothing of the interface (or its service is not running).
enum class ManagerState { NotInstalled, Unknown, Unmanaged, Managed };

struct NetworkManagerFacts {
    ManagerState NetworkManager = ManagerState::NotInstalled;
    std::string NetworkManagerState;  // its word for the device: "connected", ...
    ManagerState Networkd = ManagerState::NotInstalled;
    std::string NetworkdState;  // its setup state: "configured", ...
};

// Asks the network managers' own tools (each given at most timeoutMs, on the clock).
NetworkManagerFacts ReadNetworkManagerFacts(Kernel& clock, const std::string& name,
                                            std::uint32_t timeoutMs);

}  // namespace tarvik
