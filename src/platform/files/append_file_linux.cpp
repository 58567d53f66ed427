#include "platform/files/append_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace tarvik {

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::Open(const std::string& path, std::string& error)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(descriptor));
}

AppendOnlyFile::~AppendOnlyFile()
{
    ::close(static_cast<int>(handle_));
}

bool AppendOnlyFile::Append(std::string_view line)
{
    // One write: with O_APPEND the OS places it whole at the end, whoever else appends.
    // A short write would leave half a line, so it is a failure rather than retried.
    ssize_t written = -1;
    do {
        written = ::write(static_cast<int>(handle_), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
}

}  // namespace tarvik
