#include "platform/formats/pcap_reader.h"

#include <limits>
#include <memory>
#include <span>

#include "platform/files/file_system.h"

namespace tarvik {
namespace {

// The file formats, read by the program itself so that a replay reads the same way on every
// system (Windows' capture libraries read no files, or not under every version).
constexpr std::uint32_t PCAP_MICROSECONDS = 0xA1B2C3D4;
constexpr std::uint32_t PCAP_NANOSECONDS = 0xA1B23C4D;
constexpr std::uint32_t PCAPNG_SECTION = 0x0A0D0D0A;
constexpr std::uint32_t PCAPNG_BYTE_ORDER = 0x1A2B3C4D;
constexpr std::uint32_t PCAPNG_INTERFACE = 1;
constexpr std::uint32_t PCAPNG_SIMPLE_PACKET = 3;
constexpr std::uint32_t PCAPNG_ENHANCED_PACKET = 6;
constexpr std::uint16_t PCAPNG_OPTION_END = 0;
constexpr std::uint16_t PCAPNG_OPTION_TIME_RESOLUTION = 9;
constexpr std::uint32_t LINK_TYPE_ETHERNET = 1;
// Larger than any frame a capture of these devices holds; a length beyond it is a broken file.
constexpr std::uint32_t LONGEST_RECORD = 256 * 1024;

// Reads numbers in the byte order the file was written in.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    void SetSwapped(bool swapped) { swapped_ = swapped; }
    bool Has(std::size_t at, std::size_t count) const
    {
        return at <= bytes_.size() && count <= bytes_.size() - at;
    }
    std::uint32_t U32(std::size_t at) const
    {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const std::size_t byte = swapped_ ? i : 3 - i;
            value = (value << 8) | bytes_[at + byte];
        }
        return value;
    }
    std::uint16_t U16(std::size_t at) const
    {
        return swapped_ ? static_cast<std::uint16_t>(bytes_[at] << 8 | bytes_[at + 1])
                        : static_cast<std::uint16_t>(bytes_[at + 1] << 8 | bytes_[at]);
    }
    std::span<const std::uint8_t> Bytes(std::size_t at, std::size_t count) const
    {
        return bytes_.subspan(at, count);
    }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    bool swapped_ = false;  // big-endian numbers (the file was written on such a machine)
};

std::string LinkTypeError(std::uint32_t linkType)
{
    return "it holds frames of link type " + std::to_string(linkType) + ", not Ethernet";
}

std::optional<std::vector<CapturedFrame>> ReadPcap(const Reader& file, std::uint32_t magic,
                                                   std::string& error)
{
    const bool nanoseconds = magic == PCAP_NANOSECONDS;
    if (!file.Has(0, 24)) {
        error = "the file header is cut off";
        return std::nullopt;
    }
    // The upper bits of the link type field may carry FCS flags.
    if (const std::uint32_t linkType = file.U32(20) & 0x0FFFFFFF; linkType != LINK_TYPE_ETHERNET) {
        error = LinkTypeError(linkType);
        return std::nullopt;
    }
    std::vector<CapturedFrame> frames;
    for (std::size_t at = 24; at < file.Size();) {
        if (!file.Has(at, 16)) {
            error = "a record is cut off";
            return std::nullopt;
        }
        const std::uint32_t length = file.U32(at + 8);
        if (length > LONGEST_RECORD || !file.Has(at + 16, length)) {
            error = "a record is cut off";
            return std::nullopt;
        }
        const std::uint64_t fraction = file.U32(at + 4);
        frames.push_back({std::uint64_t{file.U32(at)} * 1000000 +
                              (nanoseconds ? fraction / 1000 : fraction),
                          file.Bytes(at + 16, length)});
        at += 16 + length;
    }
    return frames;
}

struct PcapngInterface {
    std::uint32_t LinkType = 0;
    // Time stamp units per second, and how to turn them into microseconds.
    std::uint64_t UnitsPerSecond = 1000000;
};

std::uint64_t ToMicroseconds(std::uint64_t stamp, std::uint64_t unitsPerSecond)
{
    if (unitsPerSecond == 1000000) {
        return stamp;
    }
    const std::uint64_t seconds = stamp / unitsPerSecond;
    const std::uint64_t rest = stamp % unitsPerSecond;
    return seconds * 1000000 +
           static_cast<std::uint64_t>(static_cast<long double>(rest) * 1000000 / unitsPerSecond);
}

// An interface description block's body (at least its 8 fixed bytes) from body to bodyEnd: the
// link type, and the time resolution when an option gives one.
PcapngInterface ReadInterface(const Reader& file, std::size_t body, std::size_t bodyEnd)
{
    PcapngInterface interface;
    interface.LinkType = file.U16(body);
    for (std::size_t option = body + 8; option + 4 <= bodyEnd;) {
        const std::uint16_t code = file.U16(option);
        const std::uint16_t size = file.U16(option + 2);
        if (code == PCAPNG_OPTION_END || option + 4 + size > bodyEnd) {
            break;
        }
        if (code == PCAPNG_OPTION_TIME_RESOLUTION && size >= 1) {
            const std::uint8_t resolution = file.Bytes(option + 4, 1)[0];
            const unsigned exponent = resolution & 0x7F;
            const unsigned base = (resolution & 0x80) != 0 ? 2 : 10;
            std::uint64_t units = 1;
            for (unsigned i = 0; i < exponent && units < (1ULL << 60); ++i) {
                units *= base;
            }
            interface.UnitsPerSecond = units;
        }
        option += 4 + ((size + 3u) & ~3u);
    }
    return interface;
}

std::optional<std::vector<CapturedFrame>> ReadPcapng(Reader& file, std::string& error)
{
    std::vector<CapturedFrame> frames;
    std::vector<PcapngInterface> interfaces;
    for (std::size_t at = 0; at < file.Size();) {
        if (!file.Has(at, 12)) {
            error = "a block is cut off";
            return std::nullopt;
        }
        std::uint32_t type = file.U32(at);
        if (type == PCAPNG_SECTION) {
            // Each section says its own byte order; its interfaces are numbered anew.
            if (!file.Has(at, 12)) {
                error = "a section header is cut off";
                return std::nullopt;
            }
            file.SetSwapped(false);
            if (file.U32(at + 8) != PCAPNG_BYTE_ORDER) {
                file.SetSwapped(true);
                if (file.U32(at + 8) != PCAPNG_BYTE_ORDER) {
                    error = "a section header has no byte-order mark";
                    return std::nullopt;
                }
            }
            interfaces.clear();
        }
        const std::uint32_t length = file.U32(at + 4);
        if (length < 12 || length % 4 != 0 || !file.Has(at, length)) {
            error = "a block is cut off";
            return std::nullopt;
        }
        const std::size_t body = at + 8;
        const std::size_t bodyEnd = at + length - 4;
        if (type == PCAPNG_INTERFACE) {
            // Skipping it would number every interface after it one too low, and give their
            // packets another's link type and clock.
            if (bodyEnd - body < 8) {
                error = "an interface block is cut off";
                return std::nullopt;
            }
            interfaces.push_back(ReadInterface(file, body, bodyEnd));
        } else if (type == PCAPNG_ENHANCED_PACKET || type == PCAPNG_SIMPLE_PACKET) {
            const bool enhanced = type == PCAPNG_ENHANCED_PACKET;
            const std::size_t header = enhanced ? 20 : 4;
            const std::uint32_t index = enhanced ? file.U32(body) : 0;
            if (bodyEnd - body < header || index >= interfaces.size()) {
                error = "a packet block is broken";
                return std::nullopt;
            }
            const PcapngInterface& interface = interfaces[index];
            if (interface.LinkType != LINK_TYPE_ETHERNET) {
                error = LinkTypeError(interface.LinkType);
                return std::nullopt;
            }
            std::uint32_t captured = enhanced ? file.U32(body + 12) : file.U32(body);
            if (!enhanced) {
                captured = std::min<std::uint32_t>(captured,
                                                   static_cast<std::uint32_t>(bodyEnd - body - 4));
            }
            if (captured > LONGEST_RECORD || captured > bodyEnd - body - header) {
                error = "a packet block is broken";
                return std::nullopt;
            }
            CapturedFrame frame{0, file.Bytes(body + header, captured)};
            if (enhanced) {
                const std::uint64_t stamp = (std::uint64_t{file.U32(body + 4)} << 32) |
                                            file.U32(body + 8);
                frame.Microseconds = ToMicroseconds(stamp, interface.UnitsPerSecond);
            }
            frames.push_back(frame);
        }
        at += length;
    }
    return frames;
}

std::optional<std::vector<CapturedFrame>> ReadFrames(Reader& file, std::string& error)
{
    if (!file.Has(0, 4)) {
        error = "it is no capture file (too short)";
        return std::nullopt;
    }
    const std::uint32_t magic = file.U32(0);
    if (magic == PCAPNG_SECTION) {
        return ReadPcapng(file, error);
    }
    for (const bool swapped : {false, true}) {
        file.SetSwapped(swapped);
        if (const std::uint32_t word = file.U32(0);
            word == PCAP_MICROSECONDS || word == PCAP_NANOSECONDS) {
            return ReadPcap(file, word, error);
        }
    }
    error = "it is no pcap or pcapng capture file";
    return std::nullopt;
}

}  // namespace

Capture Capture::Of(const std::vector<TimedFrame>& frames)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    for (const TimedFrame& frame : frames) {
        bytes->insert(bytes->end(), frame.Bytes.begin(), frame.Bytes.end());
    }
    std::vector<CapturedFrame> views;
    std::size_t at = 0;
    for (const TimedFrame& frame : frames) {
        views.push_back({frame.Microseconds, std::span(*bytes).subspan(at, frame.Bytes.size())});
        at += frame.Bytes.size();
    }
    return Capture(std::move(bytes), std::move(views));
}

std::optional<Capture> ParseCaptureFile(std::vector<std::uint8_t> bytes, std::string& error)
{
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    Reader file(*shared);
    auto frames = ReadFrames(file, error);
    if (!frames) {
        return std::nullopt;
    }
    return Capture(std::move(shared), std::move(*frames));
}

std::optional<Capture> ParseCaptureFile(std::span<const std::uint8_t> bytes, std::string& error)
{
    return ParseCaptureFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), error);
}

std::optional<Capture> ReadPcapFrames(const std::string& path, std::string& error)
{
    SystemFileSystem files;
    const std::unique_ptr<ReadOnlyFile> file = files.OpenForReading(path);
    if (!file) {
        error = "No such file, or it cannot be read";
        return std::nullopt;
    }
    const std::int64_t size = file->SeekEnd();
    if (size > LONGEST_CAPTURE_FILE) {
        error = "it holds " + std::to_string(size / (1024 * 1024)) +
                " MB, more than a trace of one device's session (at most " +
                std::to_string(LONGEST_CAPTURE_FILE / (1024 * 1024)) +
                " MB): cut it down to that session first";
        return std::nullopt;
    }
    if (size < 0 || !file->Seek(0)) {
        error = "it cannot be read";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < bytes.size();) {
        const std::int64_t got = file->Read(bytes.data() + done, bytes.size() - done);
        if (got <= 0) {
            error = "it cannot be read to its end";
            return std::nullopt;
        }
        done += static_cast<std::size_t>(got);
    }
    return ParseCaptureFile(std::move(bytes), error);
}

}  // namespace tarvik
