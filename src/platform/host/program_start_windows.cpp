#include "platform/windows_api.h"

#include <shellapi.h>

#include "platform/host/program_start.h"

namespace tarvik {
namespace {

// A console that understands the escape sequences (Windows 10 and later); false elsewhere,
// a file or a pipe included.
bool ReadyConsole(DWORD stream)
{
    const HANDLE handle = ::GetStdHandle(stream);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr ||
        ::GetConsoleMode(handle, &mode) == 0) {
        return false;
    }
    return ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace

ProgramStart::ProgramStart(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i) {
            arguments_.push_back(Utf8Text(wide[i]));
        }
        ::LocalFree(wide);
    } else {
        arguments_.assign(argv, argv + argc);
    }
    for (std::string& argument : arguments_) {
        pointers_.push_back(argument.data());
    }
    pointers_.push_back(nullptr);
    // Texts go out as UTF-8, as on every other system.
    ::SetConsoleOutputCP(CP_UTF8);
    ReadyConsole(STD_OUTPUT_HANDLE);
    errorIsTerminal_ = ReadyConsole(STD_ERROR_HANDLE);
}

}  // namespace tarvik
