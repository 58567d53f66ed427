#pragma once
// An in-process Ethernet segment. Stations attach to it; a frame one of them transmits reaches,
// after the segment's latency, every other attached station whose address it is sent to, and
// every other station that takes broadcasts when it is sent to FF-FF-FF-FF-FF-FF. Deliveries
// are scheduled on the Kernel, so the segment runs in simulated time as well as in real time.
// A hook sees every frame and may drop, duplicate or delay it; foreign frames can be injected.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/formats/mac_address.h"
#include "platform/capture/packet_driver.h"

namespace tarvik {

class SegmentStation {
public:
    virtual ~SegmentStation() = default;
    virtual MacAddress StationAddress() const = 0;
    // Whether frames to the broadcast address reach this station.
    virtual bool ReceivesBroadcast() const = 0;
    // Whether frames to this station's own address reach it (a packet filter may refuse them).
    virtual bool ReceivesDirected() const { return true; }
    virtual void ReceiveFrame(std::span<const std::uint8_t> frame) = 0;
};

class VirtualSegment {
public:
    // Decides the fate of one transmitted frame: one delay per copy to deliver, counted from
    // now in milliseconds. Empty drops the frame; two entries duplicate it; a longer delay
    // than the next frame's reorders them.
    using Hook = std::function<std::vector<std::uint32_t>(std::span<const std::uint8_t> frame,
                                                          const SegmentStation* sender)>;
    // Sees every frame as it is transmitted (before the hook), for capture in tests.
    using Observer =
        std::function<void(std::span<const std::uint8_t> frame, const SegmentStation* sender)>;

    explicit VirtualSegment(Kernel& kernel, std::uint32_t latencyMilliseconds = 1);
    ~VirtualSegment();
    VirtualSegment(const VirtualSegment&) = delete;
    VirtualSegment& operator=(const VirtualSegment&) = delete;

    Kernel& kernel() { return kernel_; }

    void Attach(SegmentStation* station);
    void Detach(SegmentStation* station);

    // Puts a frame on the wire. The sender never receives its own frame.
    void Transmit(const SegmentStation* sender, std::span<const std::uint8_t> frame);
    // Puts a frame from no attached station on the wire (a foreign frame), after the delay.
    void Inject(std::span<const std::uint8_t> frame, std::uint32_t delayMilliseconds = 0);

    void SetLatency(std::uint32_t milliseconds);
    void SetHook(Hook hook);
    void SetObserver(Observer observer);

    std::uint64_t FramesTransmitted() const;

private:
    struct Shared;
    void Deliver(const std::shared_ptr<const std::vector<std::uint8_t>>& frame,
                 const SegmentStation* sender);

    Kernel& kernel_;
    std::shared_ptr<Shared> shared_;
};

// The packet-driver library on the virtual segment: each adapter added here is a station of
// the segment with its own MAC address and medium, opened by name ("\Device\lab0").
class VirtualAdapterDriver final : public PacketDriver {
public:
    VirtualAdapterDriver(Kernel& kernel, VirtualSegment& segment);
    ~VirtualAdapterDriver() override;

    void AddAdapter(const std::string& name, const MacAddress& address,
                    std::uint32_t medium = NDIS_MEDIUM_802_3);

    // Failure knobs for tests.
    void FailOpens(bool fail);
    void FailSends(bool fail);
    void FailRequests(bool fail);

    std::uint32_t PacketFilter(std::int32_t adapter) const;
    std::uint64_t FramesSent() const;

    std::int32_t OpenAdapter(const char* name) override;
    void CloseAdapter(std::int32_t adapter) override;
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override;
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override;
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tarvik
