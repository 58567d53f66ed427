#include "platform/host/doctor_remedies.h"

namespace tarvik {

// Linux: the iproute2 and systemd tools a Debian or Fedora machine has, with sudo where the
// change needs root; each change lasts until reboot, so nothing is left behind by accident.
constexpr RemedyTable LINUX_REMEDIES = {{
    {Remedy::NoSuchInterface,
     "pick one of `ip -br link` (or `tarvik-cli adapters`); a USB adapter may have been renamed "
     "when plugged in"},
    {Remedy::NoAdapter,
     "plug a wired adapter in and bring it up; `ip -br link` lists the interfaces, and "
     "`tarvik-cli doctor -i IFNAME` checks one of them"},
    {Remedy::BringUp, "sudo ip link set {interface} up"},
    {Remedy::SetMtu, "sudo ip link set {interface} mtu {mtu}"},
    {Remedy::RaiseMtu,
     "sudo ip link set {interface} mtu {mtu} (a tunnel or VLAN parent may be why it is small)"},
    {Remedy::ReleaseFromManager,
     "sudo nmcli device set {interface} managed no   (until reboot; `managed yes` hands it back)"},
    {Remedy::ReleaseFromNetworkd,
     "printf '[Match]\\nName={interface}\\n[Link]\\nUnmanaged=yes\\n' | sudo tee "
     "/run/systemd/network/00-tarvik-{interface}.network && sudo networkctl reload   (until "
     "reboot)"},
    {Remedy::WaitOrStopSpanningTree,
     "wait {wait} after the link comes up, or turn spanning tree off: sudo ip link set {bridge} "
     "type bridge stp_state 0"},
    {Remedy::BringBridgeUp, "bring the bridge up: sudo ip link set {bridge} up"},
    {Remedy::SpanningTreeOff,
     "sudo ip link set {bridge} type bridge stp_state 0, or wait that long after plugging the "
     "device in or powering it"},
    {Remedy::CloseOtherRawSockets,
     "a second loader or an emulated device on the same interface sees the same frames and may "
     "answer or send too; close it (`sudo ss -0 -p` lists them). A capture (tcpdump, Wireshark) "
     "does no harm"},
    {Remedy::RejoinSession, "log out and in again (or run `newgrp {group}` in this shell)"},
    {Remedy::PrivilegeNotGranted, "run the binary from where it was installed, or with sudo"},
    {Remedy::NoPrivilege,
     "run with sudo, or grant the binary the right: sudo setcap cap_net_raw+ep {binary}"},
    {Remedy::NoPrivilegeOrJoinGroup,
     "run with sudo, or grant the binary the right: sudo setcap cap_net_raw+ep {binary}, or join "
     "group {group}: sudo usermod -aG {group} {user}, then log in again"},
    {Remedy::FilterRefused, "check `dmesg`; {explain}"},
}};
static_assert(RowsStandAtTheirRemedies(LINUX_REMEDIES));

// Windows: what a user does there. Adapters are enabled and set in Network Connections
// (ncpa.cpl) or with `netsh` from a prompt run as administrator; the right to capture is
// Npcap's, which lets every user in unless it was installed for administrators only.
constexpr RemedyTable WINDOWS_REMEDIES = {{
    {Remedy::NoSuchInterface,
     "pick one of `tarvik-cli adapters` (Network Connections, ncpa.cpl, shows the same cards); "
     "a USB adapter may take another name in another port"},
    {Remedy::NoAdapter,
     "plug a wired adapter in and enable it in Network Connections (ncpa.cpl); `tarvik-cli "
     "adapters` lists what Npcap sees, and `tarvik-cli doctor -i NAME` checks one of them"},
    {Remedy::BringUp,
     "enable it in Network Connections (ncpa.cpl), or from a prompt run as administrator: "
     "netsh interface set interface \"{interface}\" admin=enabled"},
    {Remedy::SetMtu,
     "from a prompt run as administrator: netsh interface ipv4 set subinterface \"{interface}\" "
     "mtu={mtu} store=active"},
    {Remedy::RaiseMtu,
     "from a prompt run as administrator: netsh interface ipv4 set subinterface \"{interface}\" "
     "mtu={mtu} store=active (a VPN or VLAN driver may be why it is small)"},
    {Remedy::ReleaseFromManager,
     "keep the program that manages {interface} from changing it during the upgrade"},
    {Remedy::ReleaseFromNetworkd,
     "keep the program that manages {interface} from changing it during the upgrade"},
    {Remedy::WaitOrStopSpanningTree,
     "wait {wait} after the link comes up, or take the adapter out of {bridge} in Network "
     "Connections (ncpa.cpl)"},
    {Remedy::BringBridgeUp, "enable {bridge} in Network Connections (ncpa.cpl)"},
    {Remedy::SpanningTreeOff,
     "take the adapter out of {bridge} in Network Connections (ncpa.cpl), or wait that long "
     "after plugging the device in or powering it"},
    {Remedy::CloseOtherRawSockets,
     "a second loader or an emulated device on the same adapter sees the same frames and may "
     "answer or send too; close it. A capture (Wireshark) does no harm"},
    {Remedy::RejoinSession, "sign out of Windows and in again"},
    {Remedy::PrivilegeNotGranted,
     "right-click the program (or the prompt) and choose \"Run as administrator\""},
    {Remedy::NoPrivilege,
     "choose \"Run as administrator\" for the prompt, or reinstall Npcap without \"Restrict "
     "Npcap driver's access to Administrators only\""},
    {Remedy::NoPrivilegeOrJoinGroup,
     "choose \"Run as administrator\" for the prompt, or reinstall Npcap without \"Restrict "
     "Npcap driver's access to Administrators only\""},
    {Remedy::FilterRefused,
     "reinstall Npcap (its driver may have stopped: `sc query npcap` says); {explain}"},
}};
static_assert(RowsStandAtTheirRemedies(WINDOWS_REMEDIES));

std::string RemedyText(const RemedyTable& table, Remedy remedy,
                       std::initializer_list<RemedyField> fields)
{
    std::string text(table[static_cast<std::size_t>(remedy)].Text);
    for (const auto& [name, value] : fields) {
        const std::string field = "{" + std::string(name) + "}";
        for (std::size_t at = text.find(field); at != std::string::npos;
             at = text.find(field, at + value.size())) {
            text.replace(at, field.size(), value);
        }
    }
    return text;
}

}  // namespace tarvik
