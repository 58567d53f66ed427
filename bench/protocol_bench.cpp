// Protocol figures in simulated time: how close an upgrade comes to the floor its protocol
// sets (one 20 ms pause per frame), and how discovery copes with a crowded segment. Prints
// figures; asserts nothing.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image_builder.h"
#include "lab/lab_setup.h"
#include "netio/binding.h"
#include "platform/files/file_system.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

constexpr MacAddress TARGET = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};

struct Bench {
    Bench() : lab(kernel), binding(kernel, lab.Driver()), run(binding, files), link(run)
    {
        lab.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        binding.OpenAdapter(LAB_ADAPTER_NAME);
        binding.OpenRequestEvent();
        binding.StartReception();
    }
    SimKernel kernel;
    Lab lab;
    Binding binding;
    SystemFileSystem files;
    RunState run;
    UpgradeLink link;
};

void TransferOverhead(std::size_t size, const std::filesystem::path& directory)
{
    Bench bench;
    TargetConfig config;
    config.Address = TARGET;
    config.Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    bench.lab.AddTarget(config);

    ImageSpec spec = SampleImageSpec();
    spec.Size = size;
    spec.HeaderOffset = 0;
    spec.Descriptor.Bytes[DESC_CODE_SEGMENT] = 0;  // a 1 MiB image fills the address space
    spec.Descriptor.Bytes[DESC_CODE_SEGMENT + 1] = 0;
    const auto path = (directory / ("bench-" + std::to_string(size) + ".bin")).string();
    WriteImageFile(path, BuildImage(spec));

    auto& link = bench.link;
    auto& session = bench.run.Session;
    const std::uint64_t start = bench.kernel.Now();
    link.OpenTransfer(TARGET, path);
    link.SendBegin(session);
    while (session.State != SESSION_DONE && session.State != SESSION_FAILED) {
        link.PollTransferReply();
        if (link.CheckSessionTimeout() != TIMEOUT_OK) {
            break;
        }
    }
    link.CloseTransferFile();
    const std::uint64_t took = bench.kernel.Now() - start;
    const std::uint64_t frames = bench.run.FramesSent;
    std::printf("transfer %8zu bytes: %s, %6llu frames, %9.3f s simulated, ratio %.4f\n", size,
                session.State == SESSION_DONE ? "done" : "FAILED",
                static_cast<unsigned long long>(frames), static_cast<double>(took) / 1000.0,
                static_cast<double>(took) / (static_cast<double>(frames) * SEND_PAUSE_MS));
}

void CrowdedDiscovery(int targets)
{
    Bench bench;
    for (int i = 0; i < targets; ++i) {
        TargetConfig config;
        config.Address = {0x02,
                          0x5A,
                          0x17,
                          static_cast<std::uint8_t>(i >> 16),
                          static_cast<std::uint8_t>(i >> 8),
                          static_cast<std::uint8_t>(i)};
        if (i % 2 == 1) {
            config.Address[1] = 0x11;
        }
        config.Descriptor = LabTargetDescriptor({0, 1, 2, 3, 4, 5});
        bench.lab.AddTarget(config);
    }
    std::vector<std::string> names;
    const auto wallStart = std::chrono::steady_clock::now();
    const std::uint64_t start = bench.kernel.Now();
    const int found = bench.link.DiscoverTargets(names);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const bool sorted = std::is_sorted(names.begin(), names.end());
    std::printf("discovery with %d targets: %d found, %s, %.3f s simulated, %.3f s real\n", targets,
                found, sorted ? "sorted" : "NOT SORTED",
                static_cast<double>(bench.kernel.Now() - start) / 1000.0, wall);
}

}  // namespace
}  // namespace tarvik

int main()
{
    const auto directory = std::filesystem::temp_directory_path() /
                           ("tarvik-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    for (const std::size_t size :
         {std::size_t{1024}, std::size_t{64 * 1024}, std::size_t{1024 * 1024}}) {
        tarvik::TransferOverhead(size, directory);
    }
    tarvik::CrowdedDiscovery(1000);
    std::filesystem::remove_all(directory);
    return 0;
}
