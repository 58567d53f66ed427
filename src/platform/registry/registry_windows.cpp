#include "platform/windows_api.h"

#include <array>
#include <vector>

#include "platform/registry/registry.h"

namespace tarvik {
namespace {

// One open key of HKEY_LOCAL_MACHINE (the root itself when it owns nothing).
class WindowsKeyNode final : public RegistryNode {
public:
    WindowsKeyNode(HKEY key, bool owned) : key_(key), owned_(owned) {}
    ~WindowsKeyNode() override
    {
        if (owned_) {
            ::RegCloseKey(key_);
        }
    }
    WindowsKeyNode(const WindowsKeyNode&) = delete;
    WindowsKeyNode& operator=(const WindowsKeyNode&) = delete;

    std::unique_ptr<RegistryNode> Clone() const override
    {
        if (!owned_) {
            return std::make_unique<WindowsKeyNode>(key_, false);
        }
        HKEY copy = nullptr;
        if (::RegOpenKeyExW(key_, nullptr, 0, KEY_READ, &copy) != ERROR_SUCCESS) {
            return nullptr;
        }
        return std::make_unique<WindowsKeyNode>(copy, true);
    }

    std::optional<std::string> SubkeyName(std::uint32_t index) const override
    {
        // Key names are at most 255 characters.
        std::array<wchar_t, 256> name{};
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key_, index, name.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return Utf8Text({name.data(), length});
    }

    std::unique_ptr<RegistryNode> Subkey(std::string_view name) const override
    {
        HKEY subkey = nullptr;
        if (name.empty() || name.find('\\') != std::string_view::npos ||
            ::RegOpenKeyExW(key_, WideText(name).c_str(), 0, KEY_READ, &subkey) != ERROR_SUCCESS) {
            return nullptr;
        }
        return std::make_unique<WindowsKeyNode>(subkey, true);
    }

    std::optional<RegistryValue> Value(std::string_view name) const override
    {
        const std::wstring wideName = WideText(name);
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> data(size);
        if (::RegQueryValueExW(key_, wideName.c_str(), nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        data.resize(size);
        RegistryValue value;
        value.Type = type;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            // Texts are kept as the program reads them: UTF-8 with the terminating zero.
            std::wstring text(reinterpret_cast<const wchar_t*>(data.data()),
                              data.size() / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0') {
                text.pop_back();
            }
            const std::string utf8 = Utf8Text(text);
            value.Type = REG_SZ;
            value.Data.assign(utf8.begin(), utf8.end());
            value.Data.push_back(0);
        } else {
            value.Data = std::move(data);
        }
        return value;
    }

private:
    HKEY key_;
    bool owned_;
};

}  // namespace

std::unique_ptr<RegistryNode> WindowsRegistry::Root()
{
    return std::make_unique<WindowsKeyNode>(HKEY_LOCAL_MACHINE, false);
}

}  // namespace tarvik
