#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "platform/files/output_file.h"

namespace tarvik {

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string& error)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<OutputFile>(new OutputFile(descriptor));
}

OutputFile::~OutputFile()
{
    ::close(static_cast<int>(handle_));
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace tarvik
