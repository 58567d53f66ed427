#pragma once
// The binding to the packet driver: the one open adapter, 64 receive requests kept posted on
// it (fewer for a device's run on a shared adapter), and the operations the protocol sends and
// receives through. One Binding per run; it
// tears the adapter down when destroyed (Close).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/capture/frame_trace.h"
#include "platform/capture/packet_driver.h"
#include "platform/capture/posted_reads.h"
#include "platform/kernel/kernel.h"

namespace tarvik {

inline constexpr std::size_t READ_SLOT_COUNT = 64;
// The pause after each frame sent: what devices are known to keep up with. A batch of devices
// that answer faster may be given a shorter one (down to none, lockstep with the replies).
inline constexpr std::uint32_t SEND_PAUSE_MS = 20;
inline constexpr std::uint32_t RECEIVE_WAIT_MS = 10;

// SendFrame results.
inline constexpr int SEND_OK = 0;
inline constexpr int SEND_FAILED = 1;
inline constexpr int SEND_EVENT_NOT_CREATED = 8;
inline constexpr int SEND_EVENT_NOT_RESET = 9;

// CheckMedium results.
inline constexpr int MEDIUM_802_3 = 0;
inline constexpr int MEDIUM_OTHER = 1;
inline constexpr int MEDIUM_EVENT_FAILED = 6;  // the request's event could not be reset
inline constexpr int MEDIUM_QUERY_FAILED = 7;

// OpenRequestEvent results.
inline constexpr int REQUEST_EVENT_OPEN = 0;
inline constexpr int REQUEST_EVENT_NO_ADAPTER = 1;
inline constexpr int REQUEST_EVENT_NOT_CREATED = 2;  // the adapter has been closed

// StartReception results.
inline constexpr int RECEPTION_STARTED = 0;
inline constexpr int RECEPTION_NO_ADAPTER = 1;
inline constexpr int RECEPTION_NO_SLOTS = 3;  // the read slots or their events
inline constexpr int RECEPTION_FILTER_REFUSED = 4;

// QueryStationAddress results.
inline constexpr int STATION_ADDRESS_OK = 0;
inline constexpr int STATION_ADDRESS_FAILED = 2;

class Binding {
public:
    Binding(Kernel& kernel, PacketDriver& driver, std::uint32_t sendPauseMs = SEND_PAUSE_MS);
    ~Binding();
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    Kernel& kernel() { return kernel_; }
    PacketDriver& driver() { return driver_; }
    std::uint32_t SendPause() const { return sendPauseMs_; }
    void SetSendPause(std::uint32_t milliseconds) { sendPauseMs_ = milliseconds; }

    // --- for the protocol ---
    // 0 sent (after the send pause, 20 ms unless set otherwise), 1 no adapter or the driver failed,
    // 8 or 9 event failures.
    int SendFrame(const std::uint8_t* frame, std::uint32_t length);
    // Waits at most 10 ms for a received frame, lowest completed slot first, and copies it
    // into destination, never more than capacity bytes. Returns the count copied, 0 when no
    // frame came (or the wait failed), 1 when the slot's event could not be reset.
    std::uint32_t WaitFrame(std::uint8_t* destination, std::size_t capacity);
    // STATION_ADDRESS_OK with the adapter's 6-byte address in destination, or
    // STATION_ADDRESS_FAILED (destination untouched).
    int QueryStationAddress(std::uint8_t* destination);

    // --- set-up and tear-down ---
    // Opens the named adapter through the driver and keeps its handle (-1 on failure).
    std::int32_t OpenAdapter(const char* name);
    int CheckMedium();       // MEDIUM_*
    int OpenRequestEvent();  // REQUEST_EVENT_*
    int StartReception();    // RECEPTION_*
    void StopReception();
    void CloseRequestEvent();
    void CloseAdapter();
    // The whole teardown, in its order: reception stopped, request event and adapter closed.
    // The binding may open an adapter again afterwards.
    void Close();

    bool SetPacketFilter(std::uint32_t filter);
    bool EnablePacketFilter();
    // The sources the driver passes frames up from follow what the binding sends: every
    // source after a frame to a group address (discovery), only that station after a frame to
    // one (a request to a device). Asked with OID_TARVIK_SOURCE_ADDRESSES with the first
    // frame and whenever the answer changes; a driver that refuses it is not asked again.
    // Until the first frame the driver passes what it passes by itself. The protocol still
    // judges every frame's source.
    SourceAddresses AdmittedSources() const { return admitted_.value_or(std::nullopt); }

    // From now on every frame that goes out and every frame handed up is also recorded there
    // (nothing when null). The trace outlives the binding's use of it.
    void SetTrace(FrameTrace* trace) { trace_ = trace; }

    // --- state, readable for tests and diagnostics ---
    std::int32_t AdapterHandle = INVALID_ADAPTER;
    std::uint32_t MediumInUse = 0;
    bool MediumVerified = false;
    EventHandle RequestEvent = NO_EVENT;

    // How many reads StartReception posts: READ_SLOT_COUNT, or fewer for a run whose frames come
    // one at a time (a device's run on a shared adapter). Set before reception starts.
    void SetReadSlotCount(std::size_t count)
    {
        slotCount_ = std::clamp<std::size_t>(count, 1, READ_SLOT_COUNT);
    }

    bool ReceptionStarted() const { return slots_.Allocated(); }
    const EventHandle* EventTable() const { return eventTable_; }
    ReadSlot* Slots() { return slots_.Allocated() ? &slots_.Slot(0) : nullptr; }

private:
    bool QueryCurrentAddress(std::uint8_t* destination);
    void AdmitRepliesTo(const std::uint8_t* destination);
    void AdmitSources(const SourceAddresses& sources);
    void ReleaseReadSlots();

    Kernel& kernel_;
    PacketDriver& driver_;
    std::uint32_t sendPauseMs_;
    Overlapped sharedRequest_{};
    std::uint8_t addressBuffer_[32] = {};
    ReadSlotRing slots_;
    EventHandle eventTable_[READ_SLOT_COUNT] = {};
    std::size_t slotCount_ = READ_SLOT_COUNT;
    FrameTrace* trace_ = nullptr;
    std::optional<SourceAddresses> admitted_;  // what the driver was last asked to pass up
    bool sourcesRefused_ = false;
};

}  // namespace tarvik
