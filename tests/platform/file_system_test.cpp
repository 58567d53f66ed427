#include "platform/files/file_system.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tarvik {
namespace {

// Only a regular file is an image: a device never ends and a FIFO without a writer never
// answers, so reading either for a header would hang the program.
TEST(SystemFileSystemTest, OpensOnlyRegularFiles)
{
    SystemFileSystem files;
    EXPECT_EQ(files.OpenForReading("/dev/zero"), nullptr);
    EXPECT_EQ(files.OpenForReading(std::filesystem::temp_directory_path().string()), nullptr);

    const std::filesystem::path fifo = std::filesystem::temp_directory_path() /
                                       ("tarvik-fifo-" + std::to_string(::getpid()));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(files.OpenForReading(fifo.string()), nullptr);
    std::filesystem::remove(fifo);
}

}  // namespace
}  // namespace tarvik
