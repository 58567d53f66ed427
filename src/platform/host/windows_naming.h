#pragma once
// The names Windows users know their adapters by: the connection's friendly name ("Ethernet
// 2") and the adapter's description, from the IP Helper API, beside the service name
// ("{GUID}") that adapter discovery lists.

#include "platform/host/machine.h"

namespace tarvik {

class WindowsNaming final : public InterfaceNaming {
public:
    std::string FriendlyName(const std::string& interfaceName) override;
    std::string InterfaceOfName(const std::string& name) override;
};

}  // namespace tarvik
