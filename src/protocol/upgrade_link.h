#pragma once
// UpgradeLink: the protocol's operations over the run's state. It holds nothing of its own;
// every user constructs one for the call over the one RunState.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/descriptor.h"
#include "netio/fan_out_driver.h"
#include "platform/formats/mac_address.h"
#include "protocol/run_state.h"

namespace tarvik {

struct ProgressReport;

// Frame builder results.
inline constexpr int BUILD_SENT = 0;
inline constexpr int BUILD_SEND_FAILED = 1;
inline constexpr int BUILD_NO_STATION_ADDRESS = 2;

// Discovery.
inline constexpr int COLLECT_DONE = 0;
inline constexpr int COLLECT_PROBE_FAILED = 10;
inline constexpr int NAMING_PROBE_FAILED = 13;
inline constexpr int DISCOVERY_FAILED = -1;
inline constexpr std::uint32_t TIMER_UNIT_MS = 990;
inline constexpr int PROBES_PER_PASS = 3;
inline constexpr std::uint16_t PROBE_WINDOW_UNITS = 2;
inline constexpr MacAddress VENDOR_OUI = {0x02, 0x5A, 0x17, 0, 0, 0};
inline constexpr std::size_t NAME_TABLE_SLOTS = 64;  // what the browse dialog offers

// Result of a transfer stopped because the image could not be read, or ended before the size
// it had when the transfer opened (never a device status that matters: every non-zero Result
// ends the same way).
inline constexpr std::uint16_t RESULT_READ_FAILED = 0xFFFF;

// Information query.
inline constexpr std::uint16_t QUERY_OK = 0;
inline constexpr std::uint16_t QUERY_FIRST_SEND_FAILED = 3;
inline constexpr std::uint16_t QUERY_NO_REPLY = 4;
inline constexpr std::uint16_t QUERY_RESEND_FAILED = 12;

// CheckSessionTimeout.
inline constexpr int TIMEOUT_OK = 0;
inline constexpr int TIMEOUT_RESET_NOT_SENT = 5;
inline constexpr int TIMEOUT_RESEND_FAILED = 8;

// ResendCurrentRequest: RESEND_OK, or which request did not go out again.
inline constexpr int RESEND_OK = 0;
inline constexpr int RESEND_INFO_FAILED = 3;
inline constexpr int RESEND_BEGIN_FAILED = 4;
inline constexpr int RESEND_RESET_FAILED = 5;
inline constexpr int RESEND_WRITE_FAILED = 6;
inline constexpr int RESEND_VERIFY_FAILED = 7;

// How long a request waits for its reply (in TIMER_UNIT_MS) and how often it is sent. A write
// gets longer: the device may erase before it answers the first one.
inline constexpr std::uint16_t STEP_TRY_UNITS = 1;
inline constexpr std::uint16_t STEP_TRIES = 20;
inline constexpr std::uint16_t WRITE_TRY_UNITS = 2;
inline constexpr std::uint16_t WRITE_TRIES = 30;

// CheckImageForTarget.
inline constexpr int CHECK_FITS = 0;
inline constexpr int CHECK_IMAGE_UNREADABLE = 3;
inline constexpr int CHECK_QUERY_FAILED = 4;
inline constexpr int CHECK_NO_PATH = 25;
inline constexpr int CHECK_BOARD_MISMATCH = 26;

// The largest image a transfer takes: its last block must end within 32-bit file positions.
inline constexpr std::uint64_t MAX_IMAGE_BYTES = (std::uint64_t{1} << 32) - BLOCK_BYTES;

// OpenTransfer.
inline constexpr int OPEN_READY = 0;
inline constexpr int OPEN_NO_PATH = 1;
inline constexpr int OPEN_CANNOT_OPEN = 2;
inline constexpr int OPEN_NO_DESCRIPTOR = 3;

struct ResponderList {
    std::vector<MacAddress> Addresses;  // in order of first answer, no duplicates
};

// One round of probe-and-listen: a broadcast probe in each of Variants, back to back in that
// order, then listening until more than WindowMs has passed since the round began (the
// timer's test: a window of 1980 ms still listens at 1980 ms). Only replies in one of the
// Accepted variants count.
struct ProbeRound {
    std::vector<FrameVariantKind> Variants;
    std::uint32_t WindowMs = TIMER_UNIT_MS * PROBE_WINDOW_UNITS;
    std::vector<FrameVariantKind> Accepted;
};

// A device's answer to a probe: who, in which frame type, its descriptor, and how long after
// the round began it came.
struct DiscoveryReply {
    MacAddress Source{};
    FrameVariantKind Variant = FrameVariantKind::Untyped;
    ImageDescriptor Descriptor;
    std::uint32_t AfterMs = 0;
};

// A device's name as browse shows it: DEVICE_NAME_PREFIX and the last three bytes of its
// address in hex when the address is in the vendor's block (VENDOR_OUI), else all six bytes.
inline constexpr std::string_view DEVICE_NAME_PREFIX = "QV";
std::string FormatDeviceName(const MacAddress& address);
// The address a name stands for. Any text turns into some address (an unreadable digit counts
// as F, only the first digits are read): ask IsDeviceName first where a user typed it.
MacAddress ParseDeviceName(std::string_view name);
// Whether the text is a name in one of the two forms FormatDeviceName gives: the prefix and 6
// hex digits, or 12 hex digits.
bool IsDeviceName(std::string_view name);
// Whether the frame is a discovery reply in either frame variant: the device's descriptor,
// answered to a probe or to an information query alike. The variant it came in, if so.
std::optional<FrameVariantKind> DiscoveryReplyVariant(std::span<const std::uint8_t> frame);

// The information query, which a probe asks every device at once: a run's query to its device
// and a probe get answers that look alike (see FanOutDriver::RouteSharedAnswers).
SharedQuestion InformationQuestion();

// Diminishing-gap exchange sort, byte-wise ascending; -1 when there is nothing to sort.
int SortDeviceNames(std::vector<std::string>& names);

class UpgradeLink {
public:
    explicit UpgradeLink(RunState& run) : run_(run) {}
    virtual ~UpgradeLink() = default;

    // --- frames ---
    int SendProbe();
    int SendInfoRequest(const SessionState& session);
    int SendBegin(const SessionState& session);
    int SendWriteBlock(const SessionState& session, const std::uint8_t* block, std::size_t length);
    int SendVerifyBlock(const SessionState& session, const std::uint8_t* block, std::size_t length);
    int SendReset(const SessionState& session);

    // --- discovery ---
    bool TimerExpired(std::uint32_t start, std::uint16_t units);
    // Sends the round's probes and listens its window, handing every accepted reply to
    // onReply as it comes (a device that answers twice is handed up twice). Listening ends
    // early once stop says so. COLLECT_DONE, or COLLECT_PROBE_FAILED when a probe could not be
    // sent (the round ends there, unheard). The run's frame variant is left as it was.
    int ProbeAndListen(const ProbeRound& round,
                       const std::function<void(const DiscoveryReply&)>& onReply,
                       const std::function<bool()>& stop = {});
    // One discovery pass in the run's frame variant: PROBES_PER_PASS rounds of one probe.
    int CollectResponders(ResponderList& list);
    // The sorted names of every target that answered (0 or more), or -1 on failure.
    int DiscoverTargets(std::vector<std::string>& names);

    // --- session and information query ---
    // tries: how many times the query goes out, a try's time apart, before it is given up.
    std::uint16_t QueryTargetInfo(const MacAddress& target, std::uint8_t* buffer,
                                  std::uint16_t tries = STEP_TRIES);
    std::uint16_t FetchTargetInfo(const MacAddress& target, std::uint8_t* buffer,
                                  std::uint16_t tries = STEP_TRIES);
    void PollInfoReply();
    void HandleInfoReply(std::span<const std::uint8_t> frame);
    int CheckSessionTimeout();
    int ResendCurrentRequest();

    // --- image ---
    int LoadImageDescriptor(const std::string& path, ImageDescriptor& descriptor);
    // device, when given, receives the device's descriptor whenever the device answered (a
    // board that does not fit included): the check's query is the upgrade's only one.
    int CheckImageForTarget(const std::string& path, const MacAddress& target,
                            ImageDescriptor* device = nullptr);

    // --- transfer ---
    int OpenTransfer(const MacAddress& target, const std::string& path);
    void PollTransferReply();
    void HandleTransferReply(std::span<const std::uint8_t> frame);
    void CloseTransferFile();

private:
    int SendRequest(const MacAddress& destination, std::uint16_t opcode,
                    const SessionState* session, const std::uint8_t* block, std::size_t length);
    bool RunDiscoveryPass(std::vector<std::string>& names);
    // Reads the block at FilePosition into BlockBuffer, whole: its length (512, less for the
    // last block), 0 past FileSize, -1 when a read fails or the file ends before FileSize.
    std::int64_t ReadBlockAtFilePosition();
    void FailOnReadError();
    void EnterResetStep();
    void StartTry(std::uint16_t timeout, std::uint16_t tries);
    // Takes a reply's status word: false, with the transfer failed, when it is not 0.
    bool TakeStatus(std::span<const std::uint8_t> frame);
    // Takes the acknowledgement of the block in flight in the given state and reads the next
    // block, moving the address on: its length, 0 past the image's end, or nothing when the
    // frame is no such acknowledgement or the transfer has stopped.
    std::optional<std::size_t> TakeBlockAck(std::span<const std::uint8_t> frame,
                                            const FrameHeader& header, std::uint8_t state);
    void HandleBeginReply(std::span<const std::uint8_t> frame, const FrameHeader& header);
    void HandleWriteAck(std::span<const std::uint8_t> frame, const FrameHeader& header);
    void HandleVerifyAck(std::span<const std::uint8_t> frame, const FrameHeader& header);
    void HandleResetAck(std::span<const std::uint8_t> frame, const FrameHeader& header);
    int PercentOfFile() const;
    // Hands the report to the progress display, if the Upgrade command attached one.
    void ReportProgress(const ProgressReport& report);

    RunState& run_;
};

}  // namespace tarvik
