#include "platform/windows_api.h"

#include "platform/host/user_identity.h"

namespace tarvik {
namespace {

// A variable of the environment as UTF-8 (the narrow getenv gives the ANSI code page's bytes);
// empty when it is not set.
std::string EnvironmentText(const wchar_t* name)
{
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length =
            ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            return {};
        }
        if (length < value.size()) {
            value.resize(length);
            return Utf8Text(value);
        }
        value.resize(length);
    }
}

}  // namespace

// Windows sets both for every session.
std::string MachineName()
{
    return EnvironmentText(L"COMPUTERNAME");
}

std::string LoginName()
{
    return EnvironmentText(L"USERNAME");
}

std::string UserStateFolder()
{
    const std::string local = EnvironmentText(L"LOCALAPPDATA");
    return local.empty() ? std::string() : local + "\\Tarvik";
}

std::string_view UserStateFolderHelp()
{
    return "%LOCALAPPDATA%\\Tarvik";
}

std::string SystemSettingsFolder()
{
    const std::string data = EnvironmentText(L"PROGRAMDATA");
    return (data.empty() ? std::string("C:\\ProgramData") : data) + "\\Tarvik";
}

std::string UserSettingsFolder()
{
    const std::string roaming = EnvironmentText(L"APPDATA");
    return roaming.empty() ? std::string() : roaming + "\\Tarvik";
}

}  // namespace tarvik
