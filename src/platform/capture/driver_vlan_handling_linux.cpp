#include "platform/capture/driver_vlan_handling.h"

namespace tarvik {

std::optional<std::string> VlanTaggingRefusal(const std::string&, std::uint16_t)
{
    return std::nullopt;
}

}  // namespace tarvik
