#include "target/target_daemon.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include <net/if.h>

#include "lab/lab_setup.h"
#include "protocol/upgrade_link.h"
#include "target/raw_link.h"

namespace tarvik::target {
namespace {

using Clock = std::chrono::steady_clock;

// Replies held back by --delay, in due order (equal times keep their order).
class DelayedReplies {
public:
    void Add(std::uint32_t delayMs, std::vector<std::uint8_t> frame)
    {
        pending_.emplace(std::make_pair(Clock::now() + std::chrono::milliseconds(delayMs), next_++),
                         std::move(frame));
    }

    // Milliseconds until the next one is due, at most ceiling.
    int WaitMs(int ceiling) const
    {
        if (pending_.empty()) {
            return ceiling;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              pending_.begin()->first.first - Clock::now())
                              .count();
        return static_cast<int>(std::clamp<long long>(left, 0, ceiling));
    }

    void SendDue(RawLink& link)
    {
        const auto now = Clock::now();
        while (!pending_.empty() && pending_.begin()->first.first <= now) {
            link.Send(pending_.begin()->second);
            pending_.erase(pending_.begin());
        }
    }

private:
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::vector<std::uint8_t>> pending_;
    std::uint64_t next_ = 0;
};

bool WriteDump(const std::string& path, const EmulatedTarget& device)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const auto memory = device.Memory();
    file.write(reinterpret_cast<const char*>(memory.data()),
               static_cast<std::streamsize>(memory.size()));
    file.close();
    return static_cast<bool>(file);
}

}  // namespace

int RunDaemon(const TargetOptions& options, const std::function<bool()>& stop)
{
    if (::if_nametoindex(options.Interface.c_str()) == 0) {
        std::fprintf(stderr, "tarvik-target: no interface %s\n", options.Interface.c_str());
        return 1;
    }
    // The dump is written only at the end of a run: a path it cannot go to is said now.
    if (!options.DumpPath.empty() &&
        !std::ofstream(options.DumpPath, std::ios::binary | std::ios::trunc)) {
        std::fprintf(stderr, "tarvik-target: cannot write %s\n", options.DumpPath.c_str());
        return 1;
    }
    TargetConfig config;
    if (options.Address) {
        config.Address = *options.Address;
    } else if (const auto own = InterfaceAddress(options.Interface)) {
        config.Address = *own;
    } else {
        std::fprintf(stderr, "tarvik-target: %s has no hardware address; give --mac\n",
                     options.Interface.c_str());
        return 1;
    }
    config.Descriptor = LabTargetDescriptor(options.BoardCode);
    config.Variants = options.Variants;
    config.Faults = options.Faults;

    RawLink link;
    if (const auto error = link.Open(options.Interface, config.Address)) {
        std::fprintf(stderr, "tarvik-target: cannot listen on %s: %s\n",
                     options.Interface.c_str(), error->c_str());
        return 1;
    }

    EmulatedTarget device(config);
    const std::string name = FormatDeviceName(config.Address);
    device.SetRequestLog([&name](const std::string& line) {
        std::printf("%s %s\n", name.c_str(), line.c_str());
        std::fflush(stdout);
    });
    std::fprintf(stderr, "tarvik-target: %s (board %s) ready on %s\n", name.c_str(),
                 FormatHexBytes(options.BoardCode).c_str(), options.Interface.c_str());

    DelayedReplies delayed;
    int status = 0;
    while (!stop()) {
        const bool received = link.Receive(delayed.WaitMs(100), [&](std::span<const std::uint8_t> frame) {
            for (auto& reply : device.HandleFrame(frame)) {
                if (reply.DelayMs == 0) {
                    link.Send(reply.Frame);
                } else {
                    delayed.Add(reply.DelayMs, std::move(reply.Frame));
                }
            }
        });
        if (!received) {
            std::fprintf(stderr, "tarvik-target: capture failed: %s\n", link.LastError().c_str());
            status = 1;
            break;
        }
        delayed.SendDue(link);
    }

    if (!options.DumpPath.empty() && !WriteDump(options.DumpPath, device)) {
        std::fprintf(stderr, "tarvik-target: cannot write %s\n", options.DumpPath.c_str());
        status = 1;
    }
    std::fprintf(stderr, "tarvik-target: %s stopped after %llu replies\n", name.c_str(),
                 static_cast<unsigned long long>(device.RepliesSent()));
    return status;
}

}  // namespace tarvik::target
