#include "support/test_station.h"

namespace tarvik {

TestStation::TestStation(VirtualSegment& segment, const MacAddress& address, bool receivesBroadcast)
    : segment_(segment), address_(address), receivesBroadcast_(receivesBroadcast)
{
    segment_.Attach(this);
}

TestStation::~TestStation()
{
    segment_.Detach(this);
}

void TestStation::ReceiveFrame(std::span<const std::uint8_t> frame)
{
    Responder responder;
    {
        std::lock_guard lock(mutex_);
        received_.emplace_back(frame.begin(), frame.end());
        responder = responder_;
    }
    if (responder) {
        responder(frame, *this);
    }
}

void TestStation::SetResponder(Responder responder)
{
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void TestStation::Send(std::span<const std::uint8_t> frame)
{
    segment_.Transmit(this, frame);
}

std::vector<std::vector<std::uint8_t>> TestStation::Received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t TestStation::ReceivedCount() const
{
    std::lock_guard lock(mutex_);
    return received_.size();
}

void TestStation::ClearReceived()
{
    std::lock_guard lock(mutex_);
    received_.clear();
}

}  // namespace tarvik
