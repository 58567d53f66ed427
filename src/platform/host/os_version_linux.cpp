#include "platform/host/os_version.h"

#include <charconv>
#include <string_view>

#include <sys/utsname.h>

namespace tarvik {
namespace {

std::uint32_t TakeNumber(std::string_view& text)
{
    std::uint32_t number = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (problem != std::errc{}) {
        return 0;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (text.starts_with('.')) {
        text.remove_prefix(1);
    }
    return number;
}

}  // namespace

bool LinuxOsVersionQuery::GetVersionEx(OsVersionInfo& info)
{
    info = OsVersionInfo{};
    info.PlatformId = VER_PLATFORM_WIN32_NT;
    utsname name{};
    if (::uname(&name) == 0) {
        std::string_view release = name.release;
        info.MajorVersion = TakeNumber(release);
        info.MinorVersion = TakeNumber(release);
        info.BuildNumber = TakeNumber(release);
    }
    return true;
}

}  // namespace tarvik
