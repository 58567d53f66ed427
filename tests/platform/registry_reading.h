#pragma once
// Reading keys the way adapter discovery does, for the registry sources' tests.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace tarvik {

inline std::string ReadString(const RegistryKey& key, std::string_view name)
{
    char buffer[300];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = REG_NONE;
    if (key.QueryValue(name, &type, reinterpret_cast<std::uint8_t*>(buffer), size) !=
            REGISTRY_SUCCESS ||
        type != REG_SZ) {
        return "<unreadable>";
    }
    return std::string(buffer, strnlen(buffer, size));
}

inline std::vector<std::string> SubkeyNames(const RegistryKey& key)
{
    std::vector<std::string> names;
    for (std::uint32_t index = 0;; ++index) {
        char name[64];
        std::uint32_t chars = sizeof name;
        if (key.EnumKey(index, name, chars) != REGISTRY_SUCCESS) {
            return names;
        }
        names.emplace_back(name, chars);
    }
}

}  // namespace tarvik
