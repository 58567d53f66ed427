#include "device_daemon/target_daemon.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "lab/lab_setup.h"
#include "lab/replay_target.h"
#include "lab/reply_queue.h"
#include "platform/capture/pcap_trace.h"
#include "platform/formats/pcap_reader.h"
#include "platform/host/machine.h"
#include "protocol/upgrade_link.h"

namespace tarvik::target {
namespace {

// How long the daemon waits for frames before it looks at the stop request again.
constexpr std::uint32_t STOP_CHECK_MS = 100;

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

// The interface by its own name, or by one its users know it by (Windows: the connection's
// friendly name or the adapter's description); empty, said on stderr, when there is none.
std::string ResolveInterface(Machine& system, const std::string& given)
{
    std::string interfaceName = given;
    if (!system.HasInterface(interfaceName)) {
        interfaceName = system.Naming().InterfaceOfName(given);
    }
    if (interfaceName.empty() || !system.HasInterface(interfaceName)) {
        std::fprintf(stderr, "tarvik-target: no interface %s\n", given.c_str());
        return {};
    }
    return interfaceName;
}

std::unique_ptr<PcapTrace> OpenTrace(const std::string& path, Kernel& kernel)
{
    std::string error;
    auto trace = PcapTrace::Open(path, kernel, error);
    if (!trace) {
        std::fprintf(stderr, "tarvik-target: cannot write the trace %s: %s\n", path.c_str(),
                     error.c_str());
    }
    return trace;
}

}  // namespace

std::uint64_t ServeDevice(Kernel& kernel, DeviceAdapter& adapter, DeviceSide& device,
                          const std::function<bool()>& stop)
{
    ReplyQueue delayed;
    std::uint64_t sent = 0;
    const auto send = [&adapter, &sent](std::span<const std::uint8_t> frame) {
        sent += adapter.Send(frame) ? 1 : 0;
    };
    while (!stop()) {
        const std::uint32_t wait = delayed.WaitMs(kernel.GetTickCount(), STOP_CHECK_MS);
        adapter.Receive(wait, [&](std::span<const std::uint8_t> frame) {
            for (auto& reply : device.HandleFrame(frame)) {
                if (reply.DelayMs == 0) {
                    send(reply.Frame);
                } else {
                    delayed.Add(kernel.GetTickCount(), reply.DelayMs, std::move(reply.Frame));
                }
            }
        });
        delayed.TakeDue(kernel.GetTickCount(), send);
    }
    return sent;
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
    const std::uint64_t sent = ServeDevice(kernel, adapter, device, stop);
    std::fprintf(stderr, "tarvik-target: %s stopped after %llu replies\n", name.c_str(),
                 static_cast<unsigned long long>(sent));
    return 0;
}

// The emulated device's settings, answering for the address the adapter took; nothing, said
// on stderr, when the interface has no hardware address.
std::optional<TargetConfig> EmulatedConfig(const TargetOptions& options, DeviceAdapter& adapter)
{
    TargetConfig config;
    if (const auto address = adapter.StationAddress()) {
        config.Address = *address;
    } else {
        std::fprintf(stderr, "tarvik-target: %s has no hardware address; give --mac\n",
                     options.Interface.c_str());
        return std::nullopt;
    }
    config.Descriptor = LabTargetDescriptor(options.BoardCode);
    config.Variants = options.Variants;
    config.Faults = options.Faults;
    return config;
}

int EmulateOn(Kernel& kernel, DeviceAdapter& adapter, const TargetOptions& options,
              const TargetConfig& config, const std::function<bool()>& stop)
{
    EmulatedTarget device(config);
    const std::string name = FormatDeviceName(config.Address);
    device.SetRequestLog([&name](const std::string& line) {
        std::printf("%s %s\n", name.c_str(), line.c_str());
        std::fflush(stdout);
    });
    std::fprintf(stderr, "tarvik-target: %s (board %s) ready on %s\n", name.c_str(),
                 FormatHexBytes(options.BoardCode).c_str(), options.Interface.c_str());

    const std::uint64_t sent = ServeDevice(kernel, adapter, device, stop);

    int status = 0;
    if (!options.DumpPath.empty() && !WriteDump(options.DumpPath, device)) {
        std::fprintf(stderr, "tarvik-target: cannot write %s\n", options.DumpPath.c_str());
        status = 1;
    }
    std::fprintf(stderr, "tarvik-target: %s stopped after %llu replies\n", name.c_str(),
                 static_cast<unsigned long long>(sent));
    return status;
}

}  // namespace

int RunDaemon(const TargetOptions& options, const std::function<bool()>& stop)
{
    const std::unique_ptr<Machine> system = OpenMachine();
    const std::string interfaceName = ResolveInterface(*system, options.Interface);
    if (interfaceName.empty()) {
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
    if (!options.TracePath.empty() && !(trace = OpenTrace(options.TracePath, kernel))) {
        return 1;
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
    const std::optional<TargetConfig> config = EmulatedConfig(options, adapter);
    if (!config) {
        return 1;
    }
    if (const auto error = adapter.StartReception()) {
        std::fprintf(stderr, "tarvik-target: cannot listen on %s: %s\n", options.Interface.c_str(),
                     error->c_str());
        return 1;
    }

    if (replay) {
        return ReplayOn(kernel, adapter, options, std::move(*replay), config->Address, stop);
    }
    return EmulateOn(kernel, adapter, options, *config, stop);
}

}  // namespace tarvik::target
