#pragma once
// <windows.h> for this layer's Windows files, and text in the forms the Win32 API takes. The
// system's headers define as macros a few names that this code declares itself with the same
// values (CreateEvent, WAIT_TIMEOUT, REG_SZ, VER_PLATFORM_WIN32_NT, ...): they are taken back
// here, so a Windows file calls the wide functions by their full names (CreateEventW).
// Included by Windows files only, before the other headers.

#include <windows.h>

#include <string>
#include <string_view>

#undef CreateEvent
#undef GetVersionEx
#undef WAIT_OBJECT_0
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef MAXIMUM_WAIT_OBJECTS
#undef REG_NONE
#undef REG_SZ
#undef REG_BINARY
#undef REG_DWORD
#undef VER_PLATFORM_WIN32s
#undef VER_PLATFORM_WIN32_WINDOWS
#undef VER_PLATFORM_WIN32_NT

namespace tarvik {

// UTF-8, which the program speaks everywhere, to UTF-16 for the wide API and back.
inline std::wstring WideText(std::string_view text)
{
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
    return wide;
}

inline std::string Utf8Text(std::wstring_view wide)
{
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                          nullptr, nullptr);
    return text;
}

// The system's message for an error code, on one line.
inline std::string SystemErrorText(DWORD code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? Utf8Text({buffer, length}) : "error " + std::to_string(code);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace tarvik
