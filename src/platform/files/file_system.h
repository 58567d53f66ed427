#pragma once
// Read-only access to image files. The tool never writes an image, so this interface has no
// way to: files are opened for reading only, shared with every other reader and writer.
// (Writing image files is the image writer's alone, through WriteNewFile.)

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
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

// Writes a whole file (the image writer's, never the loader's): a new one, or, when asked,
// over an existing one. Without replaceExisting an existing file is left as it is, even if it
// appears between a check and the write (the file is created exclusively). False when the
// file could not be made or not written whole.
bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes,
                  bool replaceExisting);

// Replaces the file at path with bytes, whole: they are written beside it (path + ".partial",
// made anew: a stale one, or a link left in its place, goes first) and renamed over it, so a
// reader finds the last whole file or the new one, never a part. False with the reason in error
// (nothing then is left beside it).
bool ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes,
                      std::string& error);

}  // namespace tarvik
