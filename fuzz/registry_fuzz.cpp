// The REGEDIT4 reader on any text. A text it refuses gets a message naming the line; a text
// it takes must answer as a registry does: every subkey it lists opens by that name, lists
// in name order with case ignored, and every value reports its size before it is read and
// refuses a buffer one byte short.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace tarvik {
namespace {

// Enough to walk every key of the longest text the fuzzer hands in.
constexpr std::size_t KEY_LIMIT = 20000;
constexpr std::uint32_t NAME_CHARS = 512;
constexpr std::string_view VALUE_NAMES[] = {"", "ServiceName", "Description", "Hidden", "a"};

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "registry reader fault: %s\n", what);
    std::abort();
}

void CheckValue(const RegistryKey& key, std::string_view name)
{
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const int asked = key.QueryValue(name, &type, nullptr, size);
    if (asked == REGISTRY_NOT_FOUND) {
        return;
    }
    if (asked != REGISTRY_SUCCESS && asked != REGISTRY_MORE_DATA) {
        Fault("a value's size cannot be asked");
    }
    std::vector<std::uint8_t> data(size + 1, 0xA5);
    std::uint32_t room = size;
    std::uint32_t readType = 0;
    if (key.QueryValue(name, &readType, data.data(), room) != REGISTRY_SUCCESS || room != size ||
        readType != type || data[size] != 0xA5) {
        Fault("a value does not read into a buffer of its reported size");
    }
    if (size > 0) {
        room = size - 1;
        if (key.QueryValue(name, nullptr, data.data(), room) != REGISTRY_MORE_DATA) {
            Fault("a value fits a buffer shorter than its size");
        }
    }
}

void Walk(Registry& registry)
{
    std::deque<RegistryKey> keys;
    keys.emplace_back();
    if (registry.OpenKey("", keys.back()) != REGISTRY_SUCCESS) {
        Fault("HKEY_LOCAL_MACHINE does not open");
    }
    for (std::size_t walked = 0; !keys.empty() && walked < KEY_LIMIT; ++walked) {
        const RegistryKey key = std::move(keys.front());
        keys.pop_front();
        for (const std::string_view name : VALUE_NAMES) {
            CheckValue(key, name);
        }
        std::string previous;
        for (std::uint32_t index = 0;; ++index) {
            char name[NAME_CHARS];
            std::uint32_t chars = NAME_CHARS;
            const int listed = key.EnumKey(index, name, chars);
            if (listed == REGISTRY_NO_MORE_ITEMS) {
                break;
            }
            if (listed == REGISTRY_MORE_DATA) {
                continue;
            }
            if (listed != REGISTRY_SUCCESS || chars >= NAME_CHARS || name[chars] != '\0') {
                Fault("a subkey name does not list");
            }
            const std::string_view current(name, chars);
            if (index > 0 && !RegistryNameLess(previous, current)) {
                Fault("subkeys out of name order, or one name twice");
            }
            previous = current;
            RegistryKey subkey;
            if (key.OpenSubkey(current, subkey) != REGISTRY_SUCCESS) {
                Fault("a listed subkey does not open by its name");
            }
            keys.push_back(std::move(subkey));
        }
    }
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto registry = tarvik::FileRegistry::Parse(text, error);
    if (!registry) {
        if (!error.starts_with("line ")) {
            tarvik::Fault("a refused text without the line that is wrong");
        }
        return 0;
    }
    tarvik::Walk(*registry);
    return 0;
}
