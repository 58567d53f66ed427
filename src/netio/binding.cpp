#include "netio/binding.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace tarvik {

namespace {

// An event made for one call and closed on every way out of it.
class ScopedEvent {
public:
    explicit ScopedEvent(Kernel& kernel) : kernel_(kernel), event_(kernel.CreateEvent()) {}
    ~ScopedEvent()
    {
        if (event_ != NO_EVENT) {
            kernel_.CloseHandle(event_);
        }
    }
    ScopedEvent(const ScopedEvent&) = delete;
    ScopedEvent& operator=(const ScopedEvent&) = delete;

    EventHandle get() const { return event_; }

private:
    Kernel& kernel_;
    EventHandle event_;
};

std::uint32_t AddressOid(std::uint32_t medium, bool& known)
{
    known = true;
    switch (medium) {
    case 0:
    case 5:
        return OID_802_3_CURRENT_ADDRESS;
    case 1:
        return OID_802_5_CURRENT_ADDRESS;
    case 2:
        return OID_FDDI_LONG_CURRENT_ADDR;
    case 3:
        return OID_WAN_CURRENT_ADDRESS;
    case 4:
        return OID_LTALK_CURRENT_NODE_ID;
    case 6:
    case 7:
        return OID_ARCNET_CURRENT_ADDRESS;
    case 8:
        return OID_ATM_CURRENT_ADDRESS;
    case 9:
        return OID_WW_GEN_CURRENT_ADDRESS;
    default:
        known = false;
        return 0;
    }
}

}  // namespace

Binding::Binding(Kernel& kernel, PacketDriver& driver, std::uint32_t sendPauseMs)
    : kernel_(kernel), driver_(driver), sendPauseMs_(sendPauseMs), slots_(kernel, driver)
{
}

Binding::~Binding()
{
    Close();
}

void Binding::Close()
{
    StopReception();
    CloseRequestEvent();
    CloseAdapter();
}

std::int32_t Binding::OpenAdapter(const char* name)
{
    AdapterHandle = driver_.OpenAdapter(name);
    return AdapterHandle;
}

int Binding::SendFrame(const std::uint8_t* frame, std::uint32_t length)
{
    if (AdapterHandle == INVALID_ADAPTER) {
        return SEND_FAILED;
    }
    if (frame != nullptr && length >= std::tuple_size_v<MacAddress>) {
        AdmitRepliesTo(frame);
    }
    std::uint32_t result = 0;
    {
        ScopedEvent event(kernel_);
        if (event.get() == NO_EVENT) {
            return SEND_EVENT_NOT_CREATED;
        }
        if (!kernel_.ResetEvent(event.get())) {
            return SEND_EVENT_NOT_RESET;
        }
        std::uint32_t count = 0;
        Overlapped request{};
        request.Event = event.get();
        result = driver_.PacketSend(AdapterHandle, frame, length, &count, &request,
                                    PACKET_CALL_COMPLETE);
    }
    if (result != DRIVER_OK) {
        return SEND_FAILED;
    }
    if (trace_ != nullptr) {
        trace_->Record(std::span<const std::uint8_t>(frame, length));
    }
    // Every frame sent costs this pause: at the default the tool never sends more than about
    // 50 a second, which is what slow devices need to keep up.
    kernel_.Sleep(sendPauseMs_);
    return SEND_OK;
}

void Binding::AdmitRepliesTo(const std::uint8_t* destination)
{
    // A frame to a group address (a probe) is answered by stations not known yet; a frame to
    // one station, only by that station. Asked before the frame goes out: the reply may come
    // at once, and a driver that installs a new filter may drop what it had queued.
    SourceAddresses wanted;
    if ((destination[0] & 0x01) == 0) {
        MacAddress station{};
        std::copy_n(destination, station.size(), station.begin());
        wanted = std::vector<MacAddress>{station};
    }
    AdmitSources(wanted);
}

void Binding::AdmitSources(const SourceAddresses& sources)
{
    if (sourcesRefused_ || (admitted_ && *admitted_ == sources)) {
        return;
    }
    sharedRequest_.Event = RequestEvent;
    if (AskSourceAddresses(driver_, AdapterHandle, sources, &sharedRequest_) != DRIVER_OK) {
        // The driver passes every source, and the protocol judges each frame as it always has.
        sourcesRefused_ = true;
        return;
    }
    admitted_ = sources;
}

std::uint32_t Binding::WaitFrame(std::uint8_t* destination, std::size_t capacity)
{
    const std::uint32_t index =
        kernel_.WaitForAny(std::span(eventTable_, slotCount_), RECEIVE_WAIT_MS);
    if (index >= slotCount_ || !slots_.Allocated()) {
        return 0;
    }
    // A delivery longer than the caller's buffer is cut to it rather than written past it.
    const std::span<const std::uint8_t> frame = slots_.Frame(index);
    const std::size_t length = std::min(frame.size(), capacity);
    if (length > 0) {
        std::memcpy(destination, frame.data(), length);
        if (trace_ != nullptr) {
            trace_->Record(std::span<const std::uint8_t>(destination, length));
        }
    }
    if (!kernel_.ResetEvent(eventTable_[index])) {
        return 1;
    }
    slots_.Post(AdapterHandle, index);
    return static_cast<std::uint32_t>(length);
}

int Binding::QueryStationAddress(std::uint8_t* destination)
{
    return QueryCurrentAddress(destination) ? STATION_ADDRESS_OK : STATION_ADDRESS_FAILED;
}

bool Binding::QueryCurrentAddress(std::uint8_t* destination)
{
    if (MediumVerified) {
        MediumInUse = NDIS_MEDIUM_802_3;
    }
    bool known = false;
    const std::uint32_t oid = AddressOid(MediumInUse, known);
    if (!known) {
        return false;
    }
    RequestRecord request =
        NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, oid, addressBuffer_, sizeof addressBuffer_);
    sharedRequest_.Event = RequestEvent;
    if (driver_.MakeNdisRequest(AdapterHandle, &request, &sharedRequest_, PACKET_CALL_COMPLETE) !=
        DRIVER_OK) {
        return false;
    }
    std::memcpy(destination, addressBuffer_, 6);
    return true;
}

bool Binding::SetPacketFilter(std::uint32_t filter)
{
    RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_GEN_CURRENT_PACKET_FILTER,
                                        &filter, sizeof filter);
    sharedRequest_.Event = RequestEvent;
    return driver_.MakeNdisRequest(AdapterHandle, &request, &sharedRequest_,
                                   PACKET_CALL_COMPLETE) == DRIVER_OK;
}

bool Binding::EnablePacketFilter()
{
    if (MediumVerified) {
        MediumInUse = NDIS_MEDIUM_802_3;
    }
    switch (MediumInUse) {
    case NDIS_MEDIUM_802_3:
    case NDIS_MEDIUM_802_5:
    case NDIS_MEDIUM_DIX:
        if (!SetPacketFilter(NDIS_PACKET_TYPE_DIRECTED)) {
            return false;
        }
        return SetPacketFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST);
    case NDIS_MEDIUM_LOCALTALK:
        return SetPacketFilter(NDIS_PACKET_TYPE_DIRECTED | NDIS_PACKET_TYPE_BROADCAST);
    default:
        return false;
    }
}

int Binding::CheckMedium()
{
    MediumInUse = 0xFFFFFFFF;
    ScopedEvent event(kernel_);
    if (!kernel_.ResetEvent(event.get())) {
        return MEDIUM_EVENT_FAILED;
    }
    RequestRecord request = NdisRequest(NDIS_REQUEST_QUERY_INFORMATION, OID_GEN_MEDIA_IN_USE,
                                        &MediumInUse, sizeof MediumInUse);
    Overlapped overlapped{};
    overlapped.Event = event.get();
    if (driver_.MakeNdisRequest(AdapterHandle, &request, &overlapped, PACKET_CALL_COMPLETE) !=
        DRIVER_OK) {
        return MEDIUM_QUERY_FAILED;
    }
    if (MediumInUse != NDIS_MEDIUM_802_3) {
        return MEDIUM_OTHER;
    }
    MediumVerified = true;
    return MEDIUM_802_3;
}

int Binding::OpenRequestEvent()
{
    if (AdapterHandle == INVALID_ADAPTER) {
        return REQUEST_EVENT_NO_ADAPTER;
    }
    CloseRequestEvent();
    RequestEvent = kernel_.CreateEvent();
    sharedRequest_.Event = RequestEvent;
    if (RequestEvent == NO_EVENT) {
        driver_.CloseAdapter(AdapterHandle);
        AdapterHandle = INVALID_ADAPTER;
        return REQUEST_EVENT_NOT_CREATED;
    }
    kernel_.ResetEvent(RequestEvent);
    return REQUEST_EVENT_OPEN;
}

int Binding::StartReception()
{
    if (AdapterHandle == INVALID_ADAPTER) {
        return RECEPTION_NO_ADAPTER;
    }
    if (slots_.Allocated()) {
        return RECEPTION_STARTED;  // already receiving; the posted slots must not be freed under
                                   // the driver
    }
    int result = RECEPTION_NO_SLOTS;
    if (slots_.Allocate(slotCount_)) {
        for (std::size_t i = 0; i < slotCount_; ++i) {
            eventTable_[i] = slots_.Event(i);
        }
        for (std::size_t i = 0; i < slotCount_; ++i) {
            if (!kernel_.ResetEvent(eventTable_[i])) {
                break;
            }
            slots_.Post(AdapterHandle, i);
        }
        if (EnablePacketFilter()) {
            return RECEPTION_STARTED;
        }
        result = RECEPTION_FILTER_REFUSED;
    }
    CloseRequestEvent();
    driver_.CloseAdapter(AdapterHandle);
    AdapterHandle = INVALID_ADAPTER;
    ReleaseReadSlots();
    return result;
}

void Binding::StopReception()
{
    if (slots_.Allocated()) {
        SetPacketFilter(0);
    }
}

void Binding::CloseRequestEvent()
{
    if (RequestEvent != NO_EVENT) {
        kernel_.CloseHandle(RequestEvent);
        RequestEvent = NO_EVENT;
        sharedRequest_.Event = NO_EVENT;
    }
}

void Binding::CloseAdapter()
{
    if (AdapterHandle != INVALID_ADAPTER) {
        driver_.CloseAdapter(AdapterHandle);
        AdapterHandle = INVALID_ADAPTER;
    }
    // An adapter opened again passes what its driver passes until it is asked.
    admitted_.reset();
    sourcesRefused_ = false;
    ReleaseReadSlots();
}

void Binding::ReleaseReadSlots()
{
    if (!slots_.Allocated()) {
        return;
    }
    slots_.Release();
    // The table goes back to all zero, so a later wait on it fails instead of naming a
    // handle that the Kernel may have given to someone else.
    std::fill(std::begin(eventTable_), std::end(eventTable_), NO_EVENT);
}

}  // namespace tarvik
