#include "platform/files/pinned_files.h"

#include <algorithm>
#include <cstring>

namespace tarvik {
namespace {

class PinnedFile final : public ReadOnlyFile {
public:
    explicit PinnedFile(std::shared_ptr<const HeldBytes> bytes)
        : bytes_(std::move(bytes))
    {
    }

    bool Seek(std::uint64_t offset) override
    {
        if (offset > bytes_->size()) {
            return false;
        }
        offset_ = offset;
        return true;
    }
    std::int64_t SeekEnd() override
    {
        offset_ = bytes_->size();
        return static_cast<std::int64_t>(offset_);
    }
    std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
    {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes_->size() - offset_));
        if (count > 0) {
            std::memcpy(buffer, bytes_->data() + offset_, count);
        }
        offset_ += count;
        return static_cast<std::int64_t>(count);
    }

private:
    std::shared_ptr<const HeldBytes> bytes_;
    std::uint64_t offset_ = 0;
};

}  // namespace

void PinnedFileSystem::Pin(const std::string& path,
                           std::shared_ptr<const HeldBytes> bytes)
{
    const std::lock_guard<std::mutex> hold(lock_);
    pinned_[path] = std::move(bytes);
}

void PinnedFileSystem::Unpin(const std::string& path)
{
    const std::lock_guard<std::mutex> hold(lock_);
    pinned_.erase(path);
}

std::unique_ptr<ReadOnlyFile> PinnedFileSystem::OpenForReading(const std::string& path)
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (const auto found = pinned_.find(path); found != pinned_.end()) {
            return std::make_unique<PinnedFile>(found->second);
        }
    }
    return beneath_.OpenForReading(path);
}

}  // namespace tarvik
