#include "cli/upgrade_record.h"

namespace tarvik::cli {

Json RecordJson(const RecordContext& context, const DeviceRunReport& report, std::int64_t startMs,
                std::int64_t endMs, const std::string& recordId)
{
    Json line;
    line["Start"] = FormatUtcTime(startMs);
    line["End"] = FormatUtcTime(endMs);
    line["Interface"] = context.Interface;
    line["DeviceName"] = report.DeviceName;
    line["Descriptor"] = report.Descriptor ? DescriptorJson(*report.Descriptor) : Json(nullptr);
    line["FileName"] = context.ImagePath;
    line["FileSize"] = context.Digest ? Json(context.Digest->Size) : Json(nullptr);
    line["Sha256"] = context.Digest ? Json(context.Digest->Sha256) : Json(nullptr);
    line["PaceMs"] = context.PaceMs;
    line["FramesSent"] = report.FramesSent;
    line["FramesResent"] = report.FramesResent;
    line["Result"] = report.Result;
    line["ExitStatus"] = report.ExitStatus;
    if (!recordId.empty()) {
        line["RecordId"] = recordId;
    }
    return line;
}

std::unique_ptr<UpgradeRecorder> UpgradeRecorder::Open(const std::string& path,
                                                       RecordContext context, UtcClock& clock,
                                                       std::string& error)
{
    std::unique_ptr<AppendOnlyFile> file = AppendOnlyFile::Open(path, error);
    if (!file) {
        return nullptr;
    }
    return std::unique_ptr<UpgradeRecorder>(new UpgradeRecorder(std::move(file), std::move(context),
                                                                clock));
}

UpgradeRecorder::UpgradeRecorder(std::unique_ptr<AppendOnlyFile> file, RecordContext context,
                                 UtcClock& clock)
    : file_(std::move(file)), context_(std::move(context)), clock_(clock)
{
}

void UpgradeRecorder::Starts(std::size_t device)
{
    std::lock_guard lock(lock_);
    starts_[device] = clock_.MillisecondsSinceEpoch();
}

bool UpgradeRecorder::Ends(std::size_t device, const DeviceRunReport& report,
                           const std::string& recordId)
{
    std::int64_t start = 0;
    std::int64_t end = 0;
    {
        std::lock_guard lock(lock_);
        end = clock_.MillisecondsSinceEpoch();
        const auto found = starts_.find(device);
        start = found != starts_.end() ? found->second : end;
    }
    // dump() escapes every control character, so the line holds no newline but its last.
    return file_->Append(RecordJson(context_, report, start, end, recordId).dump() + '\n');
}

}  // namespace tarvik::cli
