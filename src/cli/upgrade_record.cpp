#include "cli/upgrade_record.h"

namespace tarvik::cli {

namespace {

std::optional<std::string> DescriptorText(const std::optional<ImageDescriptor>& descriptor)
{
    if (!descriptor) {
        return std::nullopt;
    }
    return DescriptorJson(*descriptor).dump();
}

Json DescriptorObject(const std::optional<std::string>& text)
{
    return text ? Json::parse(*text, nullptr, false) : Json(nullptr);
}

}  // namespace

HistoryRecord MakeHistoryRecord(const RecordContext& context, const DeviceRunReport& report,
                                std::int64_t startMs, std::int64_t endMs,
                                const std::string& recordId)
{
    HistoryRecord record;
    record.RecordId = recordId;
    record.StartMs = startMs;
    record.EndMs = endMs;
    record.Interface = context.Interface;
    record.DeviceName = report.DeviceName;
    record.DescriptorBefore = DescriptorText(report.Descriptor);
    record.DescriptorAfter = DescriptorText(report.DescriptorAfter);
    record.FileName = context.ImagePath;
    if (context.Digest) {
        record.FileSize = context.Digest->Size;
        record.Sha256 = context.Digest->Sha256;
    }
    record.PaceMs = context.PaceMs;
    record.FramesSent = report.FramesSent;
    record.FramesResent = report.FramesResent;
    record.Result = report.Result;
    record.ExitStatus = report.ExitStatus;
    return record;
}

Json RecordJson(const HistoryRecord& record)
{
    Json line;
    line["Start"] = FormatUtcTime(record.StartMs);
    line["End"] = FormatUtcTime(record.EndMs);
    line["Interface"] = record.Interface;
    line["DeviceName"] = record.DeviceName;
    line["Descriptor"] = DescriptorObject(record.DescriptorBefore);
    line["FileName"] = record.FileName;
    line["FileSize"] = record.FileSize ? Json(*record.FileSize) : Json(nullptr);
    line["Sha256"] = record.Sha256 ? Json(*record.Sha256) : Json(nullptr);
    line["PaceMs"] = record.PaceMs;
    line["FramesSent"] = record.FramesSent;
    line["FramesResent"] = record.FramesResent;
    line["Result"] = record.Result;
    line["ExitStatus"] = record.ExitStatus;
    if (!record.RecordId.empty()) {
        line["RecordId"] = record.RecordId;
    }
    return line;
}

Json RecordJson(const RecordContext& context, const DeviceRunReport& report, std::int64_t startMs,
                std::int64_t endMs, const std::string& recordId)
{
    return RecordJson(MakeHistoryRecord(context, report, startMs, endMs, recordId));
}

Json HistoryJson(const HistoryRecord& record)
{
    Json object = RecordJson(record);
    object["Station"] = record.Station;
    object["Operator"] = record.Operator;
    object["ProgramVersion"] = record.ProgramVersion;
    object["DescriptorAfter"] = DescriptorObject(record.DescriptorAfter);
    object["ElapsedMs"] = record.EndMs - record.StartMs;
    return object;
}

std::unique_ptr<UpgradeRecorder> UpgradeRecorder::Open(const std::string& path,
                                                       RecordContext context, std::string& error)
{
    std::unique_ptr<AppendOnlyFile> file = AppendOnlyFile::Open(path, error);
    if (!file) {
        return nullptr;
    }
    return std::unique_ptr<UpgradeRecorder>(new UpgradeRecorder(std::move(file),
                                                                std::move(context)));
}

UpgradeRecorder::UpgradeRecorder(std::unique_ptr<AppendOnlyFile> file, RecordContext context)
    : file_(std::move(file)), context_(std::move(context))
{
}

bool UpgradeRecorder::Write(const DeviceRunReport& report, std::int64_t start, std::int64_t end,
                            const std::string& recordId)
{
    // dump() escapes every control character, so the line holds no newline but its last.
    return file_->Append(RecordJson(context_, report, start, end, recordId).dump() + '\n');
}

}  // namespace tarvik::cli
