// Another station on the link that floods one address: a raw packet socket that sends a chosen
// mix of frames at a chosen rate for a chosen time, then says what rate it held.
//
//   flooder IFNAME DESTINATION_MAC|broadcast [options]
//     --mix KIND[,KIND...]   what to send, in equal shares (default garbage):
//         garbage   random bytes of random length (14 to 1514), any type field
//         ordinary  IPv4/UDP and ARP frames, and garbage whose type field is neither 0x0000
//                   nor 0x8888: what a busy workstation's interface sees anyway
//         layout    frames of the upgrade protocol's layout (either type, every opcode, status
//                   and descriptor replies, probes) from sources other than the device
//         stale     replies from the device's own address (--device) that the transfer in
//                   flight must not take: a wrong offset, a segment below the image's code
//                   segment, a random sequence, or a reset or information reply with a
//                   sequence the device never echoes there
//     --rate PPS             frames per second (default 100000)
//     --seconds S            stop after S seconds (default 60); SIGINT or SIGTERM stops earlier
//     --device MAC           the device's address, for stale (default 02:5a:17:00:00:0b)
//     --code-segment HEX     the image's code segment, for stale (default 2340)
//     --image-bytes N        the image's length, for stale (default 1048576)
//     --seed N               for the random choices (default 1)
//   Prints "ready" when it starts sending and, at the end, one line:
//     flooder: sent N frames in T s, R frames/s held (asked P)
//   Exit status 0, or 1 when the socket failed, 64 on a usage error.
//
// Frames are drawn once into a pool and sent in batches through sendmmsg(), so the flooder
// itself costs little beyond the OS's work for each frame.

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"
#include "packet_socket.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Mac = std::array<std::uint8_t, 6>;
using tarvik::e2e::PacketSocket;
using Clock = std::chrono::steady_clock;

constexpr std::size_t POOL_FRAMES = 4096;
constexpr unsigned BATCH = 64;
constexpr std::size_t HEADER_BYTES = 24;

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int)
{
    stopRequested = 1;
}

struct Options {
    std::string Interface;
    Mac Destination{};
    std::vector<std::string> Mix{"garbage"};
    double Rate = 100000;
    double Seconds = 60;
    Mac Device{0x02, 0x5a, 0x17, 0x00, 0x00, 0x0b};
    unsigned CodeSegment = 0x2340;
    unsigned long ImageBytes = 1048576;
    unsigned Seed = 1;
};

bool ParseMac(const std::string& text, Mac& mac)
{
    if (text == "broadcast") {
        mac.fill(0xFF);
        return true;
    }
    const auto bytes = tarvik::e2e::ParseHex(text);
    if (!bytes || bytes->size() != mac.size()) {
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), mac.begin());
    return true;
}

std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

class FrameMaker {
public:
    FrameMaker(const Options& options, const Mac& own)
        : options_(options), own_(own), random_(options.Seed)
    {
    }

    Bytes Make(const std::string& kind)
    {
        if (kind == "garbage") {
            return Garbage(false);
        }
        if (kind == "ordinary") {
            switch (Below(3)) {
            case 0:
                return Ipv4();
            case 1:
                return Arp();
            default:
                return Garbage(true);
            }
        }
        if (kind == "layout") {
            return Layout();
        }
        return Stale();
    }

private:
    std::uint32_t Below(std::uint32_t limit)
    {
        return std::uniform_int_distribution<std::uint32_t>(0, limit - 1)(random_);
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Below(256)); }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Below(65536)); }

    Bytes Start(std::size_t length, const Mac& source)
    {
        Bytes frame(std::max<std::size_t>(length, 14), 0);
        std::memcpy(frame.data(), options_.Destination.data(), 6);
        std::memcpy(frame.data() + 6, source.data(), 6);
        return frame;
    }

    // A unicast, locally administered source that is neither the device nor this station.
    Mac StrangerAddress()
    {
        for (;;) {
            Mac mac{};
            for (auto& b : mac) {
                b = Byte();
            }
            mac[0] = static_cast<std::uint8_t>((mac[0] & 0xFC) | 0x02);
            // Half of them from the vendor block devices use, so they look like devices.
            if (Below(2) == 0) {
                mac[0] = 0x02;
                mac[1] = 0x5a;
                mac[2] = 0x17;
            }
            if (mac != options_.Device && mac != own_) {
                return mac;
            }
        }
    }

    static void PutBe16(Bytes& frame, std::size_t at, std::uint16_t value)
    {
        frame[at] = static_cast<std::uint8_t>(value >> 8);
        frame[at + 1] = static_cast<std::uint8_t>(value);
    }
    static void PutLe16(Bytes& frame, std::size_t at, std::uint16_t value)
    {
        frame[at] = static_cast<std::uint8_t>(value);
        frame[at + 1] = static_cast<std::uint8_t>(value >> 8);
    }

    Bytes Garbage(bool otherTypesOnly)
    {
        const std::size_t length = 14 + Below(1501);
        Bytes frame = Start(length, StrangerAddress());
        for (std::size_t i = 12; i < length; ++i) {
            frame[i] = Byte();
        }
        const bool protocolType = (frame[12] == 0x00 && frame[13] == 0x00) ||
                                  (frame[12] == 0x88 && frame[13] == 0x88);
        if (otherTypesOnly && protocolType) {
            frame[13] = 0x01;
        }
        return frame;
    }

    Bytes Ipv4()
    {
        const std::size_t payload = 8 + Below(1000);
        Bytes frame = Start(14 + 20 + payload, StrangerAddress());
        PutBe16(frame, 12, 0x0800);
        frame[14] = 0x45;
        PutBe16(frame, 16, static_cast<std::uint16_t>(20 + payload));
        frame[22] = 64;                                                           // time to live
        frame[23] = 17;                                                           // UDP
        const std::array<std::uint8_t, 8> addresses{192, 0, 2, 1, 192, 0, 2, 2};  // TEST-NET-1
        std::copy(addresses.begin(), addresses.end(), frame.begin() + 26);
        PutBe16(frame, 34, Word());
        PutBe16(frame, 36, 9);  // discard
        PutBe16(frame, 38, static_cast<std::uint16_t>(payload));
        for (std::size_t i = 42; i < frame.size(); ++i) {
            frame[i] = Byte();
        }
        return frame;
    }

    Bytes Arp()
    {
        const Mac source = StrangerAddress();
        Bytes frame = Start(60, source);
        PutBe16(frame, 12, 0x0806);
        PutBe16(frame, 14, 1);       // Ethernet
        PutBe16(frame, 16, 0x0800);  // IPv4
        frame[18] = 6;
        frame[19] = 4;
        PutBe16(frame, 20, static_cast<std::uint16_t>(1 + Below(2)));
        std::copy(source.begin(), source.end(), frame.begin() + 22);
        const std::array<std::uint8_t, 4> sender{192, 0, 2, 1};
        const std::array<std::uint8_t, 4> target{192, 0, 2, 2};
        std::copy(sender.begin(), sender.end(), frame.begin() + 28);
        std::copy(target.begin(), target.end(), frame.begin() + 38);
        return frame;
    }

    // The header words, then a status word or a descriptor; every length the header claims is
    // held, padded to the Ethernet minimum.
    Bytes Protocol(const Mac& source, std::uint16_t opcode, std::uint16_t sequence,
                   std::uint16_t offset, std::uint16_t segment, std::uint16_t dataLength,
                   std::size_t extra = 0)
    {
        const std::size_t length = std::max<std::size_t>(60, HEADER_BYTES + dataLength + extra);
        Bytes frame = Start(length, source);
        const std::uint16_t type = Below(2) == 0 ? 0x0000 : 0x8888;
        PutLe16(frame, 12, type);
        PutLe16(frame, 14, opcode);
        PutLe16(frame, 16, sequence);
        PutLe16(frame, 18, offset);
        PutLe16(frame, 20, segment);
        PutLe16(frame, 22, dataLength);
        for (std::size_t i = HEADER_BYTES; i < HEADER_BYTES + dataLength; ++i) {
            frame[i] = Byte();
        }
        if (dataLength == 2) {
            PutLe16(frame, HEADER_BYTES, Below(2) == 0 ? 0 : Word());
        }
        return frame;
    }

    std::uint16_t SegmentInImage()
    {
        const auto blocks = static_cast<std::uint32_t>(std::max(1UL, options_.ImageBytes / 512));
        return static_cast<std::uint16_t>(options_.CodeSegment + 0x20 * Below(blocks));
    }

    Bytes Layout()
    {
        const Mac source = StrangerAddress();
        const auto opcode = static_cast<std::uint16_t>(Below(5));
        switch (Below(4)) {
        case 0:  // a status reply that echoes a block of the image
            return Protocol(source, opcode, Word(), 0, SegmentInImage(), 2);
        case 1:  // an information reply
            return Protocol(source, 0, 0, 0, 0, 56);
        case 2:  // a request: a probe, or a block written
            return Below(2) == 0 ? Protocol(source, 0, 0, 0, 0, 0)
                                 : Protocol(source, 2, Word(), 0, SegmentInImage(), 512);
        default: {  // any header words, the claimed length not always held
            const auto claimed = static_cast<std::uint16_t>(Word() & 0x3FF);
            Bytes frame = Protocol(source, Word(), Word(), Word(), Word(), claimed);
            frame.resize(std::max<std::size_t>(60, HEADER_BYTES + Below(claimed + 1U)));
            return frame;
        }
        }
    }

    Bytes Stale()
    {
        const Mac& source = options_.Device;
        const std::uint16_t below = options_.CodeSegment > 0x20
                                        ? static_cast<std::uint16_t>(Below(options_.CodeSegment))
                                        : std::uint16_t{0};
        switch (Below(5)) {
        case 0:  // an offset the transfer never uses (blocks keep the offset at 0)
            return Protocol(source, static_cast<std::uint16_t>(2 + 2 * Below(2)), Word(),
                            static_cast<std::uint16_t>(1 + Below(15)), SegmentInImage(), 2);
        case 1:  // a segment before the image
            return Protocol(source, static_cast<std::uint16_t>(2 + 2 * Below(2)), Word(), 0, below,
                            2);
        case 2:  // an earlier or later sequence for a block of the image
            return Protocol(source, static_cast<std::uint16_t>(2 + 2 * Below(2)), Word(), 0,
                            SegmentInImage(), 2);
        case 3:  // a begin or reset reply with a sequence the device sends only as 0 there
            return Protocol(source, Below(2) == 0 ? 1 : 3,
                            static_cast<std::uint16_t>(1 + Below(65535)), 0, 0,
                            Below(2) == 0 ? 2 : 0, 2);
        default:  // an information reply with a sequence
            return Protocol(source, 0, static_cast<std::uint16_t>(1 + Below(65535)), 0, 0, 56);
        }
    }

    const Options& options_;
    Mac own_;
    std::mt19937 random_;
};

int Usage()
{
    std::fprintf(stderr, "usage: flooder IFNAME DESTINATION_MAC|broadcast [--mix KIND[,KIND...]] "
                         "[--rate PPS] [--seconds S]\n"
                         "       [--device MAC] [--code-segment HEX] [--image-bytes N] [--seed N]\n"
                         "KIND: garbage, ordinary, layout, stale\n");
    return 64;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    if (argc < 3 || !ParseMac(argv[2], options.Destination)) {
        return false;
    }
    options.Interface = argv[1];
    for (int i = 3; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (name == "--mix") {
            options.Mix = SplitCommas(value);
            for (const auto& kind : options.Mix) {
                if (kind != "garbage" && kind != "ordinary" && kind != "layout" &&
                    kind != "stale") {
                    return false;
                }
            }
        } else if (name == "--rate") {
            options.Rate = std::atof(value.c_str());
        } else if (name == "--seconds") {
            options.Seconds = std::atof(value.c_str());
        } else if (name == "--device") {
            if (!ParseMac(value, options.Device)) {
                return false;
            }
        } else if (name == "--code-segment") {
            options.CodeSegment = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 16));
        } else if (name == "--image-bytes") {
            options.ImageBytes = std::strtoul(value.c_str(), nullptr, 0);
        } else if (name == "--seed") {
            options.Seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 0));
        } else {
            return false;
        }
    }
    return options.Rate > 0 && options.Seconds > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage();
    }
    PacketSocket socket("flooder", options.Interface, PacketSocket::Use::SendOnly);
    const std::optional<Mac> own = socket.Address();
    if (!socket.ok() || !own) {
        if (socket.ok()) {
            std::fprintf(stderr, "flooder: %s has no Ethernet address\n",
                         options.Interface.c_str());
        }
        return 1;
    }
    // Nothing is read, so frames may skip the queueing discipline on their way out.
    const int one = 1;
    ::setsockopt(socket.fd(), SOL_PACKET, PACKET_QDISC_BYPASS, &one, sizeof one);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    FrameMaker maker(options, *own);
    std::vector<Bytes> pool;
    pool.reserve(POOL_FRAMES);
    for (std::size_t i = 0; i < POOL_FRAMES; ++i) {
        pool.push_back(maker.Make(options.Mix[i % options.Mix.size()]));
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = socket.index();
    address.sll_halen = ETH_ALEN;
    std::memcpy(address.sll_addr, options.Destination.data(), ETH_ALEN);
    std::vector<iovec> vectors(POOL_FRAMES);
    std::vector<mmsghdr> messages(POOL_FRAMES);
    for (std::size_t i = 0; i < POOL_FRAMES; ++i) {
        vectors[i] = {pool[i].data(), pool[i].size()};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = &address;
        messages[i].msg_hdr.msg_namelen = sizeof address;
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    std::printf("ready\n");
    std::fflush(stdout);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(options.Seconds);
    std::uint64_t sent = 0;
    std::size_t next = 0;
    auto now = start;
    while (stopRequested == 0 && now < end) {
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const auto due = static_cast<std::uint64_t>(elapsed * options.Rate);
        if (sent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            now = Clock::now();
            continue;
        }
        const auto count = static_cast<unsigned>(std::min<std::uint64_t>(
            {due - sent, std::uint64_t{BATCH}, static_cast<std::uint64_t>(POOL_FRAMES - next)}));
        const int done = ::sendmmsg(socket.fd(), &messages[next], count, 0);
        if (done < 0) {
            if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR) {
                std::perror("flooder: sendmmsg");
                return 1;
            }
        } else {
            sent += static_cast<std::uint64_t>(done);
            next = (next + static_cast<std::size_t>(done)) % POOL_FRAMES;
        }
        now = Clock::now();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flooder: sent %llu frames in %.2f s, %.0f frames/s held (asked %.0f)\n",
                static_cast<unsigned long long>(sent), seconds,
                seconds > 0 ? static_cast<double>(sent) / seconds : 0.0, options.Rate);
    return 0;
}
