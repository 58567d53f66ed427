#include "segment/virtual_segment.h"

#include <algorithm>

namespace tarvik {

namespace {

using Frame = std::shared_ptr<const std::vector<std::uint8_t>>;

bool Accepts(const SegmentStation& station, const MacAddress& destination)
{
    if (destination == BROADCAST_ADDRESS) {
        return station.ReceivesBroadcast();
    }
    return station.StationAddress() == destination && station.ReceivesDirected();
}

}  // namespace

struct VirtualSegment::Shared {
    explicit Shared(std::uint32_t latencyMilliseconds) : latency(latencyMilliseconds) {}

    // Held while stations are handed a frame, so that a station detached from another thread
    // is never called once Detach has returned. Recursive: a station may transmit, attach or
    // detach from inside ReceiveFrame.
    std::recursive_mutex delivering;

    std::mutex mutex;  // guards what follows; never held while a station is called
    std::vector<SegmentStation*> stations;
    std::uint32_t latency;
    std::shared_ptr<const Hook> hook;
    std::shared_ptr<const Observer> observer;
    std::uint64_t transmitted = 0;

    bool IsAttached(const SegmentStation* station)
    {
        std::lock_guard lock(mutex);
        return std::find(stations.begin(), stations.end(), station) != stations.end();
    }
    void DeliverNow(const std::vector<std::uint8_t>& frame, const SegmentStation* sender);
};

void VirtualSegment::Shared::DeliverNow(const std::vector<std::uint8_t>& frame,
                                        const SegmentStation* sender)
{
    // A runt without a whole destination address is lost on the wire.
    MacAddress destination{};
    if (frame.size() < destination.size()) {
        return;
    }
    std::copy_n(frame.begin(), destination.size(), destination.begin());

    std::lock_guard hold(delivering);
    std::vector<SegmentStation*> receivers;
    {
        std::lock_guard lock(mutex);
        receivers = stations;
    }
    for (SegmentStation* station : receivers) {
        // An earlier receiver may have detached this one meanwhile.
        if (station != sender && IsAttached(station) && Accepts(*station, destination)) {
            station->ReceiveFrame(frame);
        }
    }
}

VirtualSegment::VirtualSegment(Kernel& kernel, std::uint32_t latencyMilliseconds)
    : kernel_(kernel), shared_(std::make_shared<Shared>(latencyMilliseconds))
{
}

VirtualSegment::~VirtualSegment()
{
    // Deliveries still scheduled find the segment gone, or find it empty.
    std::lock_guard delivering(shared_->delivering);
    std::lock_guard lock(shared_->mutex);
    shared_->stations.clear();
}

void VirtualSegment::Attach(SegmentStation* station)
{
    std::lock_guard lock(shared_->mutex);
    auto& stations = shared_->stations;
    if (station != nullptr &&
        std::find(stations.begin(), stations.end(), station) == stations.end()) {
        stations.push_back(station);
    }
}

void VirtualSegment::Detach(SegmentStation* station)
{
    std::lock_guard delivering(shared_->delivering);
    std::lock_guard lock(shared_->mutex);
    std::erase(shared_->stations, station);
}

void VirtualSegment::Transmit(const SegmentStation* sender, std::span<const std::uint8_t> frame)
{
    Deliver(std::make_shared<const std::vector<std::uint8_t>>(frame.begin(), frame.end()), sender);
}

void VirtualSegment::Deliver(const Frame& frame, const SegmentStation* sender)
{
    std::shared_ptr<const Hook> hook;
    std::shared_ptr<const Observer> observer;
    std::vector<std::uint32_t> delays;
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->transmitted;
        hook = shared_->hook;
        observer = shared_->observer;
        delays.push_back(shared_->latency);
    }
    if (observer) {
        (*observer)(*frame, sender);
    }
    if (hook) {
        delays = (*hook)(*frame, sender);
    }
    for (const std::uint32_t delay : delays) {
        kernel_.Schedule(delay, [weak = std::weak_ptr<Shared>(shared_), frame, sender] {
            if (const auto shared = weak.lock()) {
                shared->DeliverNow(*frame, sender);
            }
        });
    }
}

void VirtualSegment::Inject(std::span<const std::uint8_t> frame, std::uint32_t delayMilliseconds)
{
    const auto copy = std::make_shared<const std::vector<std::uint8_t>>(frame.begin(), frame.end());
    std::shared_ptr<const Observer> observer;
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->transmitted;
        observer = shared_->observer;
    }
    if (observer) {
        (*observer)(*copy, nullptr);
    }
    kernel_.Schedule(delayMilliseconds, [weak = std::weak_ptr<Shared>(shared_), copy] {
        if (const auto shared = weak.lock()) {
            shared->DeliverNow(*copy, nullptr);
        }
    });
}

void VirtualSegment::SetLatency(std::uint32_t milliseconds)
{
    std::lock_guard lock(shared_->mutex);
    shared_->latency = milliseconds;
}

void VirtualSegment::SetHook(Hook hook)
{
    std::lock_guard lock(shared_->mutex);
    shared_->hook = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
}

void VirtualSegment::SetObserver(Observer observer)
{
    std::lock_guard lock(shared_->mutex);
    shared_->observer = observer ? std::make_shared<const Observer>(std::move(observer)) : nullptr;
}

std::uint64_t VirtualSegment::FramesTransmitted() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->transmitted;
}

}  // namespace tarvik
