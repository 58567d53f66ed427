#include "device_daemon/target_daemon.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <list>
#include <vector>

#include "lab/lab_setup.h"
#include "lab/replay_target.h"
#include "platform/host/machine.h"
#include "platform/formats/pcap_reader.h"
#include "platform/capture/pcap_trace.h"
#include "protocol/upgrade_link.h"

namespace tarvik::target {
namespace {

// How long the daemon waits for frames before it looks at the stop request again.
constexpr std::uint32_t STOP_CHECK_MS = 100;

// Replies held back by --delay, in due order (equal times keep their order). Due times are
// tick counts, compared by their difference so that the tick count's wrap does no harm.
class DelayedReplies {
public:
    void Add(std::uint32_t due, std::vector<std::uint8_t> frame)
    {
        const auto later = std::find_if(held_.begin(), held_.end(), [due](const Held& held) {
            return Ahead(due, held.Due) < 0;
        });
        held_.insert(later, Held{due, std::move(frame)});
    }

    // Milliseconds from now until the next one is due, at most ceiling.
    std::uint32_t WaitMs(std::uint32_t now, std::uint32_t ceiling) const
    {
        if (held_.empty()) {
            return ceiling;
        }
        return static_cast<std::uint32_t>(std::clamp<std::int64_t>(Ahead(held_.front().Due, now), 0,
                                                                   ceiling));
    }

    void SendDue(std::uint32_t now, DeviceAdapter& adapter)
    {
        while (!held_.empty() && Ahead(held_.front().Due, now) <= 0) {
            adapter.Send(held_.front().Frame);
            held_.pop_front();
        }
    }

private:
    struct Held {
        std::uint32_t Due;
        std::vector<std::uint8_t> Frame;
    };

    // How far tick a lies after tick b (negative when before).
    static std::int32_t Ahead(std::uint32_t a, std::uint32_t b)
    {
        return static_cast<std::int32_t>(a - b);
    }

    std::list<Held> held_;
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

// The session the capture at path holds; nothing, said on stderr, when there is none to replay.
std::optional<RecordedSession> ReadReplay(const TargetOptions& options)
{
    std::string error;
    std::optional<RecordedSession> session;
    if (const auto frames = ReadPcapFrames(options.ReplayPath, error)) {
        session = RecordedSession::FromCapture(*frames, options.ReplayDevice, "--device", error);
    }
    if (!session) {
        std::fprintf(stderr, "tarvik-target: cannot replay %s: %s\n", options.ReplayPath.c_str(),
                     error.c_str());
    }
    return session;
}

}  // namespace

void ServeDevice(Kernel& kernel, DeviceAdapter& adapter, DeviceSide& device,
                 const std::function<bool()>& stop)
{
    DelayedReplies delayed;
    while (!stop()) {
        const std::uint32_t wait = delayed.WaitMs(kernel.GetTickCount(), STOP_CHECK_MS);
        adapter.Receive(wait, [&](std::span<const std::uint8_t> frame) {
            for (auto& reply : device.HandleFrame(frame)) {
                if (reply.DelayMs == 0) {
                    adapter.Send(reply.Frame);
                } else {
                    delayed.Add(kernel.GetTickCount() + reply.DelayMs, std::move(reply.Frame));
                }
            }
        });
        delayed.SendDue(kernel.GetTickCount(), adapter);
    }
}

namespace {

int ReplayOn(Kernel& kernel, DeviceAdapter& adapter, const TargetOptions& options,
             RecordedSession session, const MacAddress& address, const std::function<bool()>& stop)
{
    ReplayTarget device(std::move(session), address);
    // What the capture never answered is said once per kind of request, as it is met.
    device.SetUnansweredNote([](const std::string& line) {
        std::fprintf(stderr, "tarvik-target: %s\n", line.c_str());
    });
    const std::string name = FormatDeviceName(address);
    std::fprintf(stderr, "tarvik-target: %s replaying %s ready on %s\n", name.c_str(),
                 options.ReplayPath.c_str(), options.Interface.c_str());
    ServeDevice(kernel, adapter, device, stop);
    std::fprintf(stderr, "tarvik-target: %s stopped after %llu replies\n", name.c_str(),
                 static_cast<unsigned long long>(device.RepliesSent()));
    return 0;
}

}  // namespace

int RunDaemon(const TargetOptions& options, const std::function<bool()>& stop)
{
    const std::unique_ptr<Machine> system = OpenMachine();
    // The interface by its own name, or by one its users know it by (Windows: the connection's
    // friendly name or the adapter's description).
    std::string interfaceName = options.Interface;
    if (!system->HasInterface(interfaceName)) {
        interfaceName = system->Naming().InterfaceOfName(options.Interface);
    }
    if (interfaceName.empty() || !system->HasInterface(interfaceName)) {
        std::fprintf(stderr, "tarvik-target: no interface %s\n", options.Interface.c_str());
        return 1;
    }
    // The dump is written only at the end of a run: a path it cannot go to is said now.
    if (!options.DumpPath.empty() &&
        !std::ofstream(options.DumpPath, std::ios::binary | std::ios::trunc)) {
        std::fprintf(stderr, "tarvik-target: cannot write %s\n", options.DumpPath.c_str());
        return 1;
    }

    // The driver takes the address it answers for when it opens the interface, and a device
    // replaying a capture answers for the recorded device's (so that the same name reaches
    // it) unless --mac names another: the capture is read while the program still holds its
    // rights. It is the operator's own file, read through libpcap and the frame codec.
    std::optional<RecordedSession> replay;
    if (!options.ReplayPath.empty() && !(replay = ReadReplay(options))) {
        return 1;
    }
    std::optional<MacAddress> station = options.Address;
    if (replay && !station) {
        station = replay->Device;
    }

    Kernel& kernel = system->Clock();
    std::unique_ptr<PcapTrace> trace;
    if (!options.TracePath.empty()) {
        std::string error;
        trace = PcapTrace::Open(options.TracePath, kernel, error);
        if (!trace) {
            std::fprintf(stderr, "tarvik-target: cannot write the trace %s: %s\n",
                         options.TracePath.c_str(), error.c_str());
            return 1;
        }
    }
    // With --mac (or a replay) the adapter takes that address as its own, promiscuously.
    const std::unique_ptr<InterfacePacketDriver> driver = system->OpenPacketDriver(station);
    driver->SetFrameAdmission(ProtocolFrameAdmission());
    DeviceAdapter adapter(kernel, *driver, [&driver] { return driver->OpenError(); });
    adapter.SetTrace(trace.get());
    if (const auto error = adapter.Open(interfaceName)) {
        std::fprintf(stderr, "tarvik-target: cannot listen on %s: %s\n", options.Interface.c_str(),
                     error->c_str());
        return 1;
    }
    // Requests from the wire are parsed without any capability.
    if (!system->Process().DropAllCapabilities()) {
        std::fprintf(stderr, "tarvik-target: cannot give up the capabilities\n");
        return 1;
    }
    TargetConfig config;
    if (const auto address = adapter.StationAddress()) {
        config.Address = *address;
    } else {
        std::fprintf(stderr, "tarvik-target: %s has no hardware address; give --mac\n",
                     options.Interface.c_str());
        return 1;
    }
    config.Descriptor = LabTargetDescriptor(options.BoardCode);
    config.Variants = options.Variants;
    config.Faults = options.Faults;
    if (const auto error = adapter.StartReception()) {
        std::fprintf(stderr, "tarvik-target: cannot listen on %s: %s\n", options.Interface.c_str(),
                     error->c_str());
        return 1;
    }

    if (replay) {
        return ReplayOn(kernel, adapter, options, std::move(*replay), config.Address, stop);
    }

    EmulatedTarget device(config);
    const std::string name = FormatDeviceName(config.Address);
    device.SetRequestLog([&name](const std::string& line) {
        std::printf("%s %s\n", name.c_str(), line.c_str());
        std::fflush(stdout);
    });
    std::fprintf(stderr, "tarvik-target: %s (board %s) ready on %s\n", name.c_str(),
                 FormatHexBytes(options.BoardCode).c_str(), options.Interface.c_str());

    ServeDevice(kernel, adapter, device, stop);

    int status = 0;
    if (!options.DumpPath.empty() && !WriteDump(options.DumpPath, device)) {
        std::fprintf(stderr, "tarvik-target: cannot write %s\n", options.DumpPath.c_str());
        status = 1;
    }
    std::fprintf(stderr, "tarvik-target: %s stopped after %llu replies\n", name.c_str(),
                 static_cast<unsigned long long>(device.RepliesSent()));
    return status;
}

}  // namespace tarvik::target
