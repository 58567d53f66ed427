// Captures read back for a replay: captures at nanosecond precision and pcapng files (as
// tcpdump and Wireshark write them; the program's own traces are read back by the replay
// tests), and the files a replay must refuse rather than half read.

#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/formats/byte_order.h"
#include "platform/formats/pcap_reader.h"

namespace tarvik {
namespace {

class PcapReaderTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }

    void WriteBytes(const std::vector<std::uint8_t>& bytes)
    {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    std::string path = ::testing::TempDir() + "tarvik_reader_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pcap";
};

const std::vector<std::uint8_t> FRAME = [] {
    std::vector<std::uint8_t> frame(60);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 7);
    }
    return frame;
}();

TEST_F(PcapReaderTest, NanosecondCaptureIsReadInMicroseconds)
{
    pcap_t* dead =
        pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO);
    ASSERT_NE(dead, nullptr);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(dumper, nullptr);
    pcap_pkthdr header{};
    header.ts.tv_sec = 1000;
    header.ts.tv_usec = 123456789;  // nanoseconds in such a file
    header.caplen = header.len = static_cast<bpf_u_int32>(FRAME.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, FRAME.data());
    pcap_dump_close(dumper);
    pcap_close(dead);

    std::string error;
    const auto frames = ReadPcapFrames(path, error);
    ASSERT_TRUE(frames) << error;
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ((*frames)[0].Microseconds, 1000u * 1000000 + 123456);
    EXPECT_TRUE(std::ranges::equal((*frames)[0].Bytes, FRAME));
}

// Section header, Ethernet interface (microsecond stamps by default), one enhanced packet.
std::vector<std::uint8_t> PcapngFile(std::uint64_t microseconds)
{
    std::vector<std::uint8_t> bytes;
    const auto word = [&bytes](std::uint32_t value) {
        const std::size_t at = bytes.size();
        bytes.resize(at + 4);
        StoreLe32(bytes, at, value);
    };
    word(0x0A0D0D0A), word(28), word(0x1A2B3C4D), word(0x00000001);  // version 1.0
    word(0xFFFFFFFF), word(0xFFFFFFFF), word(28);                    // section length unknown
    word(1), word(20), word(1 /* LINKTYPE_ETHERNET */), word(0), word(20);
    const auto total = static_cast<std::uint32_t>(32 + FRAME.size());
    word(6), word(total), word(0);
    word(static_cast<std::uint32_t>(microseconds >> 32));
    word(static_cast<std::uint32_t>(microseconds));
    word(static_cast<std::uint32_t>(FRAME.size())), word(static_cast<std::uint32_t>(FRAME.size()));
    bytes.insert(bytes.end(), FRAME.begin(), FRAME.end());  // 60: already a multiple of four
    word(total);
    return bytes;
}

TEST_F(PcapReaderTest, PcapngFileIsReadToo)
{
    WriteBytes(PcapngFile(1'700'000'000'123'456ull));
    std::string error;
    const auto frames = ReadPcapFrames(path, error);
    ASSERT_TRUE(frames) << error;
    ASSERT_EQ(frames->size(), 1u);
    EXPECT_EQ((*frames)[0].Microseconds, 1'700'000'000'123'456ull);
    EXPECT_TRUE(std::ranges::equal((*frames)[0].Bytes, FRAME));
}

// What cannot be replayed is refused with a reason, never read in part.
TEST_F(PcapReaderTest, FilesThatAreNoEthernetCaptureAreRefusedWithAReason)
{
    struct Case {
        const char* What;
        std::function<void()> Make;
        const char* Reason;  // a part of the error
    };
    const auto dumpOf = [this](int linkType) {
        pcap_t* dead = pcap_open_dead(linkType, 65535);
        pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
        pcap_pkthdr header{};
        header.caplen = header.len = static_cast<bpf_u_int32>(FRAME.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, FRAME.data());
        pcap_dump_close(dumper);
        pcap_close(dead);
    };
    const std::vector<Case> cases =
        {
            {"no file", [] {}, "No such file"},
            {"raw IP frames", [&] { dumpOf(DLT_RAW); }, "not Ethernet"},
            {"a text file",
             [this] {
        WriteBytes({'h', 'e', 'l', 'l', 'o', '\n', 0, 0, 0, 0, 0, 0, 0,
                    0,   0,   0,   0,   0,   0,    0, 0, 0, 0, 0, 0});
             },
             ""},
            {"a record cut off",
             [&] {
        dumpOf(DLT_EN10MB);
        std::filesystem::resize_file(path, std::filesystem::file_size(path) - 10);
             },
             ""},
                            // Far beyond a trace of one session: said as such, before it is read.
        {"a file of a day's traffic",
         [&] {
        dumpOf(DLT_EN10MB);
        std::filesystem::resize_file(path, LONGEST_CAPTURE_FILE + 1);
         },
         "more than a trace of one device's session (at most 64 MB)"},
        };
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        c.Make();
        std::string error;
        EXPECT_FALSE(ReadPcapFrames(path, error)) << c.What;
        EXPECT_FALSE(error.empty()) << c.What;
        EXPECT_NE(error.find(c.Reason), std::string::npos) << c.What << ": " << error;
    }
}

}  // namespace
}  // namespace tarvik
