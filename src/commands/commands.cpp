#include "commands/commands.h"

#include <algorithm>
#include <optional>

#include "commands/command_line_flows.h"
#include "commands/outcomes.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

class WaitCursor {
public:
    explicit WaitCursor(CommandPort& port) : port_(port) { port_.BeginWaitCursor(); }
    ~WaitCursor() { port_.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    CommandPort& port_;
};

// Keeps the image file of a transfer from outliving the command, however it ends.
class TransferFileGuard {
public:
    explicit TransferFileGuard(UpgradeLink& link) : link_(link) {}
    ~TransferFileGuard() { Close(); }
    TransferFileGuard(const TransferFileGuard&) = delete;
    TransferFileGuard& operator=(const TransferFileGuard&) = delete;

    void Close()
    {
        if (open_) {
            open_ = false;
            link_.CloseTransferFile();
        }
    }

private:
    UpgradeLink& link_;
    bool open_ = true;
};

// The transfer reports to the display only while the command that owns the display runs.
class ProgressAttachment {
public:
    ProgressAttachment(RunState& run, ProgressDisplay& progress) : run_(run)
    {
        run_.Progress = &progress;
    }
    ~ProgressAttachment() { run_.Progress = nullptr; }
    ProgressAttachment(const ProgressAttachment&) = delete;
    ProgressAttachment& operator=(const ProgressAttachment&) = delete;

private:
    RunState& run_;
};

// Shows the outcome's text, when it has one, and returns it.
UpgradeOutcome Report(CommandPort& port, UpgradeOutcome outcome)
{
    if (const std::string_view text = RowOf(outcome).Text; !text.empty()) {
        port.ShowMessage(text);
    }
    return outcome;
}

// Whether the signed list of a verified image lets it go to this device: its board among the
// listed ones, and, unless rollback is allowed, its firmware no newer than the image's. Finished
// when it does (or when no list was signed).
UpgradeOutcome SignedListAllows(const SignedUse* use, const ImageDescriptor& device)
{
    if (use == nullptr || !use->HasList) {
        return UpgradeOutcome::Finished;
    }
    const auto board = device.BoardCode();
    if (std::none_of(use->Boards.begin(), use->Boards.end(), [&](const auto& listed) {
            return std::equal(listed.begin(), listed.end(), board.begin());
        })) {
        return UpgradeOutcome::BoardNotSigned;
    }
    if (use->Version && !use->RollbackAllowed) {
        const std::array<std::uint8_t, 2> running = {device.Bytes[DESC_FW_VERSION],
                                                     device.Bytes[DESC_FW_VERSION + 1]};
        if (running > *use->Version) {
            return UpgradeOutcome::RollbackRefused;
        }
    }
    return UpgradeOutcome::Finished;
}

UpgradeOutcome CheckStep(RunState& run, UpgradeLink& link, CommandPort& port,
                         const MacAddress& target, const std::string& imagePath,
                         std::optional<ImageDescriptor>* device = nullptr)
{
    ImageDescriptor answer;
    const int checked = link.CheckImageForTarget(imagePath, target, &answer);
    if (device != nullptr && (checked == CHECK_FITS || checked == CHECK_BOARD_MISMATCH)) {
        *device = answer;
    }
    switch (checked) {
    case CHECK_FITS:
        return Report(port, SignedListAllows(run.ImageUse.get(), answer));
    case CHECK_NO_PATH:
        return Report(port, UpgradeOutcome::FileNotSelected);
    case CHECK_IMAGE_UNREADABLE:
        return Report(port, UpgradeOutcome::FileFormatError);
    case CHECK_QUERY_FAILED:
        return Report(port, UpgradeOutcome::CommunicationFail);
    case CHECK_BOARD_MISMATCH:
        return Report(port, UpgradeOutcome::HardwareMismatch);
    default:
        return UpgradeOutcome::Other;
    }
}

UpgradeOutcome OpenStep(UpgradeLink& link, CommandPort& port, const MacAddress& target,
                        const std::string& imagePath)
{
    switch (link.OpenTransfer(target, imagePath)) {
    case OPEN_READY:
        return UpgradeOutcome::Finished;
    case OPEN_NO_PATH:
        return Report(port, UpgradeOutcome::FileNotSelected);
    case OPEN_CANNOT_OPEN:
        return Report(port, UpgradeOutcome::FileNotFound);
    case OPEN_NO_DESCRIPTOR:
        return Report(port, UpgradeOutcome::FileFormatError);
    default:
        return UpgradeOutcome::Other;
    }
}

}  // namespace

UpgradeOutcome RunUpgradeCommand(RunState& run, CommandPort& port, ProgressDisplay& progress,
                                 const std::string& deviceName, const std::string& imagePath)
{
    return RunUpgradeCommand(run, port, progress, deviceName, imagePath, StopRequested{});
}

UpgradeOutcome RunUpgradeCommand(RunState& run, CommandPort& port, ProgressDisplay& progress,
                                 const std::string& deviceName, const std::string& imagePath,
                                 const StopRequested& stopRequested,
                                 std::optional<ImageDescriptor>* device)
{
    WaitCursor cursor(port);
    UpgradeLink link(run);
    const MacAddress target = ParseDeviceName(deviceName);

    if (const UpgradeOutcome checked = CheckStep(run, link, port, target, imagePath, device);
        checked != UpgradeOutcome::Finished) {
        return checked;
    }
    if (const UpgradeOutcome opened = OpenStep(link, port, target, imagePath);
        opened != UpgradeOutcome::Finished) {
        return opened;
    }
    TransferFileGuard file(link);

    if (link.SendBegin(run.Session) != BUILD_SENT) {
        file.Close();
        return Report(port, UpgradeOutcome::RequestTargetError);
    }

    ProgressAttachment attachment(run, progress);
    progress.BeginProgress(run.Session.FileSize);
    for (;;) {
        if (stopRequested && stopRequested()) {
            return UpgradeOutcome::Other;
        }
        link.PollTransferReply();
        if (link.CheckSessionTimeout() != TIMEOUT_OK) {
            // The device is half-written and nothing more can reach it: a failure, never a
            // pause with the progress display frozen.
            file.Close();
            return Report(port, UpgradeOutcome::SendFailed);
        }
        if (run.Session.State == SESSION_DONE) {
            return UpgradeOutcome::Finished;
        }
        if (run.Session.State == SESSION_FAILED) {
            file.Close();
            return Report(port, UpgradeOutcome::ProcessError);
        }
    }
}

UpgradeOutcome RunCheckCommand(RunState& run, CommandPort& port, const std::string& deviceName,
                               const std::string& imagePath)
{
    WaitCursor cursor(port);
    UpgradeLink link(run);
    return CheckStep(run, link, port, ParseDeviceName(deviceName), imagePath);
}

bool ShowFileInformation(RunState& run, CommandPort& port, const std::string& imagePath,
                         ImageDescriptor& descriptor)
{
    WaitCursor cursor(port);
    UpgradeLink link(run);
    if (link.LoadImageDescriptor(imagePath, descriptor) != 0) {
        port.ShowMessage(RowOf(InquiryOutcome::FileAccessError).Text);
        return false;
    }
    return true;
}

bool ShowDeviceInformation(RunState& run, CommandPort& port, const std::string& deviceName,
                           ImageDescriptor& descriptor)
{
    WaitCursor cursor(port);
    UpgradeLink link(run);
    ImageDescriptor answer;
    if (link.FetchTargetInfo(ParseDeviceName(deviceName), answer.Bytes.data()) != QUERY_OK) {
        port.ShowMessage(RowOf(InquiryOutcome::AccessTargetError).Text);
        return false;
    }
    descriptor = answer;
    return true;
}

bool BrowseTargets(RunState& run, CommandPort& port, std::vector<std::string>& names)
{
    WaitCursor cursor(port);
    run.SelectedTarget.clear();
    names.clear();
    UpgradeLink link(run);
    if (link.DiscoverTargets(names) == DISCOVERY_FAILED) {
        names.clear();
        port.ShowMessage(RowOf(InquiryOutcome::BroadcastError).Text);
        return false;
    }
    // The browse list offers 64 rows; the first 64 of the sorted names are kept.
    static_assert(BROWSE_LIST_ROWS == NAME_TABLE_SLOTS);
    if (names.size() > BROWSE_LIST_ROWS) {
        names.resize(BROWSE_LIST_ROWS);
    }
    return true;
}

}  // namespace tarvik
