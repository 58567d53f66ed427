#pragma once
// The emulated device's hold on its interface, through the platform's packet driver: the
// adapter, checked to be Ethernet, a ring of posted reads, and the packet filter for the
// device's station address and broadcast. Unlike the tool's binding it sends without a pause
// and hands frames over in the order they arrived: a device answers as fast as it can.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/capture/frame_trace.h"
#include "platform/kernel/kernel.h"
#include "platform/formats/mac_address.h"
#include "platform/capture/packet_driver.h"
#include "platform/capture/posted_reads.h"

namespace tarvik::target {

// Reads kept posted. The driver holds frames for reads not yet posted, so this only bounds
// how many frames one Receive hands over without going back to the driver.
inline constexpr std::size_t DEVICE_READ_SLOTS = 8;

class DeviceAdapter {
public:
    using FrameHandler = ReadSlotRing::FrameHandler;
    // Why the driver could not open an adapter, in its own words.
    using OpenErrorText = std::function<std::string()>;

    // Without an open error text a failed open says only that the adapter could not be opened.
    DeviceAdapter(Kernel& kernel, PacketDriver& driver, OpenErrorText openError = {});
    ~DeviceAdapter();
    DeviceAdapter(const DeviceAdapter&) = delete;
    DeviceAdapter& operator=(const DeviceAdapter&) = delete;

    // Opens the interface's adapter and checks its medium; an error text on failure.
    std::optional<std::string> Open(const std::string& interfaceName);
    // The station address: the driver's own when it was given one, else the interface's.
    std::optional<MacAddress> StationAddress();
    // Posts the reads and lets frames to the station address and broadcasts in.
    std::optional<std::string> StartReception();

    // Waits at most timeoutMs for a frame, then hands over every frame that has come, oldest
    // first. Each frame is valid only during the call of handle.
    void Receive(std::uint32_t timeoutMs, const FrameHandler& handle);
    bool Send(std::span<const std::uint8_t> frame);
    // From now on every frame handed over and every frame sent is also recorded there.
    void SetTrace(FrameTrace* trace) { trace_ = trace; }

private:
    bool SetPacketFilter(std::uint32_t filter);

    Kernel& kernel_;
    PacketDriver& driver_;
    const OpenErrorText openError_;
    std::int32_t adapter_ = INVALID_ADAPTER;
    ReadSlotRing slots_;
    FrameTrace* trace_ = nullptr;
};

}  // namespace tarvik::target
