#include "netio/adapter_discovery.h"

#include <algorithm>
#include <cstring>

#include "platform/capture/vlan_tagging.h"

namespace tarvik {
namespace {

// A text value as the first platform read it into its 261-byte buffer: up to the first zero.
// A value that is missing, does not fit or sits under a key that did not open reads as empty.
std::string ReadText(const RegistryKey& key, std::string_view name)
{
    char buffer[VALUE_TEXT_BYTES];
    std::uint32_t size = VALUE_TEXT_BYTES;
    if (key.QueryValue(name, nullptr, reinterpret_cast<std::uint8_t*>(buffer), size) !=
        REGISTRY_SUCCESS) {
        return {};
    }
    return std::string(buffer, strnlen(buffer, size));
}

// Any successful 4-byte read hides the card, whatever it holds: "Hidden" = 0 hides it too.
bool IsHidden(const RegistryKey& card)
{
    std::uint8_t buffer[HIDDEN_VALUE_BYTES];
    std::uint32_t size = HIDDEN_VALUE_BYTES;
    return card.QueryValue("Hidden", nullptr, buffer, size) == REGISTRY_SUCCESS;
}

// Calls visit with each subkey name in enumeration order. The enumeration ends at the first
// index that yields no name, so a name too long for the 16-character buffer hides it and
// every subkey after it.
template <typename Visit>
void ForEachSubkey(const RegistryKey& key, Visit visit)
{
    for (std::uint32_t index = 0;; ++index) {
        char name[SUBKEY_NAME_CHARS];
        std::uint32_t chars = SUBKEY_NAME_CHARS;
        if (key.EnumKey(index, name, chars) != REGISTRY_SUCCESS) {
            return;
        }
        visit(std::string(name, chars));
    }
}

void CloseProbedAdapter(Binding& binding)
{
    if (binding.AdapterHandle != INVALID_ADAPTER) {
        binding.CloseAdapter();
    }
}

}  // namespace

void AdapterList::Add(std::string description, std::string name)
{
    Descriptions.push_back(std::move(description));
    Names.push_back(std::move(name));
    Count = static_cast<int>(Names.size());
}

int ListAdapters9x(Registry& registry, Binding& binding, AdapterList& list)
{
    list = AdapterList{};
    RegistryKey net;
    if (registry.OpenKey(NET_CLASS_KEY_9X, net) != REGISTRY_SUCCESS) {
        return DISCOVERY_OPEN_REGISTRY_FAILED;
    }
    bool allOpensSucceeded = true;
    ForEachSubkey(net, [&](const std::string& name) {
        CloseProbedAdapter(binding);
        // The 95/98 family's driver opens an adapter by its class subkey name ("0000").
        if (binding.OpenAdapter(name.c_str()) == INVALID_ADAPTER) {
            allOpensSucceeded = false;
            return;
        }
        if (binding.CheckMedium() != MEDIUM_802_3) {
            return;
        }
        RegistryKey card;
        net.OpenSubkey(name, card);
        list.Add(ReadText(card, "DriverDesc"), name);
    });
    net.Close();
    CloseProbedAdapter(binding);
    if (list.Count == 0) {
        return allOpensSucceeded ? DISCOVERY_NO_ADAPTER : DISCOVERY_OPEN_ADAPTER_FAILED;
    }
    return DISCOVERY_OK;
}

int ListAdaptersNT(Registry& registry, AdapterList& list)
{
    list = AdapterList{};
    RegistryKey cards;
    if (registry.OpenKey(NETWORK_CARDS_KEY_NT, cards) != REGISTRY_SUCCESS) {
        return DISCOVERY_OPEN_REGISTRY_FAILED;
    }
    ForEachSubkey(cards, [&](const std::string& name) {
        RegistryKey card;
        cards.OpenSubkey(name, card);
        if (IsHidden(card)) {
            return;
        }
        list.Add(ReadText(card, "Description"), AdapterNameOf(ReadText(card, "ServiceName")));
    });
    cards.Close();
    return list.Count == 0 ? DISCOVERY_NO_ADAPTER : DISCOVERY_OK;
}

int OpenListedAdapter(Binding& binding, const std::string& name)
{
    if (binding.OpenAdapter(name.c_str()) == INVALID_ADAPTER) {
        return DISCOVERY_OPEN_ADAPTER_FAILED;
    }
    if (binding.OpenRequestEvent() != REQUEST_EVENT_OPEN) {
        return DISCOVERY_OPEN_EVENT_FAILED;
    }
    if (binding.StartReception() != RECEPTION_STARTED) {
        return DISCOVERY_START_RECEPTION_FAILED;
    }
    return DISCOVERY_OK;
}

int FindAdapterIndex(const AdapterList& list, std::string_view name)
{
    for (std::size_t i = 0; i < list.Names.size(); ++i) {
        const std::string_view listed = list.Names[i];
        if (listed == name || InterfaceNameOf(listed) == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int AddVlanAdapter(AdapterList& list, std::string_view name)
{
    const std::string_view interfaceName = InterfaceNameOf(name).value_or(name);
    const std::optional<VlanName> vlan = ParseVlanName(interfaceName);
    if (!vlan) {
        return -1;
    }
    const int trunk = FindAdapterIndex(list, vlan->Trunk);
    if (trunk < 0) {
        return -1;
    }
    list.Add(list.Descriptions[static_cast<std::size_t>(trunk)] + ", VLAN " +
                 std::to_string(vlan->Id),
             AdapterNameOf(interfaceName));
    return list.Count - 1;
}

}  // namespace tarvik
