#include "platform/windows_api.h"

#include "platform/files/file_system.h"

#include <algorithm>

namespace tarvik {
namespace {

class WindowsFile final : public ReadOnlyFile {
public:
    explicit WindowsFile(HANDLE handle) : handle_(handle) {}
    ~WindowsFile() override { ::CloseHandle(handle_); }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    bool Seek(std::uint64_t offset) override
    {
        LARGE_INTEGER distance{};
        distance.QuadPart = static_cast<LONGLONG>(offset);
        return ::SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) != 0;
    }

    std::int64_t SeekEnd() override
    {
        LARGE_INTEGER end{};
        if (::SetFilePointerEx(handle_, LARGE_INTEGER{}, &end, FILE_END) == 0) {
            return -1;
        }
        return end.QuadPart;
    }

    std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
    {
        DWORD got = 0;
        const DWORD asked = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (::ReadFile(handle_, buffer, asked, &got, nullptr) == 0) {
            return -1;
        }
        return got;
    }

private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<ReadOnlyFile> SystemFileSystem::OpenForReading(const std::string& path)
{
    if (path.empty()) {
        return nullptr;
    }
    // Shared with every other reader and writer, as on Linux: the tool never holds a file
    // against anyone.
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // A directory, a pipe or a device opens for reading but is no image.
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(handle) != FILE_TYPE_DISK ||
        ::GetFileInformationByHandle(handle, &information) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<WindowsFile>(handle);
}

bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes,
                  bool replaceExisting)
{
    // CREATE_NEW: an existing file is never truncated, not even by a race. (The C library's
    // fopen here ignores the "x" that would say so.)
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                        replaceExisting ? CREATE_ALWAYS : CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::size_t done = 0;
    bool whole = true;
    while (done < bytes.size() && whole) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
        DWORD written = 0;
        whole = ::WriteFile(handle, bytes.data() + done, part, &written, nullptr) != 0 &&
                written == part;
        done += written;
    }
    return ::CloseHandle(handle) != 0 && whole;
}

}  // namespace tarvik
