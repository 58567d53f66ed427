// The live source of the registry view: the machine's network interfaces, as the NT family
// lists its network cards. Every call reads sysfs anew, so an interface that appears or goes
// while the program runs is seen at the next enumeration.

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/formats/byte_order.h"
#include "platform/registry/registry.h"

namespace tarvik {
namespace {

constexpr long ARPHRD_ETHERNET = 1;
constexpr unsigned long INTERFACE_UP = 0x1;
constexpr unsigned long INTERFACE_LOOPBACK = 0x8;

// The key components above the cards; each holds only the next one.
constexpr std::array<std::string_view, 5> CARDS_PATH = {"Software", "Microsoft", "Windows NT",
                                                        "CurrentVersion", "NetworkCards"};

struct Interface {
    std::string Name;
    long Index = 0;
};

std::string ReadFirstLine(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return {};
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

bool ParseNumber(std::string_view text, long& number, int base = 10)
{
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
    }
    const auto [end, problem] =
        std::from_chars(text.data(), text.data() + text.size(), number, base);
    return problem == std::errc{} && end == text.data() + text.size() && !text.empty();
}

std::vector<Interface> ScanInterfaces(const std::string& root)
{
    std::vector<Interface> found;
    std::error_code problem;
    for (const auto& entry : std::filesystem::directory_iterator(root, problem)) {
        Interface item;
        item.Name = entry.path().filename().string();
        if (ParseNumber(ReadFirstLine(entry.path() / "ifindex"), item.Index) && item.Index > 0) {
            found.push_back(std::move(item));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Interface& a, const Interface& b) { return a.Index < b.Index; });
    return found;
}

// The name of the interface's driver in the OS: the device's driver link for real hardware, else
// what the driver tells ethtool (veth, bridge, tun have no device link).
std::string DriverName(const std::filesystem::path& interface, const std::string& name,
                       bool askEthtool)
{
    std::error_code problem;
    const auto target = std::filesystem::read_symlink(interface / "device" / "driver", problem);
    if (!problem) {
        return target.filename().string();
    }
    if (!askEthtool || name.size() >= IFNAMSIZ) {
        return {};
    }
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return {};
    }
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size() + 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    std::string driver;
    if (::ioctl(socket, SIOCETHTOOL, &request) == 0) {
        driver.assign(info.driver, strnlen(info.driver, sizeof(info.driver)));
    }
    ::close(socket);
    return driver;
}

RegistryValue TextValue(std::string_view text)
{
    RegistryValue value;
    value.Type = REG_SZ;
    value.Data.assign(text.begin(), text.end());
    value.Data.push_back(0);
    return value;
}

RegistryValue DwordValue(std::uint32_t number)
{
    RegistryValue value;
    value.Type = REG_DWORD;
    value.Data.assign(4, 0);
    StoreLe32(value.Data, 0, number);
    return value;
}

class CardNode final : public RegistryNode {
public:
    CardNode(std::string root, long index) : root_(std::move(root)), index_(index) {}

    std::unique_ptr<RegistryNode> Clone() const override
    {
        return std::make_unique<CardNode>(root_, index_);
    }
    std::optional<std::string> SubkeyName(std::uint32_t) const override { return std::nullopt; }
    std::unique_ptr<RegistryNode> Subkey(std::string_view) const override { return nullptr; }

    std::optional<RegistryValue> Value(std::string_view name) const override
    {
        // The interface is looked up by index at every read: a renamed interface keeps its
        // card, a removed one loses its values.
        const std::vector<Interface> interfaces = ScanInterfaces(root_);
        const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                        [this](const Interface& i) { return i.Index == index_; });
        if (found == interfaces.end()) {
            return std::nullopt;
        }
        const std::filesystem::path directory = std::filesystem::path(root_) / found->Name;
        if (RegistryNamesEqual(name, "ServiceName")) {
            return TextValue(found->Name);
        }
        if (RegistryNamesEqual(name, "Description")) {
            return TextValue(Describe(directory, found->Name));
        }
        if (RegistryNamesEqual(name, "Hidden")) {
            if (IsHidden(directory)) {
                return DwordValue(1);
            }
            return std::nullopt;
        }
        return std::nullopt;
    }

private:
    static unsigned long Flags(const std::filesystem::path& directory)
    {
        long flags = 0;
        return ParseNumber(ReadFirstLine(directory / "flags"), flags, 16)
                   ? static_cast<unsigned long>(flags)
                   : 0;
    }

    // Hidden: the loopback, whatever is not Ethernet, and virtual interfaces that are down
    // (ifb, dummy and bridge leftovers nobody brought up). A physical card stays listed when
    // down, since a technician may be about to bring it up.
    static bool IsHidden(const std::filesystem::path& directory)
    {
        long type = 0;
        const bool ethernet = ParseNumber(ReadFirstLine(directory / "type"), type) &&
                              type == ARPHRD_ETHERNET;
        const unsigned long flags = Flags(directory);
        if (!ethernet || (flags & INTERFACE_LOOPBACK) != 0) {
            return true;
        }
        std::error_code problem;
        const bool physical = std::filesystem::exists(directory / "device", problem);
        return !physical && (flags & INTERFACE_UP) == 0;
    }

    std::string Describe(const std::filesystem::path& directory, const std::string& name) const
    {
        std::string text = name;
        // ethtool is asked only about the machine's own interfaces, never about another tree.
        const std::string driver = DriverName(directory, name, root_ == "/sys/class/net");
        if (!driver.empty()) {
            text += " (" + driver + ")";
        }
        const std::string address = ReadFirstLine(directory / "address");
        if (!address.empty()) {
            text += " " + address;
        }
        if ((Flags(directory) & INTERFACE_UP) == 0) {
            text += ", interface down";
        } else if (ReadFirstLine(directory / "carrier") == "1") {
            text += ", link up";
        } else {
            text += ", link down";
        }
        return text;
    }

    std::string root_;
    long index_;
};

class CardsNode final : public RegistryNode {
public:
    explicit CardsNode(std::string root) : root_(std::move(root)) {}

    std::unique_ptr<RegistryNode> Clone() const override
    {
        return std::make_unique<CardsNode>(root_);
    }

    std::optional<std::string> SubkeyName(std::uint32_t index) const override
    {
        const std::vector<Interface> interfaces = ScanInterfaces(root_);
        if (index >= interfaces.size()) {
            return std::nullopt;
        }
        return std::to_string(interfaces[index].Index);
    }

    std::unique_ptr<RegistryNode> Subkey(std::string_view name) const override
    {
        long index = 0;
        if (!ParseNumber(name, index)) {
            return nullptr;
        }
        for (const Interface& interface : ScanInterfaces(root_)) {
            if (interface.Index == index && std::to_string(index) == name) {
                return std::make_unique<CardNode>(root_, index);
            }
        }
        return nullptr;
    }

    std::optional<RegistryValue> Value(std::string_view) const override { return std::nullopt; }

private:
    std::string root_;
};

// HKEY_LOCAL_MACHINE (depth 0) and the keys on the way down to the cards.
class PathNode final : public RegistryNode {
public:
    PathNode(std::string root, std::size_t depth) : root_(std::move(root)), depth_(depth) {}

    std::unique_ptr<RegistryNode> Clone() const override
    {
        return std::make_unique<PathNode>(root_, depth_);
    }

    std::optional<std::string> SubkeyName(std::uint32_t index) const override
    {
        if (index != 0) {
            return std::nullopt;
        }
        return std::string(CARDS_PATH[depth_]);
    }

    std::unique_ptr<RegistryNode> Subkey(std::string_view name) const override
    {
        if (!RegistryNamesEqual(name, CARDS_PATH[depth_])) {
            return nullptr;
        }
        if (depth_ + 1 == CARDS_PATH.size()) {
            return std::make_unique<CardsNode>(root_);
        }
        return std::make_unique<PathNode>(root_, depth_ + 1);
    }

    std::optional<RegistryValue> Value(std::string_view) const override { return std::nullopt; }

private:
    std::string root_;
    std::size_t depth_;
};

}  // namespace

LiveRegistry::LiveRegistry(std::string sysClassNet) : sysClassNet_(std::move(sysClassNet)) {}

std::unique_ptr<RegistryNode> LiveRegistry::Root()
{
    return std::make_unique<PathNode>(sysClassNet_, 0);
}

}  // namespace tarvik
