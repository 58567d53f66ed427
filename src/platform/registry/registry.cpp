#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

char FoldCase(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Walks a backslash-separated path down from node; an empty path names the node itself and
// an empty component (a doubled, leading or trailing backslash) names nothing.
std::unique_ptr<RegistryNode> Walk(const RegistryNode& node, std::string_view path)
{
    std::unique_ptr<RegistryNode> current = node.Clone();
    if (path.empty()) {
        return current;
    }
    for (;;) {
        const std::size_t split = path.find('\\');
        const std::string_view component = path.substr(0, split);
        if (component.empty()) {
            return nullptr;
        }
        current = current->Subkey(component);
        if (!current) {
            return nullptr;
        }
        if (split == std::string_view::npos) {
            return current;
        }
        path.remove_prefix(split + 1);
        if (path.empty()) {
            return nullptr;
        }
    }
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(x) == FoldCase(y);
           });
}

bool RegistryNameLess(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return FoldCase(x) < FoldCase(y); });
}

int RegistryKey::OpenSubkey(std::string_view path, RegistryKey& subkey) const
{
    if (!node_) {
        subkey.Close();
        return REGISTRY_INVALID_HANDLE;
    }
    std::unique_ptr<RegistryNode> opened = Walk(*node_, path);
    subkey = RegistryKey(std::move(opened));
    return subkey.IsOpen() ? REGISTRY_SUCCESS : REGISTRY_NOT_FOUND;
}

int RegistryKey::EnumKey(std::uint32_t index, char* name, std::uint32_t& nameChars) const
{
    if (!node_) {
        return REGISTRY_INVALID_HANDLE;
    }
    const std::optional<std::string> found = node_->SubkeyName(index);
    if (!found) {
        return REGISTRY_NO_MORE_ITEMS;
    }
    if (name == nullptr || found->size() + 1 > nameChars) {
        return REGISTRY_MORE_DATA;
    }
    std::memcpy(name, found->data(), found->size());
    name[found->size()] = '\0';
    nameChars = static_cast<std::uint32_t>(found->size());
    return REGISTRY_SUCCESS;
}

int RegistryKey::QueryValue(std::string_view name, std::uint32_t* type, std::uint8_t* data,
                            std::uint32_t& dataBytes) const
{
    if (!node_) {
        return REGISTRY_INVALID_HANDLE;
    }
    const std::optional<RegistryValue> value = node_->Value(name);
    if (!value) {
        return REGISTRY_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = value->Type;
    }
    const auto size = static_cast<std::uint32_t>(value->Data.size());
    if (data != nullptr && size > dataBytes) {
        dataBytes = size;
        return REGISTRY_MORE_DATA;
    }
    if (data != nullptr) {
        std::copy(value->Data.begin(), value->Data.end(), data);
    }
    dataBytes = size;
    return REGISTRY_SUCCESS;
}

int Registry::OpenKey(std::string_view path, RegistryKey& key)
{
    const std::unique_ptr<RegistryNode> root = Root();
    key = RegistryKey(root ? Walk(*root, path) : nullptr);
    return key.IsOpen() ? REGISTRY_SUCCESS : REGISTRY_NOT_FOUND;
}

}  // namespace tarvik
