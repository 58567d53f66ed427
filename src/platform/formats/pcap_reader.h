#pragma once
// A capture file read back: every frame with its time, from a pcap or pcapng file of Ethernet
// frames, as this program's traces, tcpdump -w and Wireshark write them, in either byte order
// and at any time stamp precision.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// The longest capture file read: a trace of one device's session is a few megabytes (the
// largest image written and verified, with every resend, and the chatter around it). A file far
// beyond that was captured for something else and is to be cut down to the session first.
inline constexpr std::int64_t LONGEST_CAPTURE_FILE = 64LL * 1024 * 1024;

struct CapturedFrame {
    std::uint64_t Microseconds = 0;       // since the epoch, as the capture stamped it
    std::span<const std::uint8_t> Bytes;  // what was captured of it, from the destination on
};

// A frame with bytes of its own, for captures made in memory.
struct TimedFrame {
    std::uint64_t Microseconds = 0;
    std::vector<std::uint8_t> Bytes;
};

// The frames of a capture, in file order. Their bytes are held once, in one block shared by
// every copy of the capture and by whatever keeps frames of it (a session that replays it):
// a trace costs its own size and a few words per frame, not a buffer per frame.
class Capture {
public:
    Capture() = default;
    // The frames lie in bytes where frames say (each span within bytes).
    Capture(std::shared_ptr<const std::vector<std::uint8_t>> bytes,
            std::vector<CapturedFrame> frames)
        : bytes_(std::move(bytes)), frames_(std::move(frames))
    {
    }
    // A capture of the frames given, in that order.
    static Capture Of(const std::vector<TimedFrame>& frames);

    std::size_t size() const { return frames_.size(); }
    bool empty() const { return frames_.empty(); }
    const CapturedFrame& operator[](std::size_t index) const { return frames_[index]; }
    std::vector<CapturedFrame>::const_iterator begin() const { return frames_.begin(); }
    std::vector<CapturedFrame>::const_iterator end() const { return frames_.end(); }
    // The block the frames' bytes lie in: whoever keeps a frame's bytes keeps this with them.
    const std::shared_ptr<const std::vector<std::uint8_t>>& Storage() const { return bytes_; }

private:
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    std::vector<CapturedFrame> frames_;
};

// The frames in file order; nothing and the reason in error when the file cannot be read or
// holds anything but Ethernet frames. A file cut off in a record is refused rather than read in
// part: a replay of part of a session would mislead more than none. The frames' bytes stay in
// the file's bytes, which the capture keeps.
std::optional<Capture> ParseCaptureFile(std::vector<std::uint8_t> bytes, std::string& error);
std::optional<Capture> ParseCaptureFile(std::span<const std::uint8_t> bytes, std::string& error);
// The same, of the file at path; a file longer than LONGEST_CAPTURE_FILE is refused unread.
std::optional<Capture> ReadPcapFrames(const std::string& path, std::string& error);

}  // namespace tarvik
