#pragma once
// An in-memory FileSystem for the reader's and the transfer's tests: files that deliver short
// reads, fail at a given offset, refuse to open, or are cut short or grow while open, and a
// count of files left open.

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/files/file_system.h"

namespace tarvik::testing {

struct MemoryFileBehaviour {
    std::size_t MaxChunk = 0;              // 0: every read delivers all it may
    std::size_t ChunkBytes = 0;            // 0: no limit; else no read delivers more
    std::optional<std::uint64_t> ErrorAt;  // a read that reaches this offset fails
    std::uint32_t ChunkSeed = 7;
};

class MemoryFileSystem final : public FileSystem {
public:
    using Behaviour = MemoryFileBehaviour;

    void Add(const std::string& path, std::vector<std::uint8_t> bytes, Behaviour behaviour = {})
    {
        files_[path] = {std::make_shared<std::vector<std::uint8_t>>(std::move(bytes)), behaviour};
    }
    // Cuts the file to size bytes, or appends bytes to it, as another program writing it would:
    // files open on it see the change at their next read.
    void Truncate(const std::string& path, std::size_t size)
    {
        files_.at(path).Bytes->resize(size);
    }
    void Append(const std::string& path, const std::vector<std::uint8_t>& bytes)
    {
        std::vector<std::uint8_t>& file = *files_.at(path).Bytes;
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    // The n-th open (1-based, counted over all paths) fails.
    void FailOpenNumber(int n) { failingOpen_ = n; }

    int Opens() const { return opens_; }
    int OpenNow() const { return *live_; }

    std::unique_ptr<ReadOnlyFile> OpenForReading(const std::string& path) override
    {
        ++opens_;
        const auto found = files_.find(path);
        if (found == files_.end() || opens_ == failingOpen_) {
            return nullptr;
        }
        const Entry& entry = found->second;
        return std::make_unique<File>(entry.Bytes, entry.How,
                                      entry.How.ChunkSeed + static_cast<std::uint32_t>(opens_),
                                      live_);
    }

private:
    struct Entry {
        std::shared_ptr<std::vector<std::uint8_t>> Bytes;
        Behaviour How;
    };

    class File final : public ReadOnlyFile {
    public:
        File(std::shared_ptr<const std::vector<std::uint8_t>> bytes, Behaviour how,
             std::uint32_t seed, std::shared_ptr<int> live)
            : bytes_(std::move(bytes)), how_(how), chunks_(seed), live_(std::move(live))
        {
            ++*live_;
        }
        ~File() override { --*live_; }
        File(const File&) = delete;
        File& operator=(const File&) = delete;

        bool Seek(std::uint64_t offset) override
        {
            position_ = offset;
            return true;
        }
        std::int64_t SeekEnd() override
        {
            position_ = bytes_->size();
            return static_cast<std::int64_t>(position_);
        }
        std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
        {
            if (how_.ErrorAt && position_ >= *how_.ErrorAt) {
                return -1;
            }
            std::uint64_t limit = bytes_->size();
            if (how_.ErrorAt) {
                limit = std::min<std::uint64_t>(limit, *how_.ErrorAt);
            }
            std::size_t count =
                position_ >= limit
                    ? 0
                    : static_cast<std::size_t>(std::min<std::uint64_t>(size, limit - position_));
            if (how_.ChunkBytes != 0) {
                count = std::min(count, how_.ChunkBytes);
            }
            if (how_.MaxChunk != 0 && count > 0) {
                count = std::min(
                    count, std::uniform_int_distribution<std::size_t>(1, how_.MaxChunk)(chunks_));
            }
            if (count > 0) {
                std::memcpy(buffer, bytes_->data() + position_, count);
            }
            position_ += count;
            return static_cast<std::int64_t>(count);
        }

    private:
        std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
        Behaviour how_;
        std::mt19937 chunks_;
        std::shared_ptr<int> live_;
        std::uint64_t position_ = 0;
    };

    std::map<std::string, Entry> files_;
    std::shared_ptr<int> live_ = std::make_shared<int>(0);
    int opens_ = 0;
    int failingOpen_ = 0;
};

}  // namespace tarvik::testing
