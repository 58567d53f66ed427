#include "platform/windows_api.h"

#include "platform/host/interface_facts.h"

// Last: the IP Helper API's headers define as macros names other headers declare.
#include "platform/host/ip_helper_windows.h"

namespace tarvik {
namespace {

// The IP Helper API's hardware types.
constexpr std::uint32_t IF_ETHERNET = 6;   // IF_TYPE_ETHERNET_CSMACD
constexpr std::uint32_t IF_WIRELESS = 71;  // IF_TYPE_IEEE80211

std::string OperStateText(IF_OPER_STATUS status)
{
    switch (status) {
    case IfOperStatusUp:
        return "up";
    case IfOperStatusDown:
        return "down";
    case IfOperStatusTesting:
        return "testing";
    case IfOperStatusDormant:
        return "dormant";
    case IfOperStatusNotPresent:
        return "notpresent";
    case IfOperStatusLowerLayerDown:
        return "lowerlayerdown";
    default:
        return "unknown";
    }
}

}  // namespace

InterfaceFacts ReadInterfaceFacts(const std::string& name)
{
    InterfaceFacts facts;
    facts.Name = name;
    // An adapter is named by its service name ("{GUID}") or by a name its user knows.
    const AdapterAddressList list = AdapterAddressList::Read();
    const IP_ADAPTER_ADDRESSES* adapter = list.ByServiceName(name);
    if (adapter == nullptr) {
        adapter = list.ByKnownName(name);
    }
    if (adapter != nullptr) {
        facts.Exists = true;
        // Windows does not tell an adapter switched off from one without a link: a disabled
        // adapter is not listed at all.
        facts.Up = adapter->OperStatus != IfOperStatusNotPresent;
        facts.Carrier = adapter->OperStatus == IfOperStatusUp;
        facts.OperState = OperStateText(adapter->OperStatus);
        facts.LinkType = adapter->IfType;
        facts.Medium = adapter->IfType == IF_ETHERNET   ? InterfaceMedium::Ethernet
                       : adapter->IfType == IF_WIRELESS ? InterfaceMedium::WiFi
                                                        : InterfaceMedium::Other;
        facts.Mtu = adapter->Mtu;
        // Windows keeps no count of the link's changes that a program can read.
        facts.CarrierChanges = std::nullopt;
    }
    return facts;
}

PrivilegeFacts ReadPrivilegeFacts(std::string_view invokedAs)
{
    // Npcap decides at the adapter's open whether this user may capture (it can be installed
    // for administrators only); the open's own check line says what it decided.
    PrivilegeFacts facts;
    facts.Binary = std::string(invokedAs);
    facts.RawNetworkAccess = true;
    facts.DecidedAtOpen = true;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) != 0) {
        TOKEN_ELEVATION elevation{};
        DWORD length = 0;
        if (::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &length) !=
            0) {
            facts.Root = elevation.TokenIsElevated != 0;
        }
        ::CloseHandle(token);
    }
    return facts;
}

NetworkManagerFacts ReadNetworkManagerFacts(Kernel&, const std::string&, std::uint32_t)
{
    // Neither manager runs on Windows.
    return {};
}

}  // namespace tarvik
