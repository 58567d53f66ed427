// The reader scans through a large buffer; these cases hold it to the results of the plain
// 70-byte window search on files built to catch a buffer-boundary slip: dense partial
// magics, headers straddling every buffer edge, short reads and read errors.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "image/image_builder.h"
#include "image/image_file.h"
#include "image/image_search.h"
#include "memory_file_system.h"

namespace tarvik {
namespace {

using testing::MemoryFileSystem;
using Bytes = std::vector<std::uint8_t>;

// The window search read by read: up to 70 − n bytes at a time, candidates kept in the
// window until 70 bytes stand behind them; then the trailer, one whole block at a time.
int WindowReference(FileSystem& files, const std::string& path, ImageDescriptor& descriptor)
{
    {
        const auto file = files.OpenForReading(path);
        if (!file) {
            return IMAGE_CANNOT_OPEN;
        }
        std::uint8_t window[IMAGE_HEADER_BYTES];
        std::size_t n = 0;
        bool found = false;
        while (!found) {
            const std::int64_t got = file->Read(window + n, IMAGE_HEADER_BYTES - n);
            if (got <= 0) {
                return IMAGE_NO_DESCRIPTOR;
            }
            n += static_cast<std::size_t>(got);
            std::size_t i = 0;
            while (i < n) {
                if (window[i] != 't') {
                    ++i;
                    continue;
                }
                if (n - i < IMAGE_HEADER_BYTES) {
                    break;
                }
                if (std::memcmp(window, HEADER_MAGIC, 7) == 0 &&
                    std::memcmp(window + 63, HEADER_MAGIC, 7) == 0) {
                    found = true;
                    break;
                }
                ++i;
            }
            if (!found) {
                std::memmove(window, window + i, n - i);
                n -= i;
            }
        }
        std::memcpy(descriptor.Bytes.data(), window + 7, DESCRIPTOR_BYTES);
    }
    if (!descriptor.FwVersionIsZero()) {
        return IMAGE_OK;
    }
    const auto file = files.OpenForReading(path);
    if (!file) {
        return IMAGE_CANNOT_OPEN;
    }
    for (;;) {
        std::uint8_t block[TRAILER_BLOCK_BYTES];
        std::size_t have = 0;
        while (have < TRAILER_BLOCK_BYTES) {
            const std::int64_t got = file->Read(block + have, TRAILER_BLOCK_BYTES - have);
            if (got <= 0) {
                return IMAGE_NO_DESCRIPTOR;
            }
            have += static_cast<std::size_t>(got);
        }
        if (std::memcmp(block + 1018, TRAILER_MAGIC, 6) == 0) {
            std::memcpy(&descriptor.Bytes[DESC_PRODUCT_ID], block + 1010, 2);
            std::memcpy(&descriptor.Bytes[DESC_PROTOCOL_ID], block + 1012, 2);
            std::memcpy(&descriptor.Bytes[DESC_FW_VERSION], block + 1014, 2);
            return IMAGE_OK;
        }
    }
}

// Files dense with near misses: letters of the magics, partial and damaged headers, pairs of
// magics 63 bytes apart, trailer magics on and off the block ends.
class TrickyImages {
public:
    explicit TrickyImages(std::uint32_t seed) : random_(seed) {}

    Bytes Make(std::size_t size, std::size_t focus)
    {
        Bytes image(size);
        const int style = Pick(0, 2);
        for (auto& byte : image) {
            if (style == 0) {
                byte = static_cast<std::uint8_t>(Pick(0, 255));
            } else {
                static constexpr char LETTERS[] = "tAvIrOnaViRoN";
                byte = static_cast<std::uint8_t>(Pick(0, 3) == 0 ? Pick(0, 255)
                                                                 : LETTERS[Pick(0, 12)]);
            }
        }
        const int plants = Pick(0, 6);
        for (int p = 0; p < plants && size > 0; ++p) {
            const std::size_t at = Near(size, focus);
            switch (Pick(0, 6)) {
            case 0:
                PlaceHeader(image, at, Descriptor());
                break;
            case 1:
                Put(image, at, HEADER_MAGIC, static_cast<std::size_t>(Pick(1, 7)));
                break;
            case 2:
                Put(image, at, HEADER_MAGIC, 7);
                Put(image, at + 63, HEADER_MAGIC, static_cast<std::size_t>(Pick(1, 7)));
                break;
            case 3: {
                PlaceHeader(image, at, Descriptor());
                const std::size_t damaged = at +
                                            static_cast<std::size_t>(Pick(0, 1) * 63 + Pick(0, 6));
                if (damaged < size) {
                    image[damaged] ^= 0x01;
                }
                break;
            }
            case 4:
                PlaceTrailer(image,
                             static_cast<std::size_t>(Pick(0, static_cast<int>(size / 1024))),
                             {1, 2}, {3, 4}, {static_cast<std::uint8_t>(Pick(0, 1)), 5});
                break;
            case 5:
                Put(image, at, TRAILER_MAGIC, 6);
                break;
            default:
                PlaceHeader(image, at, Descriptor());
                PlaceHeader(image, at + static_cast<std::size_t>(Pick(1, 69)), Descriptor());
                break;
            }
        }
        return image;
    }

    MemoryFileSystem::Behaviour Reading(std::size_t size)
    {
        MemoryFileSystem::Behaviour how;
        how.MaxChunk = Pick(0, 1) == 0 ? 0 : static_cast<std::size_t>(Pick(1, 300));
        if (Pick(0, 4) == 0) {
            how.ErrorAt = static_cast<std::uint64_t>(Pick(0, static_cast<int>(size)));
        }
        how.ChunkSeed = static_cast<std::uint32_t>(Pick(0, 1 << 30));
        return how;
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

private:
    std::size_t Near(std::size_t size, std::size_t focus)
    {
        const int spread = Pick(0, 1) == 0 ? 80 : static_cast<int>(size);
        const long at = static_cast<long>(focus) + Pick(-spread, spread);
        return static_cast<std::size_t>(std::clamp<long>(at, 0, static_cast<long>(size) - 1));
    }
    ImageDescriptor Descriptor()
    {
        ImageDescriptor descriptor;
        for (auto& byte : descriptor.Bytes) {
            byte = static_cast<std::uint8_t>(Pick(0, 255));
        }
        if (Pick(0, 1) == 0) {
            descriptor.Bytes[DESC_FW_VERSION] = descriptor.Bytes[DESC_FW_VERSION + 1] = 0;
        }
        return descriptor;
    }
    static void Put(Bytes& image, std::size_t at, const char* text, std::size_t length)
    {
        for (std::size_t i = 0; i < length && at + i < image.size(); ++i) {
            image[at + i] = static_cast<std::uint8_t>(text[i]);
        }
    }

    std::mt19937 random_;
};

class HeaderSearchEquivalence : public ::testing::Test {
protected:
    // Runs both searches on one file and says how they differ, if they do.
    ::testing::AssertionResult SameResults(const Bytes& image, MemoryFileSystem::Behaviour how,
                                           std::size_t bufferBytes)
    {
        MemoryFileSystem files;
        files.Add("f", image, how);
        ImageDescriptor expected;
        const int reference = WindowReference(files, "f", expected);
        std::vector<std::uint8_t> buffer(bufferBytes);
        ImageDescriptor actual;
        const int result = ReadImageDescriptor(files, "f", buffer, actual);
        ++(reference == IMAGE_OK ? found_ : missed_);
        if (files.OpenNow() != 0) {
            return ::testing::AssertionFailure() << "file left open";
        }
        if (result != reference) {
            return ::testing::AssertionFailure()
                   << "result " << result << ", window search " << reference;
        }
        if (result == IMAGE_OK && actual != expected) {
            return ::testing::AssertionFailure()
                   << "descriptor " << FormatHexBytes(actual.Bytes) << ", window search "
                   << FormatHexBytes(expected.Bytes);
        }
        return ::testing::AssertionSuccess();
    }

    int found_ = 0;
    int missed_ = 0;
};

TEST_F(HeaderSearchEquivalence, SmallBuffersOverManyTrickyFiles)
{
    TrickyImages images(20240601);
    for (int run = 0; run < 10000; ++run) {
        const std::size_t bufferBytes = static_cast<std::size_t>(std::array{
            1024, 1025, 1100, 1500, 2048, 2111}[static_cast<std::size_t>(images.Pick(0, 5))]);
        const std::size_t size = static_cast<std::size_t>(images.Pick(0, 6000));
        const std::size_t focus = bufferBytes * static_cast<std::size_t>(images.Pick(0, 3));
        const Bytes image = images.Make(size, focus);
        const auto how = images.Reading(size);
        ASSERT_TRUE(SameResults(image, how, bufferBytes))
            << "run " << run << ", size " << size << ", buffer " << bufferBytes;
    }
    // Both outcomes must be common, or the comparison proves little.
    EXPECT_GT(found_, 2000);
    EXPECT_GT(missed_, 2000);
}

TEST_F(HeaderSearchEquivalence, HeadersAroundEveryEdgeOfTheFirstBuffer)
{
    // The first read fills the whole buffer; a header beginning anywhere in its last 70
    // bytes, or just past it, is split between two reads.
    const std::size_t bufferBytes = IMAGE_READ_BUFFER_BYTES;
    ImageDescriptor first = SampleDescriptor();
    ImageDescriptor second = SampleDescriptor();
    second.Bytes[0] = 0x77;
    for (std::size_t header = bufferBytes - 140; header <= bufferBytes + 10; ++header) {
        Bytes image(bufferBytes + 2048);
        FillImageBytes(image, static_cast<std::uint32_t>(header));
        image[header - 1] = 't';
        PlaceHeader(image, header, first);
        PlaceHeader(image, header + 30, second);
        ASSERT_TRUE(SameResults(image, {}, bufferBytes)) << "header at " << header;
        ASSERT_TRUE(SameResults(image, {.MaxChunk = 0, .ErrorAt = header + 69}, bufferBytes))
            << "header at " << header;
        ASSERT_TRUE(SameResults(image, {.MaxChunk = 0, .ErrorAt = header + 70}, bufferBytes))
            << "header at " << header;
    }
    EXPECT_GT(found_, 0);
    EXPECT_GT(missed_, 0);
}

TEST_F(HeaderSearchEquivalence, TheSmallestBufferStillWorks)
{
    TrickyImages images(77);
    for (int run = 0; run < 3000; ++run) {
        const std::size_t size = static_cast<std::size_t>(images.Pick(0, 3000));
        const Bytes image =
            images.Make(size, static_cast<std::size_t>(images.Pick(0, static_cast<int>(size))));
        ASSERT_TRUE(SameResults(image, images.Reading(size), TRAILER_BLOCK_BYTES)) << "run " << run;
    }
}

}  // namespace
}  // namespace tarvik
