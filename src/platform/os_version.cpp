#include "platform/os_version.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/utsname.h>
#include <unistd.h>

namespace tarvik {
namespace {

bool IsFamily(OsVersionQuery& query, const VersionFailureSink& onFailure, std::uint32_t platformId)
{
    OsVersionInfo info;
    if (!query.GetVersionEx(info)) {
        if (onFailure) {
            onFailure();
        }
        return false;
    }
    return info.PlatformId == platformId;
}

// Reads the leading decimal number of text and moves past it and one following '.'.
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

bool FixedOsVersionQuery::GetVersionEx(OsVersionInfo& info)
{
    ++calls_;
    if (!succeeds_) {
        return false;
    }
    info = OsVersionInfo{};
    info.PlatformId = platformId_;
    return true;
}

bool IsWindows9x(OsVersionQuery& query, const VersionFailureSink& onFailure)
{
    return IsFamily(query, onFailure, VER_PLATFORM_WIN32_WINDOWS);
}

bool IsWindowsNT(OsVersionQuery& query, const VersionFailureSink& onFailure)
{
    return IsFamily(query, onFailure, VER_PLATFORM_WIN32_NT);
}

}  // namespace tarvik
