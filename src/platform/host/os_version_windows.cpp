#include "platform/windows_api.h"

#include "platform/host/os_version.h"

namespace tarvik {

bool WindowsOsVersionQuery::GetVersionEx(OsVersionInfo& info)
{
    // GetVersionExW answers what the program's manifest declares rather than what runs;
    // ntdll's RtlGetVersion tells the truth. Both give the platform id, which is all that
    // counts.
    using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto call = ntdll == nullptr
                          ? nullptr
                          : reinterpret_cast<RtlGetVersionCall>(
                                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
    if (call == nullptr || call(&version) != 0) {
        if (::GetVersionExW(&version) == 0) {
            return false;
        }
    }
    info = OsVersionInfo{};
    info.PlatformId = version.dwPlatformId;
    info.MajorVersion = version.dwMajorVersion;
    info.MinorVersion = version.dwMinorVersion;
    info.BuildNumber = version.dwBuildNumber;
    return true;
}

}  // namespace tarvik
