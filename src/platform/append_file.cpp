#include "platform/append_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

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
    ::close(descriptor_);
}

bool AppendOnlyFile::Append(std::string_view line)
{
    // One write: with O_APPEND the OS places it whole at the end, whoever else appends.
    // A short write would leave half a line, so it is a failure rather than retried.
    ssize_t written = -1;
    do {
        written = ::write(descriptor_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
}

std::int64_t SystemUtcClock::MillisecondsSinceEpoch()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

std::string FormatUtcTime(std::int64_t millisecondsSinceEpoch)
{
    std::int64_t seconds = millisecondsSinceEpoch / 1000;
    std::int64_t milliseconds = millisecondsSinceEpoch % 1000;
    if (milliseconds < 0) {
        milliseconds += 1000;
        --seconds;
    }
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(milliseconds));
    return text;
}

}  // namespace tarvik
