#include "cli/upgrade_record.h"

#include "history/history_columns.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::cli {

namespace {

std::optional<std::string> DescriptorText(const std::optional<ImageDescriptor>& descriptor)
{
    if (!descriptor) {
        return std::nullopt;
    }
    return JsonLine(DescriptorJson(*descriptor));
}

// A column's value as the JSON lines show it. A stored text that should hold a JSON object and
// does not (a damaged file) is null: never a token no reader parses.
Json ColumnJson(const HistoryColumn& column, const HistoryRecord& record)
{
    const ColumnValue value = column.Get(record);
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return column.Form == JsonForm::UtcTime ? Json(FormatUtcTime(*number)) : Json(*number);
    }
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) {
        return nullptr;
    }
    if (column.Form != JsonForm::JsonText) {
        return JsonText(*text);
    }
    Json object = Json::parse(*text, nullptr, false);
    return object.is_discarded() ? Json(nullptr) : object;
}

void AddColumns(Json& line, const HistoryRecord& record, JsonPlace place)
{
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (column.Place != place) {
            continue;
        }
        // The closing fields are left out when empty: a record made without an id has none.
        Json value = ColumnJson(column, record);
        if (place != JsonPlace::LineEnd ||
            !(value.is_string() && value.get_ref<const std::string&>().empty())) {
            line[column.JsonKey] = std::move(value);
        }
    }
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
    // Text from the file system and the devices enters the record as UTF-8, any other byte
    // escaped, so that every later reader of the record can show it.
    record.Interface = Utf8Escaped(report.Interface.empty() ? context.Interface : report.Interface);
    if (!report.Bay.empty()) {
        record.Bay = Utf8Escaped(report.Bay);
    }
    record.DeviceName = Utf8Escaped(report.DeviceName);
    record.DescriptorBefore = DescriptorText(report.Descriptor);
    record.DescriptorAfter = DescriptorText(report.DescriptorAfter);
    record.FileName = Utf8Escaped(context.ImagePath);
    if (context.Digest) {
        record.FileSize = context.Digest->Size;
        record.Sha256 = context.Digest->Sha256;
    }
    record.PaceMs = context.PaceMs;
    record.FramesSent = report.FramesSent;
    record.FramesResent = report.FramesResent;
    record.Result = Utf8Escaped(report.Result);
    record.ExitStatus = report.ExitStatus;
    record.Signature = context.Signature;
    record.SignerKeyId = context.SignerKeyId;
    if (context.SignedComment) {
        record.SignedComment = Utf8Escaped(*context.SignedComment);
    }
    return record;
}

Json RecordJson(const HistoryRecord& record)
{
    Json line = Json::object();
    AddColumns(line, record, JsonPlace::Line);
    AddColumns(line, record, JsonPlace::LineEnd);
    return line;
}

std::vector<std::string> UnreadableFields(const HistoryRecord& record)
{
    std::vector<std::string> keys;
    for (const HistoryColumn& column : HISTORY_COLUMNS) {
        if (column.Form == JsonForm::JsonText && ColumnJson(column, record).is_null() &&
            !std::holds_alternative<std::monostate>(column.Get(record))) {
            keys.emplace_back(column.JsonKey);
        }
    }
    return keys;
}

Json RecordJson(const RecordContext& context, const DeviceRunReport& report, std::int64_t startMs,
                std::int64_t endMs, const std::string& recordId)
{
    return RecordJson(MakeHistoryRecord(context, report, startMs, endMs, recordId));
}

Json HistoryJson(const HistoryRecord& record)
{
    Json object = RecordJson(record);
    AddColumns(object, record, JsonPlace::History);
    const std::optional<std::int64_t> elapsed = record.ElapsedMs();
    object["ElapsedMs"] = elapsed ? Json(*elapsed) : Json(nullptr);
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
    // The line escapes every control character, so it holds no newline but its last.
    return file_->Append(JsonLine(RecordJson(context_, report, start, end, recordId)) + '\n');
}

}  // namespace tarvik::cli
