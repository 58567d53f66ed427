#pragma once
// The packet driver for real Linux interfaces, over libpcap. "\Device\eth0" opens eth0. Each
// open adapter hands its capture to the real-time Kernel to watch: a thread waiting for events
// reads the frames that arrive, completes the posted reads in the order they were posted and
// signals their events, so a reply wakes the thread that waits for it and no other. The binding's
// own thread makes every other call. Opening an interface needs CAP_NET_RAW.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/formats/mac_address.h"
#include "platform/capture/packet_driver.h"
#include "platform/kernel/watching_kernel.h"

namespace tarvik {

// The socket's receive buffer: a burst of a few thousand short frames fits in it.
inline constexpr int PCAP_CAPTURE_BUFFER_BYTES = 8 * 1024 * 1024;
// Larger than the longest Ethernet frame, so nothing a slot can hold is cut.
inline constexpr int PCAP_SNAP_LENGTH = 1600;

// The interface named by an adapter name, or empty when the name is not of that form.
std::string InterfaceOfAdapterName(const char* name);

// Whether the system has an interface of that name, up or not.
bool InterfaceExists(const std::string& interfaceName);

// Asks the system for an interface's hardware address. Every frame sent asks, so what it needs
// for that is kept open: on Linux a socket for the ioctl, asked each time (the address can be
// changed while a capture runs); on Windows the IP Helper API's answer, asked at the open.
class InterfaceAddressProbe {
public:
    explicit InterfaceAddressProbe(std::string interfaceName);
    ~InterfaceAddressProbe();
    InterfaceAddressProbe(const InterfaceAddressProbe&) = delete;
    InterfaceAddressProbe& operator=(const InterfaceAddressProbe&) = delete;

    // Nothing for an interface without an Ethernet address.
    std::optional<MacAddress> Current() const;

private:
    const std::string interface_;
    int socket_ = -1;
    std::optional<MacAddress> known_;
};

// The BPF program text for an NDIS packet filter on a station with that address: 0 passes
// nothing, DIRECTED the frames to the address, DIRECTED|BROADCAST those and broadcasts; of
// these, only the frames the admission takes, and only from the sources given (every source
// when none are). Nothing for a filter the driver does not offer, or DIRECTED on a station
// without an address.
std::optional<std::string> PacketFilterProgram(std::uint32_t packetFilter,
                                               const std::optional<MacAddress>& station,
                                               const FrameAdmission& admission = {},
                                               const SourceAddresses& sources = std::nullopt);

// Where an adapter's frames come from and go to: a libpcap capture on the interface, or what
// a test hands in. Once the adapter is open, it makes every call under its capture lock.
class CaptureSource {
public:
    using FrameSink = std::function<void(std::span<const std::uint8_t>)>;

    virtual ~CaptureSource() = default;
    // Readable when frames have come (or when the source breaks).
    virtual int SelectableFd() = 0;
    // libpcap's link type (DLT_EN10MB for Ethernet).
    virtual int LinkType() = 0;
    // Passes up from now on only the frames the BPF program (libpcap's syntax) takes.
    virtual bool SetFilter(const std::string& program) = 0;
    // Where frames can only be had by waiting for them (Windows), waits a moment for them,
    // outside the capture lock; the drain calls it before Dispatch.
    virtual void AwaitFrames() {}
    // Ends a wait in AwaitFrames, and every later one, at once: the source is about to go.
    virtual void StopWaiting() {}
    // Hands every frame that has come to sink, in order, without blocking; false once the
    // source is broken or gone.
    virtual bool Dispatch(const FrameSink& sink) = 0;
    virtual bool Inject(const std::uint8_t* frame, std::size_t length) = 0;
    // Why the last call failed, in the source's words.
    virtual std::string Error() = 0;
};

// Opens the source of an interface's frames, in promiscuous mode when asked; nothing (and why
// in error) when it cannot.
using CaptureOpener = std::function<std::unique_ptr<CaptureSource>(
    const std::string& interfaceName, bool promiscuous, std::string& error)>;

// The libpcap capture of a real interface, in immediate mode, inbound frames only.
std::unique_ptr<CaptureSource> OpenPcapCapture(const std::string& interfaceName, bool promiscuous,
                                               std::string& error);

// Whether a failed open's reason tells the user what to do. On Windows it does (the capture
// library missing or refused, Npcap kept for administrators), and nothing else would; on Linux
// libpcap's reason adds nothing to the hint about raw network access.
bool CaptureOpenErrorsGuideUsers();

class PcapPacketDriver final : public InterfacePacketDriver {
public:
    // Adapters answer for their interface's own address. Given one of its own, a driver's
    // adapters take it instead, as a card with a locally administered address does: the
    // station address query reports it, DIRECTED means frames to it, and the interface runs
    // promiscuously so that such frames reach the capture at all. Several emulated devices,
    // each with a driver of its own, share one end of a link this way.
    // Captures come from opener (libpcap's when none is given).
    explicit PcapPacketDriver(WatchingKernel& kernel,
                              std::optional<MacAddress> stationAddress = std::nullopt,
                              CaptureOpener opener = {});
    ~PcapPacketDriver() override;
    PcapPacketDriver(const PcapPacketDriver&) = delete;
    PcapPacketDriver& operator=(const PcapPacketDriver&) = delete;

    std::int32_t OpenAdapter(const char* name) override;
    void CloseAdapter(std::int32_t adapter) override;
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override;
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame, std::uint32_t length,
                             std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override;
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override;

    // Why the last OpenAdapter that failed did so, in libpcap's words where it had any.
    std::string OpenError() override;
    void SetFrameAdmission(FrameAdmission admission) override;
    // A prepared capture needs no right at all to be opened: for a program that must start
    // threads of others before it knows which adapter it will use.
    bool Prepare(const char* name) override;
    void ForgetPrepared() override;

private:
    class Adapter;

    Adapter* Find(std::int32_t adapter);
    FrameAdmission Admission();

    WatchingKernel& kernel_;
    const std::optional<MacAddress> stationAddress_;
    const CaptureOpener opener_;
    FrameAdmission admission_;
    // Only the binding's thread opens and closes adapters; the lock keeps a second user
    // of the same driver from corrupting the table.
    std::mutex tableLock_;
    std::map<std::string, std::unique_ptr<Adapter>> prepared_;  // by interface name
    std::map<std::int32_t, std::unique_ptr<Adapter>> adapters_;
    std::int32_t nextHandle_ = 1;
    std::string openError_;
};

}  // namespace tarvik
