#pragma once
// One adapter shared by several runs: the packet driver opens the interface once, and each run
// opens a logical adapter of its own on top of it. Frames from a device go to the logical
// adapter that claimed the device's address; frames from anyone else go to the logical
// adapters that claimed none (the one that browses). So eight devices cost one capture and
// each frame is copied out of the OS once, and the privilege to open the interface is needed once.
//
// Receiving needs a pump: RunAll runs the runs' tasks and, beside them, moves each frame the
// interface receives to the logical adapter it belongs to.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/formats/mac_address.h"
#include "platform/capture/packet_driver.h"
#include "platform/capture/posted_reads.h"

namespace tarvik {

// Reads kept posted on the shared adapter.
inline constexpr std::size_t FAN_OUT_READ_SLOTS = 64;

// A question a run asks its device that a probe to everyone asks too, so that the device's
// answers to both look alike: which frames are such questions and answers, and of which kind
// (an answer answers the questions of its kind alone), is the protocol's to say.
struct SharedQuestion {
    using Kind = std::optional<std::uint32_t>;
    std::function<Kind(std::span<const std::uint8_t> frame)> Asks;     // a frame sent
    std::function<Kind(std::span<const std::uint8_t> frame)> Answers;  // a frame received
};

class FanOutDriver final : public PacketDriver {
public:
    FanOutDriver(Kernel& kernel, PacketDriver& inner);
    ~FanOutDriver() override;
    FanOutDriver(const FanOutDriver&) = delete;
    FanOutDriver& operator=(const FanOutDriver&) = delete;

    // The driver a run on one device opens its adapter through: its logical adapters get only
    // the frames from that address. Lives as long as this driver.
    PacketDriver& ForDevice(const MacAddress& device);

    // The devices the runs to come will talk to (none: the runs are over). Their frames pass
    // from now on, whichever runs are open, and an adapter that claimed none is taken to have
    // done its browsing, so the shared adapter is not asked for other sources as each run
    // starts and ends: a new program costs the runs under way the replies queued for them, and
    // a lost reply costs a resend timeout.
    void ExpectDevices(std::span<const MacAddress> devices);

    // For a station that keeps probing while runs are under way: the shared adapter passes
    // every source from now on, whatever the logical adapters ask, so that neither a probe nor
    // a run starting or ending ever reprograms it under the runs in progress.
    void PassEverySource();

    // Routes answers to the shared question by who asked: a device's answer goes to its run
    // while the run waits for one of its kind (it asked since its last answer), and otherwise to
    // the adapters that claimed no device (the one that probes), so that the answers to a probe
    // never reach a run in the middle of its transfer.
    void RouteSharedAnswers(SharedQuestion question);

    // Runs the tasks (at most limit at once, 0: all) through the Kernel and, while any of them
    // runs, delivers the frames received to the logical adapters.
    void RunAll(std::span<const std::function<void()>> tasks, std::size_t limit);
    // The same for several fan-outs at once (a station's bays, one interface or VLAN each),
    // on the one kernel they share or, in real time, any of theirs: every driver delivers its
    // frames while any task runs.
    static void RunTogether(Kernel& kernel, std::span<FanOutDriver* const> drivers,
                            std::span<const std::function<void()>> tasks, std::size_t limit);

    // Opens a logical adapter; the shared one is opened by the first open of a name, and
    // every other open must name the same adapter.
    std::int32_t OpenAdapter(const char* name) override;
    // Closes a logical adapter; the shared one closes with the last.
    void CloseAdapter(std::int32_t adapter) override;
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override;
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override;
    // The packet filter is each logical adapter's own; the shared adapter gets them all
    // combined. So are the sources a logical adapter passes up (OID_TARVIK_SOURCE_ADDRESSES):
    // once asked, the shared adapter passes the devices of the runs that receive, the sources
    // an adapter that claimed none asked for (none while it has not asked), and every source
    // while that adapter asks for every source (discovery); while devices are expected, the
    // expected devices and the runs' alone. Every other request goes to the shared adapter.
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override;

    // The name the shared adapter was opened by; empty while it is closed.
    std::string SharedAdapterName();

    // For tests: the frames held for reads not yet posted, over every logical adapter.
    std::size_t PendingFrames();

private:
    class DeviceView;
    struct Logical;

    std::int32_t Open(const char* name, std::optional<MacAddress> device);
    // Waits at most timeoutMs for the next frame on the shared adapter, then delivers every
    // frame that has come, in the order they came.
    void Pump(std::uint32_t timeoutMs);
    void Route(std::span<const std::uint8_t> frame, ReadCompletions& completed);
    std::uint32_t SetSharedFilter();
    SourceAddresses CombinedSources() const;
    std::uint32_t SetSharedSources();
    void ReleaseShared();

    Kernel& kernel_;
    PacketDriver& inner_;
    std::mutex lock_;
    std::string sharedName_;
    std::int32_t shared_ = INVALID_ADAPTER;
    ReadSlotRing slots_;                            // on the shared adapter
    std::optional<std::uint32_t> sharedFilter_;     // the packet filter the shared adapter has
    std::optional<SourceAddresses> sharedSources_;  // the sources it was asked to pass
    std::vector<MacAddress> expected_;              // passed whichever runs are open
    bool everySource_ = false;                      // PassEverySource
    SharedQuestion question_;                       // RouteSharedAnswers; empty: by source only
    bool pumping_ = false;  // the shared adapter's slots stay while the pump may touch them
    std::map<std::int32_t, Logical> logical_;
    std::int32_t nextHandle_ = 1;
    std::vector<std::unique_ptr<DeviceView>> views_;
};

}  // namespace tarvik
