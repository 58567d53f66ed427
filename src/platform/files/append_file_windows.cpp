#include "platform/windows_api.h"

#include "platform/files/append_file.h"

namespace tarvik {
namespace {

HANDLE HandleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error)
{
    // Append access without write access: the system puts each write at the end of the file
    // as it is then, whoever else appends.
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(::GetLastError());
        return nullptr;
    }
    return std::unique_ptr<AppendOnlyFile>(
        new AppendOnlyFile(reinterpret_cast<std::intptr_t>(handle)));
}

AppendOnlyFile::~AppendOnlyFile()
{
    ::CloseHandle(HandleOf(handle_));
}

bool AppendOnlyFile::Append(std::string_view line)
{
    DWORD written = 0;
    return ::WriteFile(HandleOf(handle_), line.data(), static_cast<DWORD>(line.size()), &written,
                       nullptr) != 0 &&
           written == line.size();
}

}  // namespace tarvik
