#pragma once
// The protocol on the virtual segment in simulated time: the tool's adapter opened through
// the binding, the frames it sends captured, targets attached as the case needs.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/image_builder.h"
#include "image/image_file.h"
#include "lab/lab_setup.h"
#include "netio/binding.h"
#include "platform/files/file_system.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"
#include "support/test_station.h"

namespace tarvik::testing {

struct SentFrame {
    std::uint64_t Time;
    std::vector<std::uint8_t> Bytes;
    FrameHeader Header;
};

// Each report as the progress window takes it: the text when set, the bar when moved, then
// both texts on show.
class RecordingProgress final : public ProgressDisplay {
public:
    void BeginProgress(std::uint64_t /*bytesTotal*/) override { Events.push_back("begin"); }
    void SetProgress(const ProgressReport& report) override
    {
        if (report.Text) {
            Events.push_back("status:" + std::string(*report.Text));
        }
        if (const auto& percent = report.Percent) {
            Events.push_back("percent:" + std::to_string(percent->Position) + "/" +
                             std::to_string(percent->Number));
        }
        Events.push_back("refresh");
    }
    std::vector<std::string> Events;
};

class ProtocolTest : public ::testing::Test {
protected:
    explicit ProtocolTest(std::uint32_t startTick = 0x10000)
        : kernel(startTick), lab(kernel), binding(kernel, lab.Driver()), run(binding, files),
          link(run)
    {
        lab.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        lab.Segment().SetObserver([this](std::span<const std::uint8_t> frame,
                                         const SegmentStation*) {
            const auto header = DecodeHeader(frame);
            if (header && header->Source == LAB_ADAPTER_ADDRESS) {
                sent.push_back({kernel.Now(), {frame.begin(), frame.end()}, *header});
                if (onSent) {
                    onSent(*header);
                }
            }
        });
        EXPECT_GE(binding.OpenAdapter(LAB_ADAPTER_NAME), 0);
        EXPECT_EQ(binding.OpenRequestEvent(), 0);
        EXPECT_EQ(binding.StartReception(), 0);
        directory = std::filesystem::temp_directory_path() /
                    ("tarvik-protocol-" + std::to_string(::getpid()) + "-" +
                     std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(directory);
    }

    ~ProtocolTest() override
    {
        // Windows will not delete a read-only file: the tests' own are made writable first.
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::remove_all(directory, ignored);
    }

    EmulatedTargetStation& AddTarget(
        const MacAddress& address,
        std::set<FrameVariantKind> variants = {FrameVariantKind::Untyped, FrameVariantKind::Typed},
        std::array<std::uint8_t, 6> board = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55})
    {
        TargetConfig config;
        config.Address = address;
        config.Descriptor = LabTargetDescriptor(board);
        config.Variants = variants;
        return lab.AddTarget(config);
    }

    // Writes an image with the sample descriptor (code segment as given) and returns its path.
    std::string MakeImage(std::size_t size, std::uint16_t codeSegment = 0x1000,
                          std::size_t headerOffset = 0, std::uint32_t seed = 7)
    {
        ImageSpec spec;
        spec.Size = size;
        spec.HeaderOffset = headerOffset;
        spec.Descriptor = SampleDescriptor();
        spec.Descriptor.SetCodeSegment(codeSegment);
        spec.Seed = seed;
        const auto path = (directory / ("image-" + std::to_string(++images) + ".bin")).string();
        EXPECT_TRUE(WriteImageFile(path, BuildImage(spec)));
        return path;
    }

    static std::vector<std::uint8_t> ReadWhole(const std::string& path)
    {
        std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        bytes.resize(got);
        return bytes;
    }

    // The Upgrade command's transfer loop, without its checks and messages; on the fixture's
    // run, or on one over other files.
    void RunTransfer(const MacAddress& target, const std::string& path)
    {
        RunTransfer(run, target, path);
    }
    void RunTransfer(RunState& on, const MacAddress& target, const std::string& path)
    {
        UpgradeLink onLink(on);
        ASSERT_EQ(onLink.OpenTransfer(target, path), OPEN_READY);
        on.Progress = &progress;
        ASSERT_EQ(onLink.SendBegin(on.Session), BUILD_SENT);
        progress.BeginProgress(on.Session.FileSize);
        for (;;) {
            onLink.PollTransferReply();
            if (onLink.CheckSessionTimeout() != TIMEOUT_OK) {
                break;
            }
            if (on.Session.State == SESSION_DONE || on.Session.State == SESSION_FAILED) {
                break;
            }
        }
        onLink.CloseTransferFile();
    }

    std::vector<SentFrame> SentWithOpcode(std::uint16_t opcode) const
    {
        std::vector<SentFrame> frames;
        for (const auto& frame : sent) {
            if (frame.Header.Opcode == opcode) {
                frames.push_back(frame);
            }
        }
        return frames;
    }

    SimKernel kernel;
    Lab lab;
    Binding binding;
    SystemFileSystem files;
    RunState run;
    UpgradeLink link;
    RecordingProgress progress;
    std::vector<SentFrame> sent;
    std::function<void(const FrameHeader&)> onSent;  // told of each frame the tool sends
    std::filesystem::path directory;
    int images = 0;
};

inline constexpr MacAddress TARGET_A = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
inline constexpr MacAddress TARGET_B = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
inline constexpr MacAddress TARGET_C = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x07};

// A reply frame as a device would send it, padded to the Ethernet minimum.
inline std::vector<std::uint8_t> MakeReply(const FrameHeader& header,
                                           std::span<const std::uint8_t> data,
                                           std::size_t padTo = 60)
{
    std::vector<std::uint8_t> bytes(FRAME_HEADER_BYTES + data.size());
    EncodeHeader(bytes, header);
    std::copy(data.begin(), data.end(), bytes.begin() + FRAME_DATA);
    if (bytes.size() < padTo) {
        bytes.resize(padTo, 0);
    }
    return bytes;
}

}  // namespace tarvik::testing
