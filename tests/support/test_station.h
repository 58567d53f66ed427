#pragma once
// A scriptable station on the virtual segment for tests: it keeps every frame it receives
// and may answer through a responder. It attaches itself when made and detaches when
// destroyed, so the segment must outlive it. Safe to use while the segment delivers from a
// timer thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "segment/virtual_segment.h"

namespace tarvik {

class TestStation final : public SegmentStation {
public:
    using Responder =
        std::function<void(std::span<const std::uint8_t> frame, TestStation& station)>;

    TestStation(VirtualSegment& segment, const MacAddress& address, bool receivesBroadcast = true);
    ~TestStation() override;
    TestStation(const TestStation&) = delete;
    TestStation& operator=(const TestStation&) = delete;

    MacAddress StationAddress() const override { return address_; }
    bool ReceivesBroadcast() const override { return receivesBroadcast_; }
    void ReceiveFrame(std::span<const std::uint8_t> frame) override;

    void SetReceivesBroadcast(bool receives) { receivesBroadcast_ = receives; }
    // Called after each received frame has been kept.
    void SetResponder(Responder responder);
    void Send(std::span<const std::uint8_t> frame);

    std::vector<std::vector<std::uint8_t>> Received() const;
    std::size_t ReceivedCount() const;
    void ClearReceived();

private:
    VirtualSegment& segment_;
    const MacAddress address_;
    std::atomic<bool> receivesBroadcast_;
    mutable std::mutex mutex_;
    Responder responder_;
    std::vector<std::vector<std::uint8_t>> received_;
};

}  // namespace tarvik
