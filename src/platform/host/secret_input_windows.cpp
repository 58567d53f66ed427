#include "platform/windows_api.h"

#include <array>

#include "platform/host/secret_input.h"

namespace tarvik {
namespace {

// The console's own input and screen, whatever standard input and output were redirected to.
HANDLE OpenConsole(const wchar_t* name)
{
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
}

void WriteConsoleText(HANDLE screen, std::string_view text)
{
    const std::wstring wide = WideText(text);
    DWORD written = 0;
    ::WriteConsoleW(screen, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace

std::optional<std::string> ReadHiddenLine(std::string_view prompt, std::string& why)
{
    const HANDLE input = OpenConsole(L"CONIN$");
    DWORD saved = 0;
    if (input == INVALID_HANDLE_VALUE || ::GetConsoleMode(input, &saved) == 0) {
        if (input != INVALID_HANDLE_VALUE) {
            ::CloseHandle(input);
        }
        why = "the program has no console to read it from";
        return std::nullopt;
    }
    const HANDLE screen = OpenConsole(L"CONOUT$");
    if (screen != INVALID_HANDLE_VALUE) {
        WriteConsoleText(screen, prompt);
    }
    // Whole lines, edited by the console, without echo; Ctrl-C still ends the program.
    ::SetConsoleMode(input,
                     (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);

    std::wstring line;
    line.reserve(HIDDEN_LINE_MAX_BYTES + 256);
    std::array<wchar_t, 256> buffer{};
    while (why.empty()) {
        DWORD got = 0;
        if (::ReadConsoleW(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                           nullptr) == 0 ||
            got == 0) {
            why = "the input ended before the line did";
            break;
        }
        const std::wstring_view piece(buffer.data(), got);
        const std::size_t end = piece.find(L'\n');
        line.append(piece.substr(0, end));
        if (line.size() > HIDDEN_LINE_MAX_BYTES) {
            why = "the line is longer than " + std::to_string(HIDDEN_LINE_MAX_BYTES) + " bytes";
        } else if (end != std::wstring_view::npos) {
            break;
        }
    }
    ::SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
    ::SetConsoleMode(input, saved);
    ::CloseHandle(input);
    if (screen != INVALID_HANDLE_VALUE) {
        WriteConsoleText(screen, "\r\n");
        ::CloseHandle(screen);
    }
    if (!line.empty() && line.back() == L'\r') {
        line.pop_back();
    }
    std::optional<std::string> text;
    if (why.empty()) {
        text = Utf8Text(line);
        if (text->size() > HIDDEN_LINE_MAX_BYTES) {
            ::SecureZeroMemory(text->data(), text->size());
            text.reset();
            why = "the line is longer than " + std::to_string(HIDDEN_LINE_MAX_BYTES) + " bytes";
        }
    }
    ::SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
    return text;
}

std::optional<std::string> SecretFromEnvironment(const char* name)
{
    const std::wstring wideName = WideText(name);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                       static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            std::string text = Utf8Text(value);
            ::SecureZeroMemory(value.data(), value.size() * sizeof(wchar_t));
            return text;
        }
        ::SecureZeroMemory(value.data(), value.size() * sizeof(wchar_t));
        value.resize(length);
    }
}

}  // namespace tarvik
