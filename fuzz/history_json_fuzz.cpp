// The JSON writers of records, events and the history's output, with any bytes in every text a
// record, an event or a listing carries (file names, station and operator, device names and
// results, stored descriptors) and any numbers in every count and time. Every line written
// must parse as JSON and hold no newline; the text tables must keep one line per row.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/device_summary.h"
#include "cli/event_stream.h"
#include "cli/history_report.h"
#include "cli/json_output.h"
#include "cli/upgrade_record.h"

namespace tarvik {
namespace {

[[noreturn]] void Fault(const char* what, const std::string& line)
{
    std::fprintf(stderr, "history JSON fault: %s: %s\n", what, line.c_str());
    std::abort();
}

void CheckLine(const std::string& line)
{
    if (line.find('\n') != std::string::npos) {
        Fault("a line holds a newline", line);
    }
    if (cli::Json::parse(line, nullptr, false).is_discarded()) {
        Fault("a line does not parse", line);
    }
}

void CheckLines(const std::string& text, std::size_t expected)
{
    std::istringstream lines(text);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        CheckLine(line);
    }
    if (count != expected) {
        Fault("the events are not one line each", text);
    }
}

void CheckTable(const std::string& table, std::size_t rows)
{
    std::size_t count = 0;
    for (const char c : table) {
        count += c == '\n' ? 1 : 0;
    }
    if (count != rows + 1) {
        Fault("a table row split or vanished", table);
    }
}

class FixedClock final : public UtcClock {
public:
    explicit FixedClock(std::int64_t ms) : ms_(ms) {}
    std::int64_t MillisecondsSinceEpoch() override { return ms_; }

private:
    std::int64_t ms_;
};

HistoryRecord MakeRecord(FuzzedDataProvider& data)
{
    const auto text = [&] { return data.ConsumeRandomLengthString(64); };
    const auto maybe = [&]() -> std::optional<std::string> {
        return data.ConsumeBool() ? std::optional<std::string>(text()) : std::nullopt;
    };
    HistoryRecord record;
    record.RecordId = text();
    record.StartMs = data.ConsumeIntegral<std::int64_t>();
    record.EndMs = data.ConsumeIntegral<std::int64_t>();
    record.Station = text();
    record.Operator = text();
    record.ProgramVersion = text();
    record.Interface = text();
    record.DeviceName = text();
    record.DescriptorBefore = maybe();
    record.DescriptorAfter = maybe();
    record.FileName = text();
    if (data.ConsumeBool()) {
        record.FileSize = data.ConsumeIntegral<std::uint64_t>();
    }
    record.Sha256 = maybe();
    record.PaceMs = data.ConsumeIntegral<std::uint32_t>();
    record.FramesSent = data.ConsumeIntegral<std::uint64_t>();
    record.FramesResent = data.ConsumeIntegral<std::uint64_t>();
    record.Result = text();
    record.ExitStatus = data.ConsumeIntegral<std::int64_t>();
    return record;
}

// What a run reports and the command shares, as the upgrade and the station write them.
void CheckRun(FuzzedDataProvider& data, const HistoryRecord& record)
{
    cli::RecordContext context;
    context.Interface = record.Interface;
    context.ImagePath = record.FileName;
    context.PaceMs = record.PaceMs;
    DeviceRunReport report;
    report.DeviceName = record.DeviceName;
    report.Result = record.Result;
    report.ExitStatus = data.ConsumeIntegral<int>();
    report.Skipped = data.ConsumeBool();
    if (data.ConsumeBool()) {
        ImageDescriptor descriptor;
        const std::vector<std::uint8_t> bytes = data.ConsumeBytes<std::uint8_t>(DESCRIPTOR_BYTES);
        std::copy(bytes.begin(), bytes.end(), descriptor.Bytes.begin());
        report.Descriptor = descriptor;
        report.DescriptorAfter = descriptor;
    }
    report.FramesSent = record.FramesSent;
    const HistoryRecord made =
        cli::MakeHistoryRecord(context, report, record.StartMs, record.EndMs, record.RecordId);
    CheckLine(cli::JsonLine(cli::RecordJson(made)));
    CheckLine(cli::JsonLine(cli::HistoryJson(made)));
    CheckLine(cli::JsonLine(cli::DeviceResultJson(report, record.FileName)));
    CheckLine(cli::JsonLine(cli::ErrorJson(record.Result)));
    CheckLine(cli::JsonLine(cli::NamesJson({record.DeviceName, record.Station})));

    std::ostringstream out;
    FixedClock clock(record.StartMs);
    cli::EventStream events(out, clock);
    events.Discovered(record.DeviceName);
    events.Started(record.DeviceName, record.RecordId);
    ProgressReport progress;
    progress.BytesDone = data.ConsumeIntegral<std::uint64_t>();
    progress.BytesTotal = data.ConsumeIntegral<std::uint64_t>();
    events.Progress(record.DeviceName, progress);
    events.Ends(report, record.RecordId);
    CheckLines(out.str(), 4);
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvik;
    FuzzedDataProvider provider(data, size);
    std::vector<HistoryRecord> records;
    for (int i = 0; i < 3 && provider.remaining_bytes() > 0; ++i) {
        records.push_back(MakeRecord(provider));
    }
    for (const HistoryRecord& record : records) {
        CheckLine(cli::JsonLine(cli::RecordJson(record)));
        CheckLine(cli::JsonLine(cli::HistoryJson(record)));
    }
    const std::vector<cli::HistoryStats> stats = cli::ComputeStats(records);
    for (const cli::HistoryStats& row : stats) {
        CheckLine(cli::JsonLine(cli::StatsJson(row)));
    }
    CheckTable(cli::HistoryTable(records), records.size());
    CheckTable(cli::StatsTable(stats), stats.size());
    if (!records.empty()) {
        CheckRun(provider, records.front());
    }
    return 0;
}
