#include "platform/windows_api.h"

#include "platform/host/process_info.h"

namespace tarvik {

std::string WindowsProcessInfo::ExecutablePath(std::string_view invokedAs)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string(invokedAs);
        }
        if (length < path.size()) {
            path.resize(length);
            return Utf8Text(path);
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace tarvik
