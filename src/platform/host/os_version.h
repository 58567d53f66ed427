#pragma once
// The operating-system family. The tool has two adapter discovery paths, one per family of
// the first platform, and picks by the version query's platform id. Linux answers as the NT
// family, so the NT path (the live registry source) runs here; tests inject the others.

#include <cstdint>
#include <functional>
#include <string_view>

namespace tarvik {

inline constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;  // 95/98
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

struct OsVersionInfo {
    std::uint32_t MajorVersion = 0;
    std::uint32_t MinorVersion = 0;
    std::uint32_t BuildNumber = 0;
    std::uint32_t PlatformId = 0;
};

class OsVersionQuery {
public:
    virtual ~OsVersionQuery() = default;
    // false when the version cannot be had; info then holds nothing to go by.
    virtual bool GetVersionEx(OsVersionInfo& info) = 0;
};

// This machine: the NT family, with Linux's release numbers.
class LinuxOsVersionQuery final : public OsVersionQuery {
public:
    bool GetVersionEx(OsVersionInfo& info) override;
};

// This machine on Windows: what the OS itself answers.
class WindowsOsVersionQuery final : public OsVersionQuery {
public:
    bool GetVersionEx(OsVersionInfo& info) override;
};

// A fixed answer, for tests and for running on the virtual segment.
class FixedOsVersionQuery final : public OsVersionQuery {
public:
    explicit FixedOsVersionQuery(std::uint32_t platformId, bool succeeds = true)
        : platformId_(platformId), succeeds_(succeeds)
    {
    }
    bool GetVersionEx(OsVersionInfo& info) override;
    int Calls() const { return calls_; }

private:
    std::uint32_t platformId_;
    bool succeeds_;
    int calls_ = 0;
};

// Told when a family test could not get the version; the start-up sequence shows
// MSG_GET_VERSION_FAIL from it.
using VersionFailureSink = std::function<void()>;

// Each test asks the query anew; only the platform id counts, never the version numbers.
// A failing query calls onFailure (once per test) and the test is false.
bool IsWindows9x(OsVersionQuery& query, const VersionFailureSink& onFailure);
bool IsWindowsNT(OsVersionQuery& query, const VersionFailureSink& onFailure);

}  // namespace tarvik
