#pragma once
// One upgrade attempt as the history keeps it: what a --record line says, and who made the
// attempt where, with which program, and what the device said of itself after its reset. Plain
// data, built on every system; only the store needs SQLite.

#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

struct HistoryRecord {
    std::string RecordId;      // a random UUID: the same attempt is the same record everywhere
    std::int64_t StartMs = 0;  // UTC, milliseconds since the epoch
    std::int64_t EndMs = 0;
    std::string Station;         // the machine's name unless given
    std::string Operator;        // the login name unless given
    std::string ProgramVersion;  // the loader's release
    std::string Interface;       // "eth0", "lab0"
    std::string DeviceName;
    // The device's information block as a JSON object of its display forms, or nothing when
    // it did not answer: read before the upgrade, and after its reset.
    std::optional<std::string> DescriptorBefore;
    std::optional<std::string> DescriptorAfter;
    std::string FileName;
    std::optional<std::uint64_t> FileSize;  // none when the image could not be read
    std::optional<std::string> Sha256;
    std::uint32_t PaceMs = 0;
    std::uint64_t FramesSent = 0;
    std::uint64_t FramesResent = 0;
    std::string Result;           // "Upgrade Finish" or the message shown
    std::int64_t ExitStatus = 0;  // 64 bits: a history file may hold any number
    // The image's signature as the run found it ("verified", "not checked", ...), its signer's
    // key id and its signed comment; nothing in records made before signatures were checked.
    std::optional<std::string> Signature;
    std::optional<std::string> SignerKeyId;
    std::optional<std::string> SignedComment;
    // The bay the device was in, when the station served several; nothing otherwise.
    std::optional<std::string> Bay;

    bool Passed() const { return ExitStatus == 0; }
    // End less start; nothing when a damaged record's times are too far apart to subtract.
    std::optional<std::int64_t> ElapsedMs() const
    {
        std::int64_t elapsed = 0;
        if (__builtin_sub_overflow(EndMs, StartMs, &elapsed)) {
            return std::nullopt;
        }
        return elapsed;
    }
};

// Which records a listing wants; an empty field does not filter.
struct HistoryFilter {
    std::string DeviceName;
    std::string Sha256;                   // the image's digest, lower-case hex
    std::optional<std::int64_t> SinceMs;  // start at or after
    std::optional<std::int64_t> UntilMs;  // start before
    bool FailedOnly = false;
    std::string Station;
};

}  // namespace tarvik
