#include "platform/host/os_version.h"


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
}  // namespace

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
