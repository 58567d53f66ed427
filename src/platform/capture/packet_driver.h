#pragma once
// The packet-driver library contract: the five calls through which the binding reaches one
// network adapter, and the records it hands them. The library writes received frames into
// posted ReadSlots and signals the slot's event; sends and requests are complete on return.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/formats/mac_address.h"
#include "platform/kernel/kernel.h"

namespace tarvik {

// The overlapped record of a posted read or of a request; only its event is used.
struct Overlapped {
    std::uint32_t Internal = 0;
    std::uint32_t InternalHigh = 0;
    std::uint32_t Offset = 0;
    std::uint32_t OffsetHigh = 0;
    EventHandle Event = NO_EVENT;
};
static_assert(sizeof(Overlapped) == 20);

// The longest frame a send takes and a driver hands up: a whole Ethernet frame without its
// checksum.
inline constexpr std::uint32_t MAX_FRAME_BYTES = 1514;

// An adapter's name is this prefix and the name the system gives the card (its service name on
// the NT family, the interface's name on Linux): \Device\eth0.
inline constexpr std::string_view ADAPTER_NAME_PREFIX = "\\Device\\";

// The adapter name of a card the system knows by interfaceName ("eth0" -> "\\Device\\eth0").
inline std::string AdapterNameOf(std::string_view interfaceName)
{
    return std::string(ADAPTER_NAME_PREFIX) + std::string(interfaceName);
}

// The card's own name in an adapter name ("\\Device\\eth0" -> "eth0"); nothing when the name
// does not start with the prefix. Whether the rest names a card is the driver's to judge.
inline std::optional<std::string_view> InterfaceNameOf(std::string_view adapterName)
{
    if (!adapterName.starts_with(ADAPTER_NAME_PREFIX)) {
        return std::nullopt;
    }
    return adapterName.substr(ADAPTER_NAME_PREFIX.size());
}

inline constexpr std::size_t READ_SLOT_FRAME_BYTES = 1532;

// One receive request, handed to the library whole.
struct ReadSlot {
    std::uint8_t Library[32];   // the library's; never touched by the program
    std::uint32_t FrameLength;  // written by the library when the read completes
    std::uint8_t FrameData[READ_SLOT_FRAME_BYTES];
    std::uint32_t CountWord;  // passed with the read; never read
    Overlapped Request;       // its Event is the slot's own event
};
static_assert(sizeof(ReadSlot) == 1592);
static_assert(offsetof(ReadSlot, FrameLength) == 32);
static_assert(offsetof(ReadSlot, FrameData) == 36);
static_assert(offsetof(ReadSlot, CountWord) == 1568);
static_assert(offsetof(ReadSlot, Request) == 1572);

inline constexpr std::uint32_t NDIS_REQUEST_QUERY_INFORMATION = 0;
inline constexpr std::uint32_t NDIS_REQUEST_SET_INFORMATION = 1;

inline constexpr std::uint32_t OID_GEN_MEDIA_IN_USE = 0x00010104;
inline constexpr std::uint32_t OID_GEN_CURRENT_PACKET_FILTER = 0x0001010E;
inline constexpr std::uint32_t OID_802_3_CURRENT_ADDRESS = 0x01010102;
inline constexpr std::uint32_t OID_802_5_CURRENT_ADDRESS = 0x02010102;
inline constexpr std::uint32_t OID_FDDI_LONG_CURRENT_ADDR = 0x03010102;
inline constexpr std::uint32_t OID_WAN_CURRENT_ADDRESS = 0x04010102;
inline constexpr std::uint32_t OID_LTALK_CURRENT_NODE_ID = 0x05010102;
inline constexpr std::uint32_t OID_ARCNET_CURRENT_ADDRESS = 0x06010102;
inline constexpr std::uint32_t OID_ATM_CURRENT_ADDRESS = 0x08010105;
inline constexpr std::uint32_t OID_WW_GEN_CURRENT_ADDRESS = 0x0901010C;

// This program's own request (NDIS leaves the OIDs whose high byte is 0xFF to each driver's
// maker): set, with a buffer of 6-byte station addresses, it passes up from then on only the
// frames from those sources, as well as the packet filter passes them. The broadcast address,
// which no station sends from, stands for every source, as an adapter passes before it is
// asked; an empty buffer admits none. At most SOURCE_ADDRESSES_MAX addresses. A driver that
// does not know the request refuses it and goes on passing every source.
inline constexpr std::uint32_t OID_TARVIK_SOURCE_ADDRESSES = 0xFF545601;
inline constexpr std::size_t SOURCE_ADDRESSES_MAX = 64;

inline constexpr std::uint32_t NDIS_PACKET_TYPE_DIRECTED = 0x00000001;
inline constexpr std::uint32_t NDIS_PACKET_TYPE_BROADCAST = 0x00000008;

inline constexpr std::uint32_t NDIS_MEDIUM_802_3 = 0;
inline constexpr std::uint32_t NDIS_MEDIUM_802_5 = 1;
inline constexpr std::uint32_t NDIS_MEDIUM_LOCALTALK = 4;
inline constexpr std::uint32_t NDIS_MEDIUM_DIX = 5;

// An NDIS request; built fresh for each call. The program sets only the named fields.
struct RequestRecord {
    std::uint8_t Library[20] = {};
    std::uint32_t RequestType = 0;
    std::uint32_t Oid = 0;
    void* InformationBuffer = nullptr;
    std::uint32_t InformationBufferLength = 0;
    std::uint32_t BytesTransferred = 0;
    std::uint32_t BytesNeeded = 0;
    std::uint8_t LibraryTail[512] = {};
};

// A request for one OID over the caller's buffer, every other field cleared.
inline RequestRecord NdisRequest(std::uint32_t type, std::uint32_t oid, void* buffer,
                                 std::uint32_t length)
{
    RequestRecord request;
    request.RequestType = type;
    request.Oid = oid;
    request.InformationBuffer = buffer;
    request.InformationBufferLength = length;
    return request;
}

// Which sources an adapter passes up: every one (nothing), or those listed (none when empty).
using SourceAddresses = std::optional<std::vector<MacAddress>>;

// The buffer of an OID_TARVIK_SOURCE_ADDRESSES request for the sources.
inline std::vector<std::uint8_t> SourceAddressBytes(const SourceAddresses& sources)
{
    if (!sources) {
        return {BROADCAST_ADDRESS.begin(), BROADCAST_ADDRESS.end()};
    }
    std::vector<std::uint8_t> bytes;
    for (const MacAddress& source : *sources) {
        bytes.insert(bytes.end(), source.begin(), source.end());
    }
    return bytes;
}

// The sources such a request names; false when its buffer is not a whole number of addresses,
// or names more than SOURCE_ADDRESSES_MAX.
inline bool ReadSourceAddresses(const RequestRecord& request, SourceAddresses& sources)
{
    const std::size_t length = request.InformationBufferLength;
    const auto* bytes = static_cast<const std::uint8_t*>(request.InformationBuffer);
    const std::size_t size = std::tuple_size_v<MacAddress>;
    if (length % size != 0 || length / size > SOURCE_ADDRESSES_MAX ||
        (length > 0 && bytes == nullptr)) {
        return false;
    }
    std::vector<MacAddress> listed(length / size);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        std::copy_n(bytes + i * size, size, listed[i].begin());
        if (listed[i] == BROADCAST_ADDRESS) {
            sources.reset();
            return true;
        }
    }
    sources = std::move(listed);
    return true;
}

inline constexpr std::int32_t INVALID_ADAPTER = -1;

// What a read, send or request returns. Callers take any value but DRIVER_OK as a failure.
inline constexpr std::uint32_t DRIVER_OK = 0;
inline constexpr std::uint32_t DRIVER_FAILED = 1;

// The last argument of a call: a read is posted and returns at once, to complete later; a send
// or a request is complete when the call returns.
inline constexpr std::uint32_t PACKET_CALL_POSTED = 0;
inline constexpr std::uint32_t PACKET_CALL_COMPLETE = 1;

class PacketDriver {
public:
    virtual ~PacketDriver() = default;

    // A handle for the named adapter ("\Device\eth0"), or INVALID_ADAPTER.
    virtual std::int32_t OpenAdapter(const char* name) = 0;
    // Closes the adapter; reads still posted on it are abandoned and never completed.
    virtual void CloseAdapter(std::int32_t adapter) = 0;
    // Posts a read into the slot; returns at once. When a frame lands the library writes
    // FrameLength and FrameData and signals request->Event. Posted reads complete in the
    // order they were posted.
    virtual std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                                     Overlapped* request, std::uint32_t flags) = 0;
    // Sends one frame; DRIVER_OK when it went out.
    virtual std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame,
                                     std::uint32_t length, std::uint32_t* count,
                                     Overlapped* request, std::uint32_t flags) = 0;
    // Queries or sets one NDIS object; DRIVER_OK when done (a query's answer is then in the
    // buffer).
    virtual std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                          Overlapped* overlapped, std::uint32_t flags) = 0;
};

// Asks an adapter to pass up frames from the sources alone (OID_TARVIK_SOURCE_ADDRESSES);
// DRIVER_OK when it will.
inline std::uint32_t AskSourceAddresses(PacketDriver& driver, std::int32_t adapter,
                                        const SourceAddresses& sources, Overlapped* overlapped)
{
    std::vector<std::uint8_t> bytes = SourceAddressBytes(sources);
    RequestRecord request = NdisRequest(NDIS_REQUEST_SET_INFORMATION, OID_TARVIK_SOURCE_ADDRESSES,
                                        bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return driver.MakeNdisRequest(adapter, &request, overlapped, PACKET_CALL_COMPLETE);
}

// A packet driver in front of another: every call goes through to it, but for those a
// subclass takes over (to stop sends, to route, to count or record in tests).
class ForwardingPacketDriver : public PacketDriver {
public:
    explicit ForwardingPacketDriver(PacketDriver& inner) : inner_(inner) {}

    std::int32_t OpenAdapter(const char* name) override { return inner_.OpenAdapter(name); }
    void CloseAdapter(std::int32_t adapter) override { inner_.CloseAdapter(adapter); }
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override
    {
        return inner_.PacketRead(adapter, slot, count, request, flags);
    }
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override
    {
        return inner_.PacketSend(adapter, frame, length, count, request, flags);
    }
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override
    {
        return inner_.MakeNdisRequest(adapter, request, overlapped, flags);
    }

protected:
    PacketDriver& Inner() { return inner_; }

private:
    PacketDriver& inner_;
};

// Which frames a program can use at all, so that the OS drops the others before they wake
// the receive path: on a busy workstation most frames to the station's address are its IP
// traffic. Empty admits every frame, from every source, whatever sources the binding names
// (for measuring what the narrowing saves).
struct FrameAdmission {
    // The values bytes 12-13 of a usable frame hold, read as the wire carries them (high byte
    // first, as BPF reads them): an EtherType, or a length field.
    std::vector<std::uint16_t> TypeFields;
    std::uint32_t MinimumLength = 0;  // in bytes, from the destination address on, untagged
    // On a trunk the program tags its own frames on (IFACE.VID): only frames of that VLAN wake
    // it, whatever else the admission says; 0 on an interface of its own. The driver sets it.
    std::uint16_t VlanId = 0;

    bool Empty() const { return TypeFields.empty() && MinimumLength == 0; }
};

// The packet driver of the machine's interfaces.
class InterfacePacketDriver : public PacketDriver {
public:
    // Why the last OpenAdapter that failed did so, in the capture library's words.
    virtual std::string OpenError() = 0;
    // Adapters opened from now on pass up only the frames the admission takes, whatever
    // packet filter the binding sets.
    virtual void SetFrameAdmission(FrameAdmission admission) = 0;
    // Opens the named adapter's capture now, while the program still holds the right to, and
    // keeps it for the first OpenAdapter of that name. False when it cannot be opened.
    virtual bool Prepare(const char* name) = 0;
    // Closes the captures prepared and not opened.
    virtual void ForgetPrepared() = 0;
};

}  // namespace tarvik
