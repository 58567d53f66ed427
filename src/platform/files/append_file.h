#pragma once
// A file that lines are only ever appended to, shared with other processes that append to it
// as well: opened for appending only (O_APPEND; on Windows, with append access alone), and each
// line goes out in one write, which the system places whole at the end, so that lines from two
// programs never interleave within a line.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tarvik {

class AppendOnlyFile {
public:
    // Opens (creating it, mode 0644 before the umask) the file; null with the reason in error.
    static std::unique_ptr<AppendOnlyFile> Open(const std::string& path, std::string& error);
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile&) = delete;
    AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

    // Appends the line in one write; false when it did not all go out.
    bool Append(std::string_view line);

private:
    explicit AppendOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;  // the system's: a file descriptor, or a HANDLE
};

// Wall-clock time, for records a person reads; every wait and timeout uses the Kernel instead.
class UtcClock {
public:
    virtual ~UtcClock() = default;
    virtual std::int64_t MillisecondsSinceEpoch() = 0;
};

class SystemUtcClock final : public UtcClock {
public:
    std::int64_t MillisecondsSinceEpoch() override;
};

// "2026-03-01T09:15:02.250Z"; a time before year 0 or after 9999 as the nearest one.
std::string FormatUtcTime(std::int64_t millisecondsSinceEpoch);

}  // namespace tarvik
