#pragma once
// A file this program writes from its start and alone (a frame trace): created, or emptied when
// it exists, readable by others meanwhile. Each write goes to the system at once, unbuffered,
// so the file holds everything written up to a normal end, a failure, Ctrl-C or a crash.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tarvik {

class OutputFile {
public:
    // Creates or empties the file at path (mode 0644 before the umask); null with the reason
    // in error.
    static std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes all of bytes at the end; false when they did not all go out.
    bool Write(std::span<const std::uint8_t> bytes);

private:
    explicit OutputFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;  // the system's: a file descriptor, or a HANDLE
};

}  // namespace tarvik
