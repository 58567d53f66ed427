#pragma once
// A file system that serves some files from bytes read once, and every other file from the
// one beneath: what was checked is what is read afterwards, whatever happens to the file on
// disk meanwhile (replaced, rewritten, cut short or grown).

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/files/file_system.h"
#include "platform/files/held_bytes.h"

namespace tarvik {

class PinnedFileSystem final : public FileSystem {
public:
    explicit PinnedFileSystem(FileSystem& beneath) : beneath_(beneath) {}

    // From now on, path reads as bytes.
    void Pin(const std::string& path, std::shared_ptr<const HeldBytes> bytes);
    // From now on, path reads from the file system beneath again.
    void Unpin(const std::string& path);
    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override;

private:
    FileSystem& beneath_;
    std::mutex lock_;  // the runs of several devices open files at once
    std::map<std::string, std::shared_ptr<const HeldBytes>> pinned_;
};

}  // namespace tarvik
