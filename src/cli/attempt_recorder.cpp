#include "cli/attempt_recorder.h"

#include "platform/formats/utf8_text.h"
#include "platform/version.h"

namespace tarvik::cli {

AttemptRecorder::AttemptRecorder(const CliOptions& options, std::ostream& err, std::mutex& noteLock,
                                 UtcClock& utc)
    : options_(options), err_(err), noteLock_(noteLock), utc_(utc)
{
}

bool AttemptRecorder::Open(const std::string& interfaceName, FileSystem& files,
                           const ImageTrust& trust)
{
    history_ = std::make_unique<HistorySink>(options_.History, err_, noteLock_);
    if (options_.RecordPath.empty() && !history_->Keeps()) {
        return true;
    }
    context_ = RecordContext{interfaceName, options_.ImagePath,
                             DigestImageFile(files, options_.ImagePath), options_.PaceMs,
                             SignatureStateName(trust.State), std::nullopt, std::nullopt};
    if (!trust.KeyId.empty()) {
        context_.SignerKeyId = trust.KeyId;
        context_.SignedComment = trust.Comment;
    }
    if (options_.RecordPath.empty()) {
        return true;
    }
    std::string error;
    recorder_ = UpgradeRecorder::Open(options_.RecordPath, context_, error);
    if (!recorder_) {
        err_ << "tarvik-cli: cannot append to " << options_.RecordPath << ": " << error << '\n';
        return false;
    }
    return true;
}

StationHeartbeat AttemptRecorder::Heartbeat() const
{
    StationHeartbeat heartbeat;
    heartbeat.Station = history_ ? history_->Station() : std::string();
    heartbeat.ProgramVersion = std::string(TARVIK_VERSION);
    heartbeat.FileName = Utf8Escaped(options_.ImagePath);
    if (context_.Digest) {
        heartbeat.Sha256 = context_.Digest->Sha256;
    }
    return heartbeat;
}

void AttemptRecorder::RunStarts(std::size_t attempt)
{
    std::lock_guard lock(lock_);
    attempts_[attempt].Start = utc_.MillisecondsSinceEpoch();
}

void AttemptRecorder::RunEnds(std::size_t attempt, const DeviceRunReport& report,
                              const std::string& recordId)
{
    Times times;
    {
        std::lock_guard lock(lock_);
        const std::int64_t end = utc_.MillisecondsSinceEpoch();
        Times& kept = attempts_[attempt];
        if (kept.Start == 0) {
            kept.Start = end;
        }
        kept.End = end;
        kept.RecordId = recordId;
        if (options_.ReadBack && ReadsBack(report)) {
            return;  // recorded once the read-back is over
        }
        times = kept;
        attempts_.erase(attempt);
    }
    Write(report, times);
}

void AttemptRecorder::ReadBack(std::size_t attempt, const DeviceRunReport& report)
{
    Times times;
    {
        std::lock_guard lock(lock_);
        const auto found = attempts_.find(attempt);
        if (found == attempts_.end()) {
            return;
        }
        times = found->second;
        attempts_.erase(found);
    }
    Write(report, times);
}

void AttemptRecorder::Write(const DeviceRunReport& report, const Times& times)
{
    if (recorder_ && !recorder_->Write(report, times.Start, times.End, times.RecordId)) {
        std::lock_guard lock(noteLock_);
        err_ << "tarvik-cli: the record of " << report.DeviceName << " could not be written to "
             << options_.RecordPath << '\n';
    }
    if (HistoryKept()) {
        history_->Add(context_, report, times.Start, times.End, times.RecordId);
    }
}

}  // namespace tarvik::cli
