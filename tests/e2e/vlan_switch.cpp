// A managed switch for end-to-end tests, in one network namespace: one trunk port that carries
// 802.1Q-tagged frames and access ports of one VLAN each, untagged. A frame from an access port
// goes out on the trunk tagged with the port's VLAN id; a tagged frame from the trunk goes out,
// untagged, on the access port of its VLAN and nowhere else. Untagged frames on the trunk and
// frames of a VLAN without a port are dropped.
//
//   vlan_switch TRUNK ACCESS:VID...
//
// Prints "ready" once every port is open; on SIGTERM or SIGINT prints one line per port
// ("vlan VID to-access N to-trunk M undelivered K": K frames of its VLAN could not go out on
// it, as while the port is down, its cable pulled), where the trunk's tags were found ("tags
// aux N frame M") and the frames dropped, of no VLAN with a port or tagged on an access port
// ("dropped N"), and exits 0.
//
// A port taken down and up again while the switch runs stays in use: the kernel reports the
// down once, as an error on its socket, and hands it frames again once it is up.
//
// The kernel hands a received tag either in the frame or, having taken it off, in the packet's
// auxiliary data (PACKET_AUXDATA); both are read.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "packet_socket.h"

namespace {

using tarvik::e2e::PacketSocket;

constexpr const char* PROGRAM = "vlan_switch";
constexpr std::size_t TAG_OFFSET = 12;
constexpr std::size_t TAG_BYTES = 4;
constexpr std::size_t SHORTEST_TAGGED = 64;
constexpr std::uint16_t VID_MASK = 0x0FFF;

struct Port {
    std::string Name;
    std::uint16_t Vid = 0;  // 0: the trunk
    std::unique_ptr<PacketSocket> Socket;
    unsigned long long ToAccess = 0;
    unsigned long long ToTrunk = 0;
    unsigned long long Undelivered = 0;
};

bool Open(Port& port)
{
    port.Socket = std::make_unique<PacketSocket>(PROGRAM, port.Name,
                                                 PacketSocket::Use::SendAndReceive);
    if (!port.Socket->ok()) {
        return false;
    }
    const int on = 1;
    if (::setsockopt(port.Socket->fd(), SOL_PACKET, PACKET_AUXDATA, &on, sizeof on) != 0) {
        std::perror("vlan_switch: PACKET_AUXDATA");
        return false;
    }
    return true;
}

// One received frame: its bytes as they came and the tag the kernel kept beside them.
struct Received {
    std::vector<std::uint8_t> Bytes;
    std::optional<std::uint16_t> AuxVid;
    bool Outgoing = false;
};

// The frame is read into space, kept from frame to frame: a frame is a few hundred bytes, and
// clearing room for the largest one for each took a third of the switch's time.
std::optional<Received> ReceiveOne(int fd, std::vector<std::uint8_t>& space)
{
    Received frame;
    sockaddr_ll from{};
    iovec io{space.data(), space.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
    if (got < 0) {
        return std::nullopt;
    }
    frame.Bytes.assign(space.begin(), space.begin() + got);
    frame.Outgoing = from.sll_pkttype == PACKET_OUTGOING;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA) {
            continue;
        }
        tpacket_auxdata aux{};
        std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
        if ((aux.tp_status & TP_STATUS_VLAN_VALID) != 0) {
            frame.AuxVid = static_cast<std::uint16_t>(aux.tp_vlan_tci & VID_MASK);
        }
    }
    return frame;
}

bool Send(Port& port, const std::vector<std::uint8_t>& frame)
{
    return ::send(port.Socket->fd(), frame.data(), frame.size(), 0) ==
           static_cast<ssize_t>(frame.size());
}

// The VLAN a frame from the trunk belongs to, and the frame untagged; nothing for an untagged
// one.
std::optional<std::uint16_t> Untag(Received& frame, unsigned long long& inAux,
                                   unsigned long long& inFrame)
{
    if (frame.AuxVid) {
        ++inAux;
        return frame.AuxVid;
    }
    std::vector<std::uint8_t>& bytes = frame.Bytes;
    if (bytes.size() < TAG_OFFSET + TAG_BYTES || bytes[TAG_OFFSET] != 0x81 ||
        bytes[TAG_OFFSET + 1] != 0x00) {
        return std::nullopt;
    }
    const auto vid =
        static_cast<std::uint16_t>((bytes[TAG_OFFSET + 2] << 8 | bytes[TAG_OFFSET + 3]) & VID_MASK);
    bytes.erase(bytes.begin() + TAG_OFFSET, bytes.begin() + TAG_OFFSET + TAG_BYTES);
    ++inFrame;
    return vid;
}

std::vector<std::uint8_t> Tag(const std::vector<std::uint8_t>& frame, std::uint16_t vid)
{
    std::vector<std::uint8_t> tagged(frame.begin(), frame.begin() + TAG_OFFSET);
    tagged.insert(tagged.end(), {0x81, 0x00, static_cast<std::uint8_t>(vid >> 8),
                                 static_cast<std::uint8_t>(vid & 0xFF)});
    tagged.insert(tagged.end(), frame.begin() + TAG_OFFSET, frame.end());
    if (tagged.size() < SHORTEST_TAGGED) {
        tagged.resize(SHORTEST_TAGGED, 0);
    }
    return tagged;
}

int Usage()
{
    std::fprintf(stderr, "usage: vlan_switch TRUNK ACCESS:VID...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    std::vector<Port> ports(static_cast<std::size_t>(argc - 1));
    ports[0].Name = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string spec = argv[i];
        const std::size_t colon = spec.find(':');
        const int vid = colon == std::string::npos ? 0 : std::atoi(spec.c_str() + colon + 1);
        if (vid < 1 || vid > 4094) {
            return Usage();
        }
        ports[static_cast<std::size_t>(i - 1)].Name = spec.substr(0, colon);
        ports[static_cast<std::size_t>(i - 1)].Vid = static_cast<std::uint16_t>(vid);
    }
    for (Port& port : ports) {
        if (!Open(port)) {
            return 1;
        }
    }

    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) {
        return 1;
    }
    const int signals = signalfd(-1, &stops, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("vlan_switch: signalfd");
        return 1;
    }

    std::vector<pollfd> watched;
    for (const Port& port : ports) {
        watched.push_back({port.Socket->fd(), POLLIN, 0});
    }
    watched.push_back({signals, POLLIN, 0});
    std::printf("ready\n");
    std::fflush(stdout);

    unsigned long long dropped = 0;
    unsigned long long tagsInAux = 0;
    unsigned long long tagsInFrame = 0;
    std::vector<std::uint8_t> space(65536);
    bool running = true;
    while (running) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("vlan_switch: poll");
            return 1;
        }
        if (watched.back().revents != 0) {
            running = false;
        }
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (watched[i].revents == 0) {
                continue;
            }
            while (std::optional<Received> frame = ReceiveOne(ports[i].Socket->fd(), space)) {
                if (frame->Outgoing) {
                    continue;  // what this program sent on the port
                }
                if (i == 0) {
                    const std::optional<std::uint16_t> vid = Untag(*frame, tagsInAux, tagsInFrame);
                    const auto access = std::find_if(ports.begin() + 1, ports.end(),
                                                     [&](const Port& p) { return p.Vid == vid; });
                    if (!vid || access == ports.end()) {
                        ++dropped;
                    } else if (!Send(*access, frame->Bytes)) {
                        ++access->Undelivered;
                    } else {
                        ++access->ToAccess;
                    }
                } else if (frame->AuxVid || !Send(ports[0], Tag(frame->Bytes, ports[i].Vid))) {
                    ++dropped;  // a tagged frame has no business on an access port
                } else {
                    ++ports[i].ToTrunk;
                }
            }
        }
    }
    for (std::size_t i = 1; i < ports.size(); ++i) {
        std::printf("vlan %u to-access %llu to-trunk %llu undelivered %llu\n", ports[i].Vid,
                    ports[i].ToAccess, ports[i].ToTrunk, ports[i].Undelivered);
    }
    std::printf("tags aux %llu frame %llu\n", tagsInAux, tagsInFrame);
    std::printf("dropped %llu\n", dropped);
    ::close(signals);
    return 0;
}
