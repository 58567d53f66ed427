// The trace's pcap format in literal bytes, the same on every system, and read back by the
// program's own reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/formats/pcap_reader.h"
#include "platform/formats/pcap_writer.h"

namespace tarvik {
namespace {

TEST(PcapWriterTest, HeaderAndRecordAreTheClassicLittleEndianMicrosecondFormat)
{
    const auto header = PcapFileHeader();
    const std::vector<std::uint8_t> expectedHeader = {
        0xD4, 0xC3, 0xB2, 0xA1,  // magic: microseconds, written least significant byte first
        0x02, 0x00, 0x04, 0x00,  // version 2.4
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // zone, accuracy
        0xFF, 0xFF, 0x00, 0x00,                          // snap length 65535
        0x01, 0x00, 0x00, 0x00,                          // Ethernet
    };
    EXPECT_EQ(std::vector<std::uint8_t>(header.begin(), header.end()), expectedHeader);

    const std::vector<std::uint8_t> frame = {0xAA, 0xBB, 0xCC};
    // 2025-01-01T00:00:00.000123Z, past the 31-bit seconds of a signed field's reach.
    const std::vector<std::uint8_t> expectedRecord = {
        0x80, 0x85, 0x74, 0x67,  // seconds 1735689600
        0x7B, 0x00, 0x00, 0x00,  // 123 microseconds
        0x03, 0x00, 0x00, 0x00,  // captured
        0x03, 0x00, 0x00, 0x00,  // on the wire
        0xAA, 0xBB, 0xCC,
    };
    EXPECT_EQ(PcapRecord(1'735'689'600'000'123ull, frame), expectedRecord);
}

TEST(PcapWriterTest, WhatItWritesTheReaderReadsBack)
{
    std::vector<std::uint8_t> file;
    const auto header = PcapFileHeader();
    file.insert(file.end(), header.begin(), header.end());
    const std::vector<std::vector<std::uint8_t>> frames = {std::vector<std::uint8_t>(60, 0x11),
                                                           std::vector<std::uint8_t>(1514, 0x22)};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto record = PcapRecord(4'000'000'000'000'000ull + i, frames[i]);
        file.insert(file.end(), record.begin(), record.end());
    }
    std::string error;
    const auto read = ParseCaptureFile(std::move(file), error);
    ASSERT_TRUE(read) << error;
    ASSERT_EQ(read->size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ((*read)[i].Microseconds, 4'000'000'000'000'000ull + i);
        EXPECT_TRUE(std::ranges::equal((*read)[i].Bytes, frames[i])) << "frame " << i;
    }
}

}  // namespace
}  // namespace tarvik
