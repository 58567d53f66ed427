// Replies from devices the tool does not control. Frames of any content answer the tool's
// requests during discovery, the information query and every phase of a transfer (begin,
// write, verify, reset); they reach the tool through the virtual segment and its binding in
// simulated time. The tool must not crash, must end every exchange within its tries, and its
// progress reports must stay within the file and move forward only.
//
// One run (clock, lab segment, binding, run state, scripted device) serves every input; each
// input starts from a drained segment and a fresh session.
//
// Input: a scenario byte, two option bytes, then the device's script.
//   [0]  scenario, modulo 3: discovery, information query, transfer
//   [1]  bit 0: the typed frame variant (query and transfer); bits 1-4: the image
//   [2]  the high byte of the transfer's first sequence number (the low byte is FE)
//   then entries, each: a control byte, a little-endian length (modulo 1601), that many bytes
//   of frame. The device answers each request it receives with the next entry; once the
//   script runs out it answers as a sound device does.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "image/image_builder.h"
#include "image/image_file.h"
#include "image/memory_file_system.h"
#include "lab/lab_setup.h"
#include "netio/binding.h"
#include "platform/kernel/sim_kernel.h"
#include "protocol/frame.h"
#include "protocol/progress.h"
#include "protocol/upgrade_link.h"
#include "segment/virtual_segment.h"

namespace tarvik {
namespace {

constexpr MacAddress DEVICE = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
constexpr std::size_t LONGEST_SCRIPTED_FRAME = 1600;  // longer than any Ethernet frame

// Control bits of a script entry.
constexpr std::uint8_t TO_BROADCAST = 0x01;  // else to the tool's adapter
constexpr std::uint8_t FROM_DEVICE = 0x02;   // source: the device's address
constexpr std::uint8_t ECHO_ADDRESS = 0x04;  // sequence, offset and segment of the request
constexpr std::uint8_t SAME_KIND = 0x08;     // frame type and opcode of the request
constexpr std::uint8_t SOUND_FIRST = 0x10;   // the sound reply goes out before this one
constexpr std::uint8_t ANOTHER = 0x20;       // the next entry answers the same request
constexpr std::uint32_t DELAYS_MS[4] = {1, 20, 1000, 2500};

// Longest the transfer loop may poll before the run counts as hung: far more than the
// tries of every request of the largest image here, answered by the longest script.
constexpr std::uint64_t TRANSFER_POLL_LIMIT = 200000;

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "reply handling fault: %s\n", what);
    std::abort();
}

// Simulated time whose receive waits last half a second instead of 10 ms. The protocol's
// timers count in units of 990 ms and every wait still ends at the first frame, so the run
// takes the same course in a fraction of the polls.
class StretchedWaitKernel final : public Kernel {
public:
    static constexpr std::uint32_t WAIT_MS = 500;

    explicit StretchedWaitKernel(SimKernel& clock) : clock_(clock) {}

    std::uint32_t GetTickCount() override { return clock_.GetTickCount(); }
    std::uint64_t WallClockMicroseconds() override { return clock_.WallClockMicroseconds(); }
    void Sleep(std::uint32_t milliseconds) override { clock_.Sleep(milliseconds); }
    EventHandle CreateEvent() override { return clock_.CreateEvent(); }
    bool SetEvent(EventHandle event) override { return clock_.SetEvent(event); }
    bool ResetEvent(EventHandle event) override { return clock_.ResetEvent(event); }
    bool CloseHandle(EventHandle event) override { return clock_.CloseHandle(event); }
    std::uint32_t WaitForAny(std::span<const EventHandle> events,
                             std::uint32_t timeoutMilliseconds) override
    {
        return clock_.WaitForAny(events, timeoutMilliseconds == 0
                                             ? 0
                                             : std::max(timeoutMilliseconds, WAIT_MS));
    }
    void Schedule(std::uint32_t delayMilliseconds, std::function<void()> action) override
    {
        clock_.Schedule(delayMilliseconds, std::move(action));
    }

private:
    SimKernel& clock_;
};

class Script {
public:
    struct Entry {
        std::uint8_t Control = 0;
        std::span<const std::uint8_t> Frame;
    };

    Script() = default;
    explicit Script(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

    bool AtEnd() const { return rest_.empty(); }
    Entry Next()
    {
        Entry entry;
        entry.Control = rest_[0];
        std::size_t length = 0;
        if (rest_.size() >= 3) {
            length = LoadLe16(rest_, 1) % (LONGEST_SCRIPTED_FRAME + 1);
        }
        rest_ = rest_.subspan(std::min<std::size_t>(3, rest_.size()));
        length = std::min(length, rest_.size());
        entry.Frame = rest_.first(length);
        rest_ = rest_.subspan(length);
        return entry;
    }

private:
    std::span<const std::uint8_t> rest_;
};

// The device at DEVICE: answers each request from the tool with the next script entry, and
// as a sound device once the script has run out.
class ScriptedDevice final : public SegmentStation {
public:
    explicit ScriptedDevice(VirtualSegment& segment) : segment_(segment) { segment_.Attach(this); }
    ~ScriptedDevice() override { segment_.Detach(this); }
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    void Play(Script script) { script_ = script; }

    MacAddress StationAddress() const override { return DEVICE; }
    bool ReceivesBroadcast() const override { return true; }
    void ReceiveFrame(std::span<const std::uint8_t> frame) override
    {
        const auto request = DecodeHeader(frame);
        if (!request || request->Source != LAB_ADAPTER_ADDRESS) {
            return;
        }
        if (script_.AtEnd()) {
            AnswerSoundly(*request);
            return;
        }
        for (bool another = true; another && !script_.AtEnd();) {
            const Script::Entry entry = script_.Next();
            if ((entry.Control & SOUND_FIRST) != 0) {
                AnswerSoundly(*request);
            }
            segment_.Inject(Shape(entry, *request), DELAYS_MS[entry.Control >> 6]);
            another = (entry.Control & ANOTHER) != 0;
        }
    }

private:
    // The entry's bytes with the fields its control byte asks for taken from the request.
    static std::vector<std::uint8_t> Shape(const Script::Entry& entry, const FrameHeader& request)
    {
        // The segment cannot deliver a frame without a destination.
        std::vector<std::uint8_t> bytes(entry.Frame.begin(), entry.Frame.end());
        if (bytes.size() < FRAME_SOURCE) {
            bytes.resize(FRAME_SOURCE, 0);
        }
        const MacAddress& destination = (entry.Control & TO_BROADCAST) != 0 ? BROADCAST_ADDRESS
                                                                            : LAB_ADAPTER_ADDRESS;
        std::copy(destination.begin(), destination.end(), bytes.begin());
        if (bytes.size() >= FRAME_TYPE && (entry.Control & FROM_DEVICE) != 0) {
            std::copy(DEVICE.begin(), DEVICE.end(), bytes.begin() + FRAME_SOURCE);
        }
        auto header = DecodeHeader(bytes);
        if (!header) {
            return bytes;
        }
        if ((entry.Control & ECHO_ADDRESS) != 0) {
            header->Sequence = request.Sequence;
            header->Offset = request.Offset;
            header->Segment = request.Segment;
        }
        if ((entry.Control & SAME_KIND) != 0) {
            header->FrameType = request.FrameType;
            header->Opcode = request.Opcode;
        }
        EncodeHeader(bytes, *header);
        return bytes;
    }

    // The reply layouts of a device that accepts every request.
    void AnswerSoundly(const FrameHeader& request)
    {
        if (request.Destination != DEVICE &&
            (request.Destination != BROADCAST_ADDRESS || request.Opcode != OP_INFO)) {
            return;
        }
        FrameHeader reply;
        reply.Destination = request.Source;
        reply.Source = DEVICE;
        reply.FrameType = request.FrameType;
        reply.Opcode = request.Opcode;
        std::vector<std::uint8_t> bytes(FRAME_HEADER_BYTES + STATUS_BYTES, 0);
        switch (request.Opcode) {
        case OP_INFO: {
            const ImageDescriptor descriptor =
                LabTargetDescriptor({0, 0x11, 0x22, 0x33, 0x44, 0x55});
            reply.DataLength = DESCRIPTOR_BYTES;
            bytes.resize(FRAME_HEADER_BYTES + DESCRIPTOR_BYTES);
            std::copy(descriptor.Bytes.begin(), descriptor.Bytes.end(), bytes.begin() + FRAME_DATA);
            break;
        }
        case OP_BEGIN:
            reply.Sequence = request.Sequence;
            reply.DataLength = STATUS_BYTES;
            break;
        case OP_WRITE:
        case OP_VERIFY:
            reply.Sequence = request.Sequence;
            reply.Offset = request.Offset;
            reply.Segment = request.Segment;
            reply.DataLength = STATUS_BYTES;
            break;
        case OP_RESET:
            reply.DataLength = 0;  // the status word follows all the same
            break;
        default:
            return;
        }
        EncodeHeader(bytes, reply);
        bytes.resize(std::max<std::size_t>(bytes.size(), 60), 0);
        segment_.Transmit(this, bytes);
    }

    VirtualSegment& segment_;
    Script script_;
};

// Holds the transfer's reports to what a progress window can show.
class CheckedProgress final : public ProgressDisplay {
public:
    void Restart()
    {
        began_ = false;
        total_ = 0;
        phase_ = ProgressPhase::Erase;
    }
    void BeginProgress(std::uint64_t bytesTotal) override
    {
        began_ = true;
        total_ = bytesTotal;
    }
    void SetProgress(const ProgressReport& report) override
    {
        if (!began_ || report.BytesTotal != total_ || report.BytesDone > report.BytesTotal) {
            Fault("a progress report beyond the image");
        }
        if (report.Phase < phase_) {
            Fault("the progress went back to an earlier phase");
        }
        phase_ = report.Phase;
        if (report.Text && *report.Text != ProgressText(report.Phase)) {
            Fault("a progress text that is not its phase's");
        }
        if (const auto& percent = report.Percent;
            percent && (percent->Position < 0 || percent->Position > 100 || percent->Number < 0 ||
                        percent->Number > 100)) {
            Fault("a percent outside 0 to 100");
        }
    }

private:
    bool began_ = false;
    std::uint64_t total_ = 0;
    ProgressPhase phase_ = ProgressPhase::Erase;
};

constexpr std::size_t IMAGE_SIZES[4] = {IMAGE_HEADER_BYTES, BLOCK_BYTES, 1300, 3 * BLOCK_BYTES};
constexpr std::uint16_t CODE_SEGMENTS[2] = {0x1000, 0xFFE0};  // the second wraps at 16 bits
constexpr std::uint64_t READ_ERROR_AT = 600;                  // in the second block

std::string ImagePath(unsigned choice)
{
    return "image-" + std::to_string(choice & 0xF);
}

class Rig {
public:
    Rig()
        : clock_(0x10000), kernel_(clock_), lab_(kernel_), binding_(kernel_, lab_.Driver()),
          run_(binding_, files_), device_(lab_.Segment())
    {
        lab_.Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
        if (binding_.OpenAdapter(LAB_ADAPTER_NAME) < 0 ||
            binding_.OpenRequestEvent() != REQUEST_EVENT_OPEN ||
            binding_.StartReception() != RECEPTION_STARTED) {
            Fault("the lab adapter does not open");
        }
        for (unsigned choice = 0; choice < 16; ++choice) {
            ImageSpec spec;
            spec.Size = IMAGE_SIZES[choice & 3];
            spec.HeaderOffset = 0;
            spec.Descriptor = SampleDescriptor();
            spec.Descriptor.SetCodeSegment(CODE_SEGMENTS[(choice >> 2) & 1]);
            testing::MemoryFileBehaviour behaviour;
            if ((choice & 8) != 0) {
                behaviour.ErrorAt = READ_ERROR_AT;
            }
            files_.Add(ImagePath(choice), BuildImage(spec), behaviour);
        }
    }

    void Run(std::span<const std::uint8_t> input)
    {
        const std::uint8_t scenario = input[0] % 3;
        const std::uint8_t options = input[1];
        Restart(static_cast<std::uint16_t>(input[2] << 8 | 0xFE));
        device_.Play(Script(input.subspan(3)));
        UpgradeLink link(run_);
        switch (scenario) {
        case 0:
            Discover(link);
            break;
        case 1:
            run_.FrameVariant = VariantOf(options);
            Query(link);
            break;
        default:
            run_.FrameVariant = VariantOf(options);
            Transfer(link, ImagePath(options >> 1));
            break;
        }
        device_.Play(Script());
    }

private:
    // The options byte's lowest bit picks the variant the run speaks.
    static FrameVariantKind VariantOf(std::uint8_t options)
    {
        return (options & 1) != 0 ? FrameVariantKind::Typed : FrameVariantKind::Untyped;
    }

    // Every frame still on its way is delivered and taken off the binding; the session starts
    // afresh with the tick count's low 16 bits (the transfer's first sequence) at sequence.
    void Restart(std::uint16_t sequence)
    {
        device_.Play(Script());
        UpgradeLink(run_).CloseTransferFile();
        clock_.Advance(DELAYS_MS[3] + 100);
        std::array<std::uint8_t, RECEIVE_BUFFER_BYTES> drain;
        while (binding_.WaitFrame(drain.data(), drain.size()) != 0) {
        }
        const auto now = static_cast<std::uint16_t>(clock_.GetTickCount() & 0xFFFF);
        clock_.Advance(static_cast<std::uint16_t>(sequence - now));
        run_.Session = SessionState{};
        run_.FrameVariant = FrameVariantKind::Untyped;
        run_.SelectedTarget.clear();
        run_.Progress = nullptr;
        progress_.Restart();
    }

    static void Discover(UpgradeLink& link)
    {
        std::vector<std::string> names;
        const int found = link.DiscoverTargets(names);
        if (found != DISCOVERY_FAILED && static_cast<std::size_t>(found) != names.size()) {
            Fault("discovery counts other names than it lists");
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            const MacAddress address = ParseDeviceName(names[i]);
            if (FormatDeviceName(address) != names[i]) {
                Fault("a discovered name does not name its device again");
            }
            if (i > 0 && names[i - 1] >= names[i]) {
                Fault("discovered names out of order or twice");
            }
        }
    }

    static void Query(UpgradeLink& link)
    {
        ImageDescriptor device;
        if (link.QueryTargetInfo(DEVICE, device.Bytes.data()) == QUERY_OK) {
            for (const DescriptorField field : DISPLAYED_FIELDS) {
                if (FormatField(device, field).empty()) {
                    Fault("a device field shows nothing");
                }
            }
        }
    }

    void Transfer(UpgradeLink& link, const std::string& path)
    {
        if (link.OpenTransfer(DEVICE, path) != OPEN_READY) {
            Fault("the transfer does not open its image");
        }
        run_.Progress = &progress_;
        if (link.SendBegin(run_.Session) != BUILD_SENT) {
            Fault("the first request does not go out");
        }
        progress_.BeginProgress(run_.Session.FileSize);
        for (std::uint64_t polls = 0;; ++polls) {
            if (polls > TRANSFER_POLL_LIMIT) {
                Fault("the transfer never ends");
            }
            link.PollTransferReply();
            if (link.CheckSessionTimeout() != TIMEOUT_OK) {
                break;
            }
            if (run_.Session.State == SESSION_DONE || run_.Session.State == SESSION_FAILED) {
                break;
            }
        }
        link.CloseTransferFile();
    }

    SimKernel clock_;
    StretchedWaitKernel kernel_;
    Lab lab_;
    Binding binding_;
    testing::MemoryFileSystem files_;
    RunState run_;
    ScriptedDevice device_;
    CheckedProgress progress_;
};

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3) {
        return -1;
    }
    static tarvik::Rig rig;
    rig.Run(std::span(data, size));
    return 0;
}
