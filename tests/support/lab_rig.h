#pragma once
// The lab environment the several-device and station tests stand on: the lab's segment in
// simulated time with its adapter, the lab's registry, an NT system, an image in memory, and
// a run environment opened on the adapter once, as tarvik-cli opens it. A fixture derives from
// it and adds the devices its cases need.

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "commands/adapter_selection.h"
#include "commands/interface_access.h"
#include "commands/message_port.h"
#include "commands/run_environment.h"
#include "image/image_builder.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "platform/host/os_version.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/progress.h"

namespace tarvik::testing {

inline constexpr char RIG_IMAGE[] = "/images/fw.bin";
inline constexpr std::size_t RIG_IMAGE_BYTES = 5000;
// The board code of the image RigImage builds.
inline constexpr std::array<std::uint8_t, 6> RIG_BOARD = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

// The sample image, its code at the start of the file.
inline std::vector<std::uint8_t> RigImage()
{
    ImageSpec layout = SampleImageSpec();
    layout.Size = RIG_IMAGE_BYTES;
    layout.HeaderOffset = 0;
    return BuildImage(layout);
}

class NoProgress final : public ProgressDisplay {
public:
    void BeginProgress(std::uint64_t) override {}
    void SetProgress(const ProgressReport&) override {}
};

class LabRig {
protected:
    LabRig() : lab(kernel)
    {
        lab.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        registry = MakeLabRegistry();
        files.Add(RIG_IMAGE, RigImage());
    }

    // An emulated device of that board, answering in the given frame variants.
    EmulatedTargetStation& AddDevice(
        const MacAddress& address, const std::array<std::uint8_t, 6>& board = RIG_BOARD,
        std::set<FrameVariantKind> variants = {FrameVariantKind::Untyped, FrameVariantKind::Typed})
    {
        TargetConfig config;
        config.Address = address;
        config.Descriptor = LabTargetDescriptor(board);
        config.Variants = std::move(variants);
        return lab.AddTarget(std::move(config));
    }

    // The user's stop: once the simulated clock reaches stopAt (never while it is 0).
    StopRequested Stop()
    {
        return [this] { return stopAt != 0 && kernel.Now() >= stopAt; };
    }

    // Opens the lab's adapter once, the way tarvik-cli does for several devices (or for one);
    // the environment stops on Stop().
    RunEnvironment& Environment(RunSharing sharing = RunSharing::SeveralRuns)
    {
        environment.reset();
        environment = std::make_unique<RunEnvironment>(
            EnvironmentParts{kernel, lab.Driver(), *registry, version, files, access}, Stop(),
            sharing);
        FirstAdapterSelection first;
        EXPECT_EQ(environment->Start(first, port), STARTUP_READY);
        return *environment;
    }

    SimKernel kernel{0x30000};
    Lab lab;
    std::unique_ptr<Registry> registry;
    FixedOsVersionQuery version{VER_PLATFORM_WIN32_NT};
    MemoryFileSystem files;
    LabAccess access;
    MessagePort port;
    std::uint64_t stopAt = 0;
    std::unique_ptr<RunEnvironment> environment;
};

}  // namespace tarvik::testing
