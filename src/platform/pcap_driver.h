#pragma once
// The packet driver for real Linux interfaces, over libpcap. "\Device\eth0" opens eth0. Each
// open adapter has a receive thread that completes the posted reads in the order they were
// posted and signals their events through the Kernel; the binding's own thread makes every
// other call. Opening an interface needs CAP_NET_RAW.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kernel.h"
#include "platform/mac_address.h"
#include "platform/packet_driver.h"

namespace tarvik {

// Frames kept for reads not yet posted; beyond this the newest are dropped, as an adapter
// with no receive buffers left would drop them.
inline constexpr std::size_t PCAP_PENDING_FRAMES = 4096;
// The socket's receive buffer: a burst of a few thousand short frames fits in it.
inline constexpr int PCAP_KERNEL_BUFFER_BYTES = 8 * 1024 * 1024;
// Larger than the longest Ethernet frame, so nothing a slot can hold is cut.
inline constexpr int PCAP_SNAP_LENGTH = 1600;
// What a send accepts: a whole Ethernet frame without the checksum.
inline constexpr std::uint32_t PCAP_MAX_SEND_BYTES = 1514;

// The prefix of an adapter name; the interface name follows it.
inline constexpr const char* PCAP_ADAPTER_PREFIX = "\\Device\\";

// The interface named by an adapter name, or empty when the name is not of that form.
std::string InterfaceOfAdapterName(const char* name);

class PcapPacketDriver final : public PacketDriver {
public:
    explicit PcapPacketDriver(Kernel& kernel);
    ~PcapPacketDriver() override;
    PcapPacketDriver(const PcapPacketDriver&) = delete;
    PcapPacketDriver& operator=(const PcapPacketDriver&) = delete;

    std::int32_t OpenAdapter(const char* name) override;
    void CloseAdapter(std::int32_t adapter) override;
    std::uint32_t PacketRead(std::int32_t adapter, ReadSlot* slot, std::uint32_t* count,
                             Overlapped* request, std::uint32_t flags) override;
    std::uint32_t PacketSend(std::int32_t adapter, const std::uint8_t* frame,
                             std::uint32_t length, std::uint32_t* count, Overlapped* request,
                             std::uint32_t flags) override;
    std::uint32_t MakeNdisRequest(std::int32_t adapter, RequestRecord* request,
                                  Overlapped* overlapped, std::uint32_t flags) override;

private:
    class Adapter;

    Adapter* Find(std::int32_t adapter);

    Kernel& kernel_;
    // Only the binding's thread opens and closes adapters; the lock keeps a second user
    // of the same driver from corrupting the table.
    std::mutex tableLock_;
    std::map<std::int32_t, std::unique_ptr<Adapter>> adapters_;
    std::int32_t nextHandle_ = 1;
};

}  // namespace tarvik
