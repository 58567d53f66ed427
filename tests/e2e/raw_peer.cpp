// The far end of the link in end-to-end tests: a raw packet socket on one interface that
// captures the frames another station sends, or sends frames given in hex.
//
//   raw_peer IFNAME capture SOURCE_MAC COUNT TIMEOUT_MS
//       prints "ready", then one line of lower-case hex per received frame whose source is
//       SOURCE_MAC, until COUNT frames came (exit 0) or the time ran out (exit 2).
//   raw_peer IFNAME send HEX...
//       sends each frame in order (exit 0 when all went out whole).
//   raw_peer IFNAME burst DESTINATION_MAC COUNT
//       sends COUNT 60-byte frames to DESTINATION_MAC as fast as the socket takes them, each
//       with type 0x88B5 and its number (big-endian, 4 bytes) after the header.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "hex_text.h"
#include "packet_socket.h"

namespace {

using tarvik::e2e::Bytes;
using tarvik::e2e::Hex;
using tarvik::e2e::PacketSocket;
using tarvik::e2e::ParseHex;

// Sends one frame, trying again while the device queue is full for a moment in a burst.
bool Send(const PacketSocket& socket, const Bytes& frame)
{
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = socket.index();
    address.sll_halen = ETH_ALEN;
    std::memcpy(address.sll_addr, frame.data(), std::min<std::size_t>(frame.size(), 6));
    for (;;) {
        const ssize_t sent = ::sendto(socket.fd(), frame.data(), frame.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (sent == static_cast<ssize_t>(frame.size())) {
            return true;
        }
        if (sent < 0 && (errno == ENOBUFS || errno == EAGAIN)) {
            ::usleep(100);
            continue;
        }
        std::perror("raw_peer: sendto");
        return false;
    }
}
int Capture(const PacketSocket& socket, const Bytes& source, long count, long timeoutMs)
{
    std::printf("ready\n");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    long captured = 0;
    std::array<std::uint8_t, 65536> frame{};
    while (captured < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            std::fprintf(stderr, "raw_peer: %ld of %ld frames before the time ran out\n", captured,
                         count);
            return 2;
        }
        pollfd watched{socket.fd(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(socket.fd(), frame.data(), frame.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 14 || from.sll_pkttype == PACKET_OUTGOING ||
            std::memcmp(frame.data() + 6, source.data(), 6) != 0) {
            continue;
        }
        std::printf("%s\n", Hex(frame.data(), static_cast<std::size_t>(length)).c_str());
        std::fflush(stdout);
        ++captured;
    }
    return 0;
}

int Burst(const PacketSocket& socket, const Bytes& destination, long count)
{
    const auto own = socket.Address();
    if (!own) {
        std::perror("raw_peer: SIOCGIFHWADDR");
        return 1;
    }
    Bytes frame(60, 0);
    std::memcpy(frame.data(), destination.data(), 6);
    std::memcpy(frame.data() + 6, own->data(), 6);
    frame[12] = 0x88;
    frame[13] = 0xB5;
    for (long i = 0; i < count; ++i) {
        const auto number = static_cast<std::uint32_t>(i);
        frame[14] = static_cast<std::uint8_t>(number >> 24);
        frame[15] = static_cast<std::uint8_t>(number >> 16);
        frame[16] = static_cast<std::uint8_t>(number >> 8);
        frame[17] = static_cast<std::uint8_t>(number);
        if (!Send(socket, frame)) {
            return 1;
        }
    }
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: raw_peer IFNAME capture SOURCE_MAC COUNT TIMEOUT_MS\n"
                         "       raw_peer IFNAME send HEX...\n"
                         "       raw_peer IFNAME burst DESTINATION_MAC COUNT\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    const char* interfaceName = argv[1];
    const std::string command = argv[2];
    PacketSocket socket("raw_peer", interfaceName, PacketSocket::Use::SendAndReceive);
    if (!socket.ok()) {
        return 1;
    }
    // Room for a whole burst of frames captured before they are read.
    const int buffer = 8 * 1024 * 1024;
    ::setsockopt(socket.fd(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    if (command == "capture" && argc == 6) {
        const auto source = ParseHex(argv[3]);
        if (!source || source->size() != 6) {
            return Usage();
        }
        return Capture(socket, *source, std::atol(argv[4]), std::atol(argv[5]));
    }
    if (command == "send" && argc >= 4) {
        for (int i = 3; i < argc; ++i) {
            const auto frame = ParseHex(argv[i]);
            if (!frame || frame->size() < 14) {
                std::fprintf(stderr, "raw_peer: not a frame: %s\n", argv[i]);
                return 64;
            }
            if (!Send(socket, *frame)) {
                return 1;
            }
        }
        return 0;
    }
    if (command == "burst" && argc == 5) {
        const auto destination = ParseHex(argv[3]);
        if (!destination || destination->size() != 6) {
            return Usage();
        }
        return Burst(socket, *destination, std::atol(argv[4]));
    }
    return Usage();
}
