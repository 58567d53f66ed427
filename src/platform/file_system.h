#pragma once
// Read-only access to image files. The tool never writes an image, so this interface has no
// way to: files are opened for reading only, shared with every other reader and writer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvik {

class ReadOnlyFile {
public:
    virtual ~ReadOnlyFile() = default;
    // Moves to an absolute offset; false on failure.
    virtual bool Seek(std::uint64_t offset) = 0;
    // Moves to the end and returns the new offset (the file's length); -1 on failure.
    virtual std::int64_t SeekEnd() = 0;
    // Reads up to size bytes at the current offset: the count read, 0 at the end, -1 on error.
    virtual std::int64_t Read(std::uint8_t* buffer, std::size_t size) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // nullptr when the file cannot be opened for reading.
    virtual std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) = 0;
};

// The machine's own files (POSIX open with O_RDONLY).
class SystemFileSystem final : public FileSystem {
public:
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override;
};

}  // namespace tarvik
