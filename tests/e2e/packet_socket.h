#pragma once
// A raw packet socket bound to one interface, for the test programs that stand in for another
// station on a link (raw_peer, the soak's flooder). Failures are said on stderr, led by the
// program's name, and leave ok() false.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace tarvik::e2e {

class PacketSocket {
public:
    // Receiving binds for every protocol; a socket that only sends binds for none, so no frame
    // is ever queued for it.
    enum class Use { SendAndReceive, SendOnly };

    PacketSocket(const char* program, const std::string& interfaceName, Use use)
        : interface_(interfaceName)
    {
        fd_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
        if (fd_ < 0) {
            Say(program, "socket");
            return;
        }
        index_ = static_cast<int>(if_nametoindex(interfaceName.c_str()));
        if (index_ == 0) {
            Say(program, "interface");
            return;
        }
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = use == Use::SendAndReceive ? htons(ETH_P_ALL) : 0;
        address.sll_ifindex = index_;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Say(program, "bind");
            index_ = 0;
        }
    }
    ~PacketSocket()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PacketSocket(const PacketSocket&) = delete;
    PacketSocket& operator=(const PacketSocket&) = delete;

    bool ok() const { return fd_ >= 0 && index_ != 0; }
    int fd() const { return fd_; }
    int index() const { return index_; }

    // The interface's own address.
    std::optional<std::array<std::uint8_t, 6>> Address() const
    {
        ifreq request{};
        std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", interface_.c_str());
        if (::ioctl(fd_, SIOCGIFHWADDR, &request) != 0) {
            return std::nullopt;
        }
        std::array<std::uint8_t, 6> address{};
        std::memcpy(address.data(), request.ifr_hwaddr.sa_data, address.size());
        return address;
    }

private:
    static void Say(const char* program, const char* what)
    {
        const std::string text = std::string(program) + ": " + what;
        std::perror(text.c_str());
    }

    const std::string interface_;
    int fd_ = -1;
    int index_ = 0;
};

}  // namespace tarvik::e2e
