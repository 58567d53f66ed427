#pragma once
// Everything the protocol keeps for the whole run, in one object: the adapter binding, the
// send and receive buffers, FrameVariant, the session record, the block buffer and the
// transfer's descriptor. The program makes one; each test makes its own.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "image/descriptor.h"
#include "image/signed_use.h"
#include "netio/binding.h"
#include "platform/files/file_system.h"
#include "platform/formats/mac_address.h"
#include "protocol/frame.h"

namespace tarvik {

class ProgressDisplay;

inline constexpr std::uint8_t SESSION_IDLE = 0;
inline constexpr std::uint8_t SESSION_INFO = 1;
inline constexpr std::uint8_t SESSION_BEGIN = 2;
inline constexpr std::uint8_t SESSION_WRITE = 3;
inline constexpr std::uint8_t SESSION_VERIFY = 4;
inline constexpr std::uint8_t SESSION_RESET = 5;
inline constexpr std::uint8_t SESSION_DONE = 6;
inline constexpr std::uint8_t SESSION_FAILED = 7;

// Result values besides 0 and a device's own status word.
inline constexpr std::uint16_t RESULT_NO_REPLY = 4;
inline constexpr std::uint16_t RESULT_RESET_REFUSED = 7;

// The one record of the conversation with a target.
struct SessionState {
    std::uint8_t State = SESSION_IDLE;
    MacAddress Target{};
    std::uint16_t Sequence = 0;
    std::uint16_t Offset = 0;
    std::uint16_t Segment = 0;
    std::uint16_t Result = 0;
    std::uint8_t* InfoBuffer = nullptr;  // the query's caller owns the 56 bytes
    std::int16_t FileHandle = -1;        // 1 while the transfer's file is open
    std::uint32_t FilePosition = 0;
    std::uint32_t FileSize = 0;
    std::uint32_t StartTick = 0;
    std::uint16_t Timeout = 0;  // in units of 990 ms
    std::uint16_t RetriesLeft = 0;
};

struct RunState {
    RunState(Binding& binding, FileSystem& files) : Link(binding), Files(files) {}

    Binding& Link;
    FileSystem& Files;

    std::array<std::uint8_t, SEND_BUFFER_BYTES> SendBuffer{};
    std::array<std::uint8_t, RECEIVE_BUFFER_BYTES> ReceiveBuffer{};
    FrameVariantKind FrameVariant = FrameVariantKind::Untyped;
    SessionState Session;
    std::array<std::uint8_t, BLOCK_BYTES> BlockBuffer{};
    ImageDescriptor TransferDescriptor;
    std::unique_ptr<ReadOnlyFile> TransferFile;  // open while Session.FileHandle is 1
    ProgressDisplay* Progress = nullptr;         // set by the Upgrade command while it runs
    std::string SelectedTarget;                  // the DeviceName chosen when browsing
    // What the image's verified signature says it is for; null when no signature was checked.
    std::shared_ptr<const SignedUse> ImageUse;

    // Counters for diagnostics and benchmarks.
    std::uint64_t FramesSent = 0;
    std::uint64_t FramesResent = 0;  // of those, requests sent again after a timeout
};

}  // namespace tarvik
