// A trace written by the program reads back through the capture reader, on each system (on
// Windows the writer is the program's own and the reader the capture library's).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/capture/pcap_trace.h"
#include "platform/formats/pcap_reader.h"
#include "platform/kernel/sim_kernel.h"

namespace tarvik {
namespace {

TEST(TraceRoundTripTest, FramesAndTheirTimesComeBackAsRecorded)
{
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("tarvik-round-trip-" + std::to_string(std::random_device{}()) + ".pcap");
    SimKernel clock;
    const std::vector<std::vector<std::uint8_t>> frames = {std::vector<std::uint8_t>(60, 0x11),
                                                           std::vector<std::uint8_t>(1514, 0x22),
                                                           std::vector<std::uint8_t>(14, 0x33)};
    {
        std::string error;
        const std::unique_ptr<PcapTrace> trace = PcapTrace::Open(path.string(), clock, error);
        ASSERT_NE(trace, nullptr) << error;
        for (const auto& frame : frames) {
            trace->Record(frame);
            clock.Sleep(1500);
        }
    }
    std::string error;
    const auto read = ReadPcapFrames(path.string(), error);
    std::filesystem::remove(path);
    ASSERT_TRUE(read.has_value()) << error;
    ASSERT_EQ(read->size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(std::ranges::equal((*read)[i].Bytes, frames[i])) << "frame " << i;
        if (i > 0) {
            EXPECT_EQ((*read)[i].Microseconds - (*read)[i - 1].Microseconds, 1500000u);
        }
    }
}

}  // namespace
}  // namespace tarvik
