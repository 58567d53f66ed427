#include "platform/host/process_info.h"

#include "platform/host/capabilities.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace tarvik {
namespace {

constexpr unsigned CAP_NET_RAW_BIT = 13;

}  // namespace

bool StatusGrantsNetRaw(std::string_view status)
{
    constexpr std::string_view FIELD = "CapEff:";
    std::size_t at = status.find(FIELD);
    while (at != std::string_view::npos && at != 0 && status[at - 1] != '\n') {
        at = status.find(FIELD, at + 1);
    }
    if (at == std::string_view::npos) {
        return false;
    }
    std::string_view value = status.substr(at + FIELD.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    value = value.substr(0, value.find('\n'));
    std::uint64_t capabilities = 0;
    const auto [end, problem] =
        std::from_chars(value.data(), value.data() + value.size(), capabilities, 16);
    if (problem != std::errc{} || end == value.data()) {
        return false;
    }
    return ((capabilities >> CAP_NET_RAW_BIT) & 1U) != 0;
}

bool LinuxProcessInfo::HasRawNetworkAccess()
{
    if (::geteuid() == 0) {
        return true;
    }
    std::ifstream file("/proc/self/status");
    const std::string status((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    return StatusGrantsNetRaw(status);
}

std::string LinuxProcessInfo::ExecutablePath(std::string_view invokedAs)
{
    std::error_code noLink;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", noLink);
    if (!noLink) {
        return self.string();
    }
    std::string path(invokedAs);
    if (path.find('/') != std::string::npos) {
        std::error_code ignored;
        const auto absolute = std::filesystem::absolute(path, ignored);
        if (!absolute.empty()) {
            path = absolute.lexically_normal().string();
        }
    }
    return path;
}

bool LinuxProcessInfo::DropAllCapabilities()
{
    return DropThreadCapabilities();
}

}  // namespace tarvik
