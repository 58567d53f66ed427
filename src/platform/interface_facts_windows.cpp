#include "platform/windows_api.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/interface_facts.h"

// Last: the IP Helper API's headers define as macros names other headers declare.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>  // after the sockets API, which it needs

namespace tarvik {
namespace {

// The IP Helper API's hardware types.
constexpr std::uint32_t IF_ETHERNET = 6;   // IF_TYPE_ETHERNET_CSMACD
constexpr std::uint32_t IF_WIRELESS = 71;  // IF_TYPE_IEEE80211

bool NamesEqual(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

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
    ULONG size = 16 * 1024;
    std::vector<std::uint8_t> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST,
                                        nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                        &size);
    }
    if (result != ERROR_SUCCESS) {
        return facts;
    }
    // An adapter is named by its service name ("{GUID}") or by the name its user knows.
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
        const bool named =
            (adapter->AdapterName != nullptr && NamesEqual(adapter->AdapterName, name)) ||
            (adapter->FriendlyName != nullptr && NamesEqual(Utf8Text(adapter->FriendlyName), name));
        if (!named) {
            continue;
        }
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
        break;
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
