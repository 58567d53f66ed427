#pragma once
// --record FILE: one JSON line per device and attempt, appended to a file that other runs of
// the program may append to at the same time. A line is written however the attempt ended,
// a failure or the user's stop included.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_output.h"
#include "commands/several_devices.h"
#include "history/history_record.h"
#include "image/image_digest.h"
#include "platform/files/append_file.h"

namespace tarvik::cli {

// What every line of one command shares.
struct RecordContext {
    std::string Interface;
    std::string ImagePath;
    std::optional<ImageDigest> Digest;  // none when the image could not be read
    std::uint32_t PaceMs = 0;
    // The image's signature as the run found it, its signer's key id and signed comment (the
    // last two none when no signature was read).
    std::string Signature;
    std::optional<std::string> SignerKeyId;
    std::optional<std::string> SignedComment;
};

// One line's object: Start and End (UTC, ISO 8601), Interface, DeviceName, Descriptor (the
// device's, read before the upgrade, or null), FileName, FileSize, Sha256, PaceMs, FramesSent,
// FramesResent, Result, ExitStatus, Signature, SignerKeyId, SignedComment, and RecordId (the attempt's id, which --events' lines carry
// too) when one is given.
Json RecordJson(const RecordContext& context, const DeviceRunReport& report, std::int64_t startMs,
                std::int64_t endMs, const std::string& recordId = {});

// The history's record of the attempt, without station, operator and program version, which
// the history adds.
HistoryRecord MakeHistoryRecord(const RecordContext& context, const DeviceRunReport& report,
                                std::int64_t startMs, std::int64_t endMs,
                                const std::string& recordId);
// A record as a line of --record (and of `history export`): the fields RecordJson names.
Json RecordJson(const HistoryRecord& record);
// The keys of the fields whose stored text should be a JSON object and is not (a damaged
// history): RecordJson and HistoryJson show them as null.
std::vector<std::string> UnreadableFields(const HistoryRecord& record);
// A record with every field the history keeps: RecordJson's, then Station, Operator,
// ProgramVersion, DescriptorAfter and ElapsedMs (End less Start).
Json HistoryJson(const HistoryRecord& record);

class UpgradeRecorder {
public:
    // Null, with the reason in error, when the file cannot be opened for appending.
    static std::unique_ptr<UpgradeRecorder> Open(const std::string& path, RecordContext context,
                                                 std::string& error);

    // Writes one attempt's line (its start and end in UTC milliseconds); false when it did not
    // go out whole. Any thread: each line goes out in one write.
    bool Write(const DeviceRunReport& report, std::int64_t startMs, std::int64_t endMs,
               const std::string& recordId = {});

private:
    UpgradeRecorder(std::unique_ptr<AppendOnlyFile> file, RecordContext context);

    std::unique_ptr<AppendOnlyFile> file_;
    const RecordContext context_;
};

}  // namespace tarvik::cli
