#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "image/image_builder.h"
#include "image/image_file.h"
#include "memory_file_system.h"

namespace tarvik {
namespace {

using testing::MemoryFileSystem;
using Bytes = std::vector<std::uint8_t>;

ImageDescriptor DescriptorNumbered(std::uint8_t first)
{
    ImageDescriptor descriptor;
    for (std::size_t i = 0; i < DESCRIPTOR_BYTES; ++i) {
        descriptor.Bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return descriptor;
}

ImageDescriptor WithFwVersion(ImageDescriptor descriptor, std::uint8_t high, std::uint8_t low)
{
    descriptor.Bytes[DESC_FW_VERSION] = high;
    descriptor.Bytes[DESC_FW_VERSION + 1] = low;
    return descriptor;
}

Bytes Filler(std::size_t size, std::uint32_t seed = 3)
{
    Bytes image(size);
    FillImageBytes(image, seed);
    return image;
}

void Put(Bytes& image, std::size_t offset, const char* text)
{
    std::copy(text, text + std::strlen(text), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// The header search over in-memory files: where a header counts as found, and where not.
class HeaderSearch : public ::testing::Test {
protected:
    int Read(Bytes image)
    {
        files_.Add("image.bin", std::move(image));
        const int result = ReadImageDescriptor(files_, "image.bin", found_);
        EXPECT_EQ(files_.OpenNow(), 0) << "a file was left open";
        return result;
    }

    MemoryFileSystem files_;
    ImageDescriptor found_;
    const ImageDescriptor first_ = DescriptorNumbered(0x20);
    const ImageDescriptor second_ = DescriptorNumbered(0x80);
};

TEST_F(HeaderSearch, FindsTheHeaderAtAnyOffset)
{
    for (const std::size_t offset : {std::size_t{0}, std::size_t{1001}, std::size_t{4096 - 70}}) {
        Bytes image = Filler(4096);
        PlaceHeader(image, offset, first_);
        EXPECT_EQ(Read(image), IMAGE_OK) << "header at " << offset;
        EXPECT_EQ(found_, first_) << "header at " << offset;
    }
}

TEST_F(HeaderSearch, AFileOfExactlyOneHeaderIsAnImage)
{
    Bytes image(IMAGE_HEADER_BYTES);
    PlaceHeader(image, 0, first_);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, first_);
}

TEST_F(HeaderSearch, AHeaderCutOffByTheEndOfTheFileIsNoHeader)
{
    Bytes image = Filler(4096);
    PlaceHeader(image, 4096 - 69, first_);
    EXPECT_EQ(Read(image), IMAGE_NO_DESCRIPTOR);

    Bytes shortFile(IMAGE_HEADER_BYTES - 1);
    PlaceHeader(shortFile, 0, first_);
    EXPECT_EQ(Read(shortFile), IMAGE_NO_DESCRIPTOR);
    EXPECT_EQ(Read(Bytes{}), IMAGE_NO_DESCRIPTOR);
}

TEST_F(HeaderSearch, ADamagedClosingMagicIsPassedOverForALaterHeader)
{
    Bytes image = Filler(4096);
    PlaceHeader(image, 100, first_);
    image[100 + 69] ^= 0x20;
    EXPECT_EQ(Read(image), IMAGE_NO_DESCRIPTOR);

    PlaceHeader(image, 3000, second_);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, second_);
}

TEST_F(HeaderSearch, TheFirstOfTwoHeadersWins)
{
    Bytes image = Filler(8192);
    PlaceHeader(image, 5000, second_);
    PlaceHeader(image, 777, first_);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, first_);
}

TEST_F(HeaderSearch, MagicBytesJustBeforeTheHeaderDoNotHideIt)
{
    // Candidates whose 70 bytes overlap the real header: a lone first byte, a whole opening
    // magic, and an opening magic whose closing position holds a near miss.
    Bytes image = Filler(4096);
    const std::size_t header = 2000;
    image[header - 69] = 't';
    Put(image, header - 50, "tAvIrOn");
    Put(image, header - 20, "tAvIrO");
    image[header - 1] = 't';
    PlaceHeader(image, header, first_);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, first_);
}

TEST_F(HeaderSearch, MagicsInsideTheDescriptorAreTakenAsBytes)
{
    ImageDescriptor tricky = first_;
    std::memcpy(tricky.Bytes.data() + 10, HEADER_MAGIC, 7);
    Bytes image = Filler(1024);
    PlaceHeader(image, 300, tricky);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, tricky);
}

TEST_F(HeaderSearch, AnOpeningMagicSixtyThreeBytesEarlierMakesAnEarlierHeader)
{
    // Its closing magic is the real header's opening magic: that header stands first.
    Bytes image = Filler(4096);
    PlaceHeader(image, 1000, first_);
    Put(image, 1000 - 63, "tAvIrOn");
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(0, std::memcmp(found_.Bytes.data(), image.data() + 1000 - 63 + 7, DESCRIPTOR_BYTES));
}

// The trailer block that completes a header whose FwVersion is zero.
class TrailerSearch : public HeaderSearch {
protected:
    const ImageDescriptor blank_ = WithFwVersion(first_, 0, 0);
    const std::array<std::uint8_t, 2> product_{0xA1, 0xA2};
    const std::array<std::uint8_t, 2> protocol_{0xB1, 0xB2};
    const std::array<std::uint8_t, 2> version_{0x04, 0x07};
};

TEST_F(TrailerSearch, ANonZeroFwVersionNeedsNoTrailer)
{
    Bytes image = Filler(4096);
    PlaceHeader(image, 10, first_);
    PlaceTrailer(image, 2, product_, protocol_, version_);
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_, first_);
    EXPECT_EQ(files_.Opens(), 1);
}

TEST_F(TrailerSearch, AnAlignedTrailerSuppliesThreeFieldsAndNothingElse)
{
    for (const std::size_t block : {std::size_t{0}, std::size_t{3}, std::size_t{7}}) {
        Bytes image = Filler(8 * 1024);
        PlaceTrailer(image, block, product_, protocol_, version_);
        PlaceHeader(image, 2100, blank_);
        ASSERT_EQ(Read(image), IMAGE_OK) << "trailer block " << block;
        ImageDescriptor expected = blank_;
        std::copy(product_.begin(), product_.end(), expected.Bytes.begin() + DESC_PRODUCT_ID);
        std::copy(protocol_.begin(), protocol_.end(), expected.Bytes.begin() + DESC_PROTOCOL_ID);
        std::copy(version_.begin(), version_.end(), expected.Bytes.begin() + DESC_FW_VERSION);
        EXPECT_EQ(found_, expected) << "trailer block " << block;
    }
}

TEST_F(TrailerSearch, TheFirstTrailerWinsAndAZeroVersionInItIsAccepted)
{
    Bytes image = Filler(8 * 1024);
    PlaceHeader(image, 0, blank_);
    PlaceTrailer(image, 2, product_, protocol_, {0, 0});
    PlaceTrailer(image, 5, {1, 1}, {2, 2}, {3, 3});
    EXPECT_EQ(Read(image), IMAGE_OK);
    EXPECT_EQ(found_.Bytes[DESC_PRODUCT_ID], 0xA1);
    EXPECT_TRUE(found_.FwVersionIsZero());
}

TEST_F(TrailerSearch, ATrailerMagicOffTheBlockEndIsNoTrailer)
{
    Bytes image = Filler(4096);
    PlaceHeader(image, 0, blank_);
    Put(image, 1500, TRAILER_MAGIC);
    Put(image, 2048 + 1017, TRAILER_MAGIC);
    EXPECT_EQ(Read(image), IMAGE_NO_DESCRIPTOR);
}

TEST_F(TrailerSearch, NoTrailerAndAPartialLastBlockGiveNoDescriptor)
{
    Bytes image = Filler(4096 + 1000);
    PlaceHeader(image, 0, blank_);
    EXPECT_EQ(Read(image), IMAGE_NO_DESCRIPTOR);
}

// Opening and reading failures, on the machine's file system and on fakes.
class ImageFileAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder of this test's own: the test's name and a number no other folder has.
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        for (int attempt = 0;; ++attempt) {
            directory_ = std::filesystem::temp_directory_path() /
                         ("tarvik-image-" + std::string(test->name()) + "-" +
                          std::to_string(std::random_device{}()));
            if (std::filesystem::create_directory(directory_)) {
                break;
            }
            ASSERT_LT(attempt, 10);
        }
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::permissions(sample_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(directory_, ignored);
    }
    static Bytes Contents(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path directory_;
    std::filesystem::path sample_;
    SystemFileSystem files_;
    ImageDescriptor found_;
};

TEST_F(ImageFileAccess, AReadOnlyImageReadsAndStaysUnchanged)
{
    sample_ = directory_ / "sample.bin";
    ImageSpec spec = SampleImageSpec();
    spec.Descriptor = WithFwVersion(spec.Descriptor, 0, 0);
    spec.TrailerBlockIndex = 9;
    spec.TrailerFwVersion = {0x01, 0x04};
    const Bytes image = BuildImage(spec);
    ASSERT_TRUE(WriteImageFile(sample_.string(), image));
    std::filesystem::permissions(sample_, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
    const auto modified = std::filesystem::last_write_time(sample_);

    ASSERT_EQ(ReadImageDescriptor(files_, sample_.string(), found_), IMAGE_OK);
    EXPECT_EQ(found_.Bytes[DESC_FW_VERSION + 1], 0x04);
    EXPECT_EQ(found_.BoardCode()[5], 0x55);
    EXPECT_EQ(Contents(sample_), image);
    EXPECT_EQ(std::filesystem::last_write_time(sample_), modified);
}

TEST_F(ImageFileAccess, AMissingFileOrADirectoryCannotBeOpened)
{
    EXPECT_EQ(ReadImageDescriptor(files_, (directory_ / "absent.bin").string(), found_),
              IMAGE_CANNOT_OPEN);
    EXPECT_EQ(ReadImageDescriptor(files_, directory_.string(), found_), IMAGE_CANNOT_OPEN);
    EXPECT_EQ(ReadImageDescriptor(files_, "", found_), IMAGE_CANNOT_OPEN);
}

TEST_F(ImageFileAccess, WritingRefusesToReplaceUnlessAsked)
{
    sample_ = directory_ / "kept.bin";
    ASSERT_TRUE(WriteImageFile(sample_.string(), Bytes{1, 2, 3}));
    EXPECT_FALSE(WriteImageFile(sample_.string(), Bytes{9}, false));
    EXPECT_EQ(Contents(sample_), (Bytes{1, 2, 3}));
    EXPECT_TRUE(WriteImageFile(sample_.string(), Bytes{9}, true));
    EXPECT_EQ(Contents(sample_), Bytes{9});
}

TEST_F(ImageFileAccess, EitherOpenFailingGivesCannotOpen)
{
    // Root opens a 0444 file for writing too, so refusals are staged with a fake.
    Bytes image = Filler(4096);
    PlaceHeader(image, 0, WithFwVersion(DescriptorNumbered(1), 0, 0));
    PlaceTrailer(image, 1, {1, 2}, {3, 4}, {5, 6});
    for (const int failing : {1, 2}) {
        MemoryFileSystem fake;
        fake.Add("image.bin", image);
        fake.FailOpenNumber(failing);
        EXPECT_EQ(ReadImageDescriptor(fake, "image.bin", found_), IMAGE_CANNOT_OPEN)
            << "open " << failing;
        EXPECT_EQ(fake.OpenNow(), 0);
    }
}

TEST_F(ImageFileAccess, AReadErrorEndsEitherSearchWithNoDescriptor)
{
    Bytes image = Filler(8192);
    PlaceHeader(image, 3000, WithFwVersion(DescriptorNumbered(1), 0, 0));
    PlaceTrailer(image, 6, {1, 2}, {3, 4}, {5, 6});
    // Before the header is whole, after it but before the trailer block is whole.
    for (const std::uint64_t errorAt :
         {std::uint64_t{0}, std::uint64_t{3069}, std::uint64_t{7167}}) {
        MemoryFileSystem fake;
        fake.Add("image.bin", image, {.MaxChunk = 0, .ErrorAt = errorAt});
        EXPECT_EQ(ReadImageDescriptor(fake, "image.bin", found_), IMAGE_NO_DESCRIPTOR)
            << "error at " << errorAt;
        EXPECT_EQ(fake.OpenNow(), 0);
    }
    MemoryFileSystem fake;
    fake.Add("image.bin", image, {.MaxChunk = 0, .ErrorAt = 7168});
    EXPECT_EQ(ReadImageDescriptor(fake, "image.bin", found_), IMAGE_OK);
}

TEST(ImageBuilder, TheSampleImageReadsBackAsTheSampleDescriptor)
{
    MemoryFileSystem fake;
    const Bytes image = BuildImage(SampleImageSpec());
    ASSERT_EQ(image.size(), SAMPLE_IMAGE_BYTES);
    EXPECT_EQ(0, std::memcmp(image.data() + SAMPLE_HEADER_OFFSET, HEADER_MAGIC, 7));
    fake.Add("sample.bin", image);
    ImageDescriptor found;
    ASSERT_EQ(ReadImageDescriptor(fake, "sample.bin", found), IMAGE_OK);
    EXPECT_EQ(found, SampleDescriptor());
    EXPECT_EQ(BuildImage(SampleImageSpec()), image) << "the same spec must give the same bytes";
}

}  // namespace
}  // namespace tarvik
