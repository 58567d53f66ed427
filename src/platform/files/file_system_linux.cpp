#include "platform/files/file_system.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {
namespace {

class PosixFile final : public ReadOnlyFile {
public:
    explicit PosixFile(int descriptor) : descriptor_(descriptor) {}
    ~PosixFile() override { ::close(descriptor_); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    bool Seek(std::uint64_t offset) override
    {
        return ::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) >= 0;
    }

    std::int64_t SeekEnd() override { return ::lseek(descriptor_, 0, SEEK_END); }

    std::int64_t Read(std::uint8_t* buffer, std::size_t size) override
    {
        for (;;) {
            const ssize_t got = ::read(descriptor_, buffer, size);
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
    }

private:
    int descriptor_;
};

}  // namespace

std::unique_ptr<ReadOnlyFile> SystemFileSystem::OpenForReading(const std::string& path)
{
    if (path.empty()) {
        return nullptr;
    }
    // Non-blocking only so that opening a FIFO does not wait for a writer; it changes nothing
    // for the regular file that is kept.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return nullptr;
    }
    // A directory, a FIFO or a device such as /dev/zero opens for reading but is no image: the
    // search for its header would wait or read for ever.
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    return std::make_unique<PosixFile>(descriptor);
}

bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes,
                  bool replaceExisting)
{
    // O_EXCL: an existing file is never truncated, not even by a race.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replaceExisting ? O_TRUNC : O_EXCL);
    const int descriptor = ::open(path.c_str(), flags, 0644);
    if (descriptor < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ::close(descriptor);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return ::close(descriptor) == 0;
}

}  // namespace tarvik
