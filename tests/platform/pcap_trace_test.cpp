#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/capture/pcap_trace.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik {
namespace {

struct ReadFrame {
    std::vector<std::uint8_t> Bytes;
    std::uint64_t Microseconds;
};

// Reads a capture file back the way Wireshark does.
std::vector<ReadFrame> ReadCapture(const std::string& path, int& linkType)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* capture = pcap_open_offline(path.c_str(), error);
    EXPECT_NE(capture, nullptr) << error;
    std::vector<ReadFrame> frames;
    if (capture == nullptr) {
        return frames;
    }
    linkType = pcap_datalink(capture);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(capture, &header, &data) == 1) {
        frames.push_back({std::vector<std::uint8_t>(data, data + header->caplen),
                          static_cast<std::uint64_t>(header->ts.tv_sec) * 1000000 +
                              static_cast<std::uint64_t>(header->ts.tv_usec)});
    }
    pcap_close(capture);
    return frames;
}

class PcapTraceTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }

    // Starting near the tick count's wrap: the stamps must not wrap with it.
    SimKernel kernel{0xFFFFFFF0u};
    std::string path = ::testing::TempDir() + "tarvik_trace_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pcap";
};

TEST_F(PcapTraceTest, FramesAreInTheFileWithTheirTimesWhileTheTraceIsStillOpen)
{
    std::string error;
    const auto trace = PcapTrace::Open(path, kernel, error);
    ASSERT_NE(trace, nullptr) << error;
    const std::vector<std::uint8_t> request(64, 0x11);
    const std::vector<std::uint8_t> reply(26, 0x22);
    trace->Record(request);
    kernel.Advance(1234);
    trace->Record(reply);

    // Nothing closes the trace first, as when the program is killed.
    int linkType = 0;
    const std::vector<ReadFrame> frames = ReadCapture(path, linkType);
    EXPECT_EQ(linkType, DLT_EN10MB);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].Bytes, request);
    EXPECT_EQ(frames[1].Bytes, reply);
    EXPECT_EQ(frames[0].Microseconds, 0xFFFFFFF0ull * 1000);
    EXPECT_EQ(frames[1].Microseconds - frames[0].Microseconds, 1234000u);
}

TEST_F(PcapTraceTest, AnEmptyTraceIsAReadableCapture)
{
    std::string error;
    auto trace = PcapTrace::Open(path, kernel, error);
    ASSERT_NE(trace, nullptr) << error;
    int linkType = 0;
    EXPECT_TRUE(ReadCapture(path, linkType).empty());
    EXPECT_EQ(linkType, DLT_EN10MB);
}

TEST_F(PcapTraceTest, AFileThatCannotBeWrittenIsRefusedWithTheReason)
{
    std::string error;
    EXPECT_EQ(PcapTrace::Open(::testing::TempDir() + "no/such/folder/trace.pcap", kernel, error),
              nullptr);
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarvik
