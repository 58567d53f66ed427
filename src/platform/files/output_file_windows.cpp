#include "platform/windows_api.h"

#include "platform/files/output_file.h"

namespace tarvik {
namespace {

HANDLE HandleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string& error)
{
    // Through the wide API, so that the path may hold any character the user's does.
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(::GetLastError());
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(reinterpret_cast<std::intptr_t>(handle)));
}

OutputFile::~OutputFile()
{
    ::CloseHandle(HandleOf(handle_));
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes)
{
    // WriteFile on a file handle writes everything or fails; the system holds no lazy buffer
    // of its own that a crash of this program would lose.
    DWORD written = 0;
    return ::WriteFile(HandleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) != 0 &&
           written == bytes.size();
}

}  // namespace tarvik
