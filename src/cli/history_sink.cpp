#include "cli/history_sink.h"

#include "platform/formats/utf8_text.h"
#include "platform/host/user_identity.h"
#include "platform/version.h"

namespace tarvik::cli {

HistorySink::HistorySink(const HistoryOptions& options, std::ostream& err, std::mutex& errLock)
    : HistorySink(nullptr, options, err, errLock)
{
    path_ = HistoryPath(options);
    if (path_.empty()) {
        return;
    }
    std::string error;
    log_ = OpenAttemptLog(path_, error);
    if (!log_) {
        Warn("the history " + path_ + " cannot be kept (" + error +
             "); the upgrade goes on without it");
    }
}

HistorySink::HistorySink(std::unique_ptr<AttemptLog> log, const HistoryOptions& options,
                         std::ostream& err, std::mutex& errLock)
    // Names typed in any encoding, or a machine's or user's name that is not UTF-8, enter the
    // history escaped as the record's other texts are.
    : log_(std::move(log)),
      station_(Utf8Escaped(options.Station.empty() ? MachineName() : options.Station)),
      operator_(Utf8Escaped(options.Operator.empty() ? LoginName() : options.Operator)), err_(err),
      errLock_(errLock)
{
}

void HistorySink::Add(const RecordContext& context, const DeviceRunReport& report,
                      std::int64_t startMs, std::int64_t endMs, const std::string& recordId)
{
    if (!log_) {
        return;
    }
    HistoryRecord record = MakeHistoryRecord(context, report, startMs, endMs, recordId);
    record.Station = station_;
    record.Operator = operator_;
    record.ProgramVersion = std::string(TARVIK_VERSION);
    std::string error;
    std::lock_guard lock(lock_);
    if (!log_->Add(record, error)) {
        Warn("the record of " + report.DeviceName + " could not be added to the history " + path_ +
             " (" + error + ")");
    }
}

void HistorySink::Warn(const std::string& line)
{
    // One warning a run: a history that fails once usually fails for every device.
    if (warned_) {
        return;
    }
    warned_ = true;
    std::lock_guard lock(errLock_);
    err_ << "tarvik-cli: " << line << '\n';
}

}  // namespace tarvik::cli
