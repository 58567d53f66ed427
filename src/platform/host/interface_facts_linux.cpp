// The facts of an interface as Linux keeps them: /sys/class/net for the link, /proc/net for
// VLANs and packet sockets, /proc/PID/fd for who holds those, the group database and the
// binary's file capability for the privilege, and the network managers' own tools.

#include "platform/host/interface_facts_linux.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <type_traits>

#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <unistd.h>

#include "platform/host/process_info.h"
#include "platform/host/tool_output.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ARPHRD_ETHER_TYPE = 1;
constexpr unsigned IFF_UP_FLAG = 0x1;
// The bridge's timers in sysfs are in USER_HZ, a hundredth of a second.
constexpr std::uint32_t MS_PER_BRIDGE_TICK = 10;

std::string ReadText(const fs::path& path)
{
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

template <typename Number>
Number ReadNumber(const fs::path& path, int base = 10)
{
    std::string text = ReadText(path);
    std::string_view digits = text;
    if (base == 16 && digits.starts_with("0x")) {
        digits.remove_prefix(2);
    }
    Number value{};
    std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    return value;
}

bool Exists(const fs::path& path)
{
    std::error_code ignored;
    return fs::exists(path, ignored);
}

// The last part of a link's target: /sys/class/net/IF/master -> ../../bond0 is "bond0".
std::string LinkTargetName(const fs::path& link)
{
    std::error_code missing;
    const fs::path target = fs::read_symlink(link, missing);
    return missing ? std::string() : target.filename().string();
}

std::string_view PortStateName(unsigned state)
{
    // The kernel's BR_STATE_* in order.
    static constexpr std::string_view NAMES[] = {"disabled", "listening", "learning", "forwarding",
                                                 "blocking"};
    return state < std::size(NAMES) ? NAMES[state] : "unknown";
}

std::optional<BridgePortFacts> ReadBridgePort(const fs::path& root, const fs::path& device)
{
    const std::string bridge = LinkTargetName(device / "brport" / "bridge");
    if (bridge.empty()) {
        return std::nullopt;
    }
    BridgePortFacts port;
    port.Bridge = bridge;
    const fs::path settings = root / "sys/class/net" / bridge / "bridge";
    port.SpanningTree = ReadNumber<unsigned>(settings / "stp_state") != 0;
    port.ForwardDelayMs = ReadNumber<std::uint32_t>(settings / "forward_delay") *
                          MS_PER_BRIDGE_TICK;
    const auto state = ReadNumber<unsigned>(device / "brport" / "state");
    port.PortState = std::string(PortStateName(state));
    port.Forwarding = port.PortState == "forwarding";
    return port;
}

// /proc/net/vlan/config: two lines of heading, then "NAME | VID | PARENT" per VLAN.
std::optional<VlanFacts> ReadVlan(const fs::path& root, const std::string& name)
{
    std::ifstream config(root / "proc/net/vlan/config");
    std::string line;
    while (std::getline(config, line)) {
        std::istringstream fields(line);
        std::string device, bar1, bar2, parent;
        std::uint32_t id = 0;
        if (fields >> device >> bar1 >> id >> bar2 >> parent && device == name && bar1 == "|") {
            return VlanFacts{id, parent};
        }
    }
    return std::nullopt;
}

// The inode of each socket a process has open, from the links in /proc/PID/fd.
std::set<std::uint64_t> SocketInodesOf(const fs::path& process)
{
    std::set<std::uint64_t> inodes;
    std::error_code denied;
    for (fs::directory_iterator fd(process / "fd", denied), end; !denied && fd != end;
         fd.increment(denied)) {
        const std::string target = fs::read_symlink(fd->path(), denied).string();
        constexpr std::string_view PREFIX = "socket:[";
        if (target.starts_with(PREFIX)) {
            std::uint64_t inode = 0;
            std::from_chars(target.data() + PREFIX.size(), target.data() + target.size(), inode);
            inodes.insert(inode);
        }
        denied.clear();
    }
    return inodes;
}

// Who holds the socket: the first process with it open that may be looked at (root sees all).
void FindHolder(const fs::path& root, std::uint64_t inode, RawSocketHolder& holder)
{
    std::error_code denied;
    for (fs::directory_iterator entry(root / "proc", denied), end; !denied && entry != end;
         entry.increment(denied)) {
        const std::string pid = entry->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        if (SocketInodesOf(entry->path()).contains(inode)) {
            holder.ProcessId = std::stoi(pid);
            holder.Program = ReadText(entry->path() / "comm");
            return;
        }
    }
}

// /proc/net/packet: a heading, then "sk RefCnt Type Proto Iface R Rmem User Inode" per
// socket; Iface is the interface's index (0 for a socket on every interface).
std::vector<RawSocketHolder> ReadOtherRawSockets(const fs::path& root, std::uint32_t interfaceIndex)
{
    std::vector<RawSocketHolder> holders;
    if (interfaceIndex == 0) {
        return holders;
    }
    const std::set<std::uint64_t> own = SocketInodesOf(root / "proc/self");
    std::ifstream table(root / "proc/net/packet");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string sk, refs, type, protocol, running, memory;
        std::uint32_t index = 0, user = 0;
        std::uint64_t inode = 0;
        if (!(fields >> sk >> refs >> type >> protocol >> index >> running >> memory >> user >>
              inode) ||
            index != interfaceIndex || own.contains(inode)) {
            continue;
        }
        RawSocketHolder holder;
        holder.UserId = user;
        FindHolder(root, inode, holder);
        holders.push_back(holder);
    }
    return holders;
}

bool FileCarriesNetRaw(const std::string& binary)
{
    struct CapFree {
        void operator()(cap_t caps) const { cap_free(caps); }
    };
    const std::unique_ptr<std::remove_pointer_t<cap_t>, CapFree> caps(cap_get_file(binary.c_str()));
    cap_flag_value_t permitted = CAP_CLEAR;
    return caps && cap_get_flag(caps.get(), CAP_NET_RAW, CAP_PERMITTED, &permitted) == 0 &&
           permitted == CAP_SET;
}

}  // namespace

InterfaceFacts ReadInterfaceFacts(const std::string& name)
{
    return ReadInterfaceFactsUnder("/", name);
}

InterfaceFacts ReadInterfaceFactsUnder(const fs::path& root, const std::string& name)
{
    InterfaceFacts facts;
    facts.Name = name;
    const fs::path device = root / "sys/class/net" / name;
    if (name.empty() || name.find('/') != std::string::npos || !Exists(device)) {
        return facts;
    }
    facts.Exists = true;
    facts.Up = (ReadNumber<unsigned>(device / "flags", 16) & IFF_UP_FLAG) != 0;
    facts.OperState = ReadText(device / "operstate");
    // carrier cannot be read while the interface is down.
    facts.Carrier = facts.Up && ReadText(device / "carrier") == "1";
    if (Exists(device / "carrier_changes")) {
        facts.CarrierChanges = ReadNumber<std::uint64_t>(device / "carrier_changes");
    }
    facts.LinkType = ReadNumber<std::uint32_t>(device / "type");
    const bool radio = Exists(device / "wireless") || Exists(device / "phy80211");
    facts.Medium = facts.LinkType != ARPHRD_ETHER_TYPE ? InterfaceMedium::Other
                   : radio                             ? InterfaceMedium::WiFi
                                                       : InterfaceMedium::Ethernet;
    facts.Mtu = ReadNumber<std::uint32_t>(device / "mtu");
    facts.BridgePort = ReadBridgePort(root, device);
    if (Exists(device / "bonding_slave")) {
        facts.BondMaster = LinkTargetName(device / "master");
    }
    facts.Vlan = ReadVlan(root, name);
    facts.OtherRawSockets =
        ReadOtherRawSockets(root, ReadNumber<std::uint32_t>(device / "ifindex"));
    return facts;
}

PrivilegeFacts ReadPrivilegeFacts(std::string_view invokedAs)
{
    PrivilegeFacts facts;
    LinuxProcessInfo process;
    facts.Root = ::geteuid() == 0;
    facts.RawNetworkAccess = process.HasRawNetworkAccess();
    facts.Binary = process.ExecutablePath(invokedAs);
    facts.FileCapability = FileCarriesNetRaw(facts.Binary);

    const uid_t user = ::getuid();
    if (const passwd* account = ::getpwuid(user)) {
        facts.UserName = account->pw_name;
    }
    const group* privileged = ::getgrnam(std::string(PRIVILEGE_GROUP).c_str());
    if (privileged == nullptr) {
        return facts;
    }
    facts.GroupExists = true;
    const gid_t gid = privileged->gr_gid;
    for (char** member = privileged->gr_mem; member != nullptr && *member != nullptr; ++member) {
        facts.GroupInDatabase = facts.GroupInDatabase || facts.UserName == *member;
    }
    if (const passwd* account = ::getpwuid(user); account != nullptr && account->pw_gid == gid) {
        facts.GroupInDatabase = true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count) {
        for (const gid_t held : groups) {
            facts.GroupInSession = facts.GroupInSession || held == gid;
        }
    }
    facts.GroupInSession = facts.GroupInSession || ::getegid() == gid;
    return facts;
}

namespace {

// `nmcli -t -f DEVICE,STATE device`: "eth0:connected" per device (a colon in a name is
// escaped with a backslash).
void ReadNmcliDevices(std::string_view output, const std::string& name, NetworkManagerFacts& facts)
{
    facts.NetworkManager = ManagerState::Unknown;
    std::istringstream lines{std::string(output)};
    std::string line;
    while (std::getline(lines, line)) {
        std::string device;
        std::size_t at = 0;
        for (; at < line.size() && line[at] != ':'; ++at) {
            if (line[at] == '\\' && at + 1 < line.size()) {
                ++at;
            }
            device += line[at];
        }
        if (device != name || at >= line.size()) {
            continue;
        }
        facts.NetworkManagerState = line.substr(at + 1);
        facts.NetworkManager = facts.NetworkManagerState.starts_with("unmanaged")
                                   ? ManagerState::Unmanaged
                                   : ManagerState::Managed;
        return;
    }
}

// `networkctl list --no-legend --no-pager`: "IDX LINK TYPE OPERATIONAL SETUP" per link.
void ReadNetworkctlList(std::string_view output, const std::string& name,
                        NetworkManagerFacts& facts)
{
    facts.Networkd = ManagerState::Unknown;
    std::istringstream lines{std::string(output)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, link, type, operational, setup;
        if (!(fields >> index >> link >> type >> operational >> setup) || link != name) {
            continue;
        }
        facts.NetworkdState = setup;
        facts.Networkd = setup == "unmanaged" ? ManagerState::Unmanaged : ManagerState::Managed;
        return;
    }
}

}  // namespace

NetworkManagerFacts ReadNetworkManagerFacts(Kernel& clock, const std::string& name,
                                            std::uint32_t timeoutMs)
{
    NetworkManagerFacts facts;
    if (const auto nmcli =
            RunToolForOutput(clock, {"nmcli", "-t", "-f", "DEVICE,STATE", "device"}, timeoutMs)) {
        // Without its service nmcli fails: it manages nothing then.
        if (nmcli->ExitStatus == 0) {
            ReadNmcliDevices(nmcli->Out, name, facts);
        } else {
            facts.NetworkManager = ManagerState::Unknown;
        }
    }
    if (const auto networkctl = RunToolForOutput(
            clock, {"networkctl", "list", "--no-legend", "--no-pager"}, timeoutMs)) {
        if (networkctl->ExitStatus == 0) {
            ReadNetworkctlList(networkctl->Out, name, facts);
        } else {
            facts.Networkd = ManagerState::Unknown;
        }
    }
    return facts;
}

}  // namespace tarvik
