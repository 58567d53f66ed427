// The tool's end of the link in end-to-end tests: opens one real interface through the libpcap
// packet driver and the binding, exactly as the program does at start-up, then runs steps
// from the command line in order and prints what each saw, one line per fact.
//
//   binding_probe IFNAME STEP...
//     address                   "address xx:xx:xx:xx:xx:xx" (QueryStationAddress) or fails
//     medium                    "medium N" (CheckMedium's result)
//     send HEX                  "send N" (SendFrame's result)
//     variant N                 sets FrameVariant for the builders: 1 typed, 0 untyped
//     session MAC SEQ OFF SEG   sets the session's Target, Sequence, Offset and Segment
//                               (numbers in hex)
//     probe | info | begin | reset
//                               "built NAME N": SendProbe, SendInfoRequest, SendBegin or
//                               SendReset and its result
//     write LEN | verify LEN    the same for SendWriteBlock / SendVerifyBlock with a block of
//                               LEN bytes 00 01 02 ... (modulo 256)
//     quiet MS                  collects frames for MS ms; "frame HEX" for each (none expected)
//     receive-until HEX MS      "frame HEX" for each frame until the frame HEX came and the
//                               link fell quiet; fails when HEX did not come within MS ms
//     count-until HEX MS        as receive-until, but prints "count N distinct D" instead
//     mark TEXT                 prints "mark TEXT" (the harness waits for it)
//
// It prints "ready" once reception is started. Exit status 0 when every step succeeded.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hex_text.h"

#include "netio/binding.h"
#include "platform/files/file_system.h"
#include "platform/capture/pcap_driver.h"
#include "platform/kernel/real_kernel.h"
#include "protocol/run_state.h"
#include "protocol/upgrade_link.h"

namespace {

using namespace tarvik;
using e2e::Bytes;
using e2e::Hex;
using e2e::ParseHex;

constexpr std::size_t RECEIVE_CAPACITY = 1520;

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class Probe {
public:
    Probe() : driver_(kernel_), binding_(kernel_, driver_), run_(binding_, files_) {}

    bool Start(const std::string& interfaceName)
    {
        const std::string adapter = "\\Device\\" + interfaceName;
        if (binding_.OpenAdapter(adapter.c_str()) == INVALID_ADAPTER) {
            std::fprintf(stderr, "binding_probe: cannot open %s\n", adapter.c_str());
            return false;
        }
        if (const int result = binding_.OpenRequestEvent(); result != 0) {
            std::fprintf(stderr, "binding_probe: OpenRequestEvent %d\n", result);
            return false;
        }
        if (const int result = binding_.StartReception(); result != 0) {
            std::fprintf(stderr, "binding_probe: StartReception %d\n", result);
            return false;
        }
        Say("ready");
        return true;
    }

    bool Address()
    {
        std::uint8_t address[6] = {};
        if (binding_.QueryStationAddress(address) != 0) {
            std::fprintf(stderr, "binding_probe: QueryStationAddress failed\n");
            return false;
        }
        MacAddress station{};
        std::copy(std::begin(address), std::end(address), station.begin());
        Say("address " + FormatMacAddress(station));
        return true;
    }

    bool Medium()
    {
        Say("medium " + std::to_string(binding_.CheckMedium()));
        return true;
    }

    bool Send(const Bytes& frame)
    {
        const int result =
            binding_.SendFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
        Say("send " + std::to_string(result));
        return result == SEND_OK;
    }

    bool Quiet(std::uint32_t milliseconds)
    {
        const std::uint32_t start = kernel_.GetTickCount();
        while (kernel_.GetTickCount() - start < milliseconds) {
            if (const auto frame = Next()) {
                Say("frame " + Hex(frame->data(), frame->size()));
            }
        }
        return true;
    }

    // Frames until `last` arrives, then every frame still waiting behind it. Collected frames
    // come out in slot order, not always in arrival order, so the drain picks up those that
    // arrived earlier but sit in higher slots.
    bool ReceiveUntil(const Bytes& last, std::uint32_t milliseconds, std::vector<Bytes>& frames)
    {
        const std::uint32_t start = kernel_.GetTickCount();
        bool seen = false;
        while (!seen) {
            if (kernel_.GetTickCount() - start >= milliseconds) {
                std::fprintf(stderr, "binding_probe: the last frame did not come (%zu others)\n",
                             frames.size());
                return false;
            }
            if (auto frame = Next()) {
                seen = *frame == last;
                frames.push_back(std::move(*frame));
            }
        }
        while (auto frame = Next()) {
            frames.push_back(std::move(*frame));
        }
        return true;
    }

    void Variant(std::uint16_t variant)
    {
        run_.FrameVariant = variant == 1 ? FrameVariantKind::Typed : FrameVariantKind::Untyped;
    }

    bool Session(const std::string& target, std::uint16_t sequence, std::uint16_t offset,
                 std::uint16_t segment)
    {
        const auto address = ParseHex(target);
        if (!address || address->size() != 6) {
            return false;
        }
        SessionState& session = run_.Session;
        std::copy(address->begin(), address->end(), session.Target.begin());
        session.Sequence = sequence;
        session.Offset = offset;
        session.Segment = segment;
        return true;
    }

    bool Build(const std::string& builder, std::size_t blockLength)
    {
        UpgradeLink link(run_);
        Bytes block(blockLength);
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<std::uint8_t>(i);
        }
        const SessionState& session = run_.Session;
        int result = -1;
        if (builder == "probe") {
            result = link.SendProbe();
        } else if (builder == "info") {
            result = link.SendInfoRequest(session);
        } else if (builder == "begin") {
            result = link.SendBegin(session);
        } else if (builder == "reset") {
            result = link.SendReset(session);
        } else if (builder == "write") {
            result = link.SendWriteBlock(session, block.data(), block.size());
        } else if (builder == "verify") {
            result = link.SendVerifyBlock(session, block.data(), block.size());
        }
        Say("built " + builder + " " + std::to_string(result));
        return result == BUILD_SENT;
    }

private:
    std::optional<Bytes> Next()
    {
        std::uint8_t buffer[RECEIVE_CAPACITY];
        const std::uint32_t length = binding_.WaitFrame(buffer, sizeof buffer);
        if (length == 0) {
            return std::nullopt;
        }
        return Bytes(buffer, buffer + length);
    }

    RealKernel kernel_;
    PcapPacketDriver driver_;
    Binding binding_;
    SystemFileSystem files_;
    RunState run_;
};

int Usage()
{
    std::fprintf(stderr, "usage: binding_probe IFNAME STEP... (see the source for steps)\n");
    return 64;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return Usage();
    }
    Probe probe;
    if (!probe.Start(argv[1])) {
        return 1;
    }
    const std::vector<std::string> steps(argv + 2, argv + argc);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::string& step = steps[i];
        const bool hasArgument = i + 1 < steps.size();
        const bool hasTwo = i + 2 < steps.size();
        bool ok = false;
        if (step == "address") {
            ok = probe.Address();
        } else if (step == "medium") {
            ok = probe.Medium();
        } else if (step == "send" && hasArgument) {
            const auto frame = ParseHex(steps[++i]);
            ok = frame && probe.Send(*frame);
        } else if (step == "quiet" && hasArgument) {
            ok = probe.Quiet(static_cast<std::uint32_t>(std::stoul(steps[++i])));
        } else if ((step == "receive-until" || step == "count-until") && hasTwo) {
            const auto last = ParseHex(steps[++i]);
            const auto milliseconds = static_cast<std::uint32_t>(std::stoul(steps[++i]));
            std::vector<Bytes> frames;
            ok = last && probe.ReceiveUntil(*last, milliseconds, frames);
            if (step == "receive-until") {
                for (const Bytes& frame : frames) {
                    Say("frame " + Hex(frame.data(), frame.size()));
                }
            } else {
                const std::set<Bytes> distinct(frames.begin(), frames.end());
                Say("count " + std::to_string(frames.size()) + " distinct " +
                    std::to_string(distinct.size()));
            }
        } else if (step == "variant" && hasArgument) {
            probe.Variant(static_cast<std::uint16_t>(std::stoul(steps[++i])));
            ok = true;
        } else if (step == "session" && i + 4 < steps.size()) {
            const std::string target = steps[i + 1];
            const auto field = [&](std::size_t k) {
                return static_cast<std::uint16_t>(std::stoul(steps[i + k], nullptr, 16));
            };
            ok = probe.Session(target, field(2), field(3), field(4));
            i += 4;
        } else if (step == "probe" || step == "info" || step == "begin" || step == "reset") {
            ok = probe.Build(step, 0);
        } else if ((step == "write" || step == "verify") && hasArgument) {
            ok = probe.Build(step, std::stoul(steps[++i]));
        } else if (step == "mark" && hasArgument) {
            Say("mark " + steps[++i]);
            ok = true;
        } else {
            return Usage();
        }
        if (!ok) {
            std::fprintf(stderr, "binding_probe: step %s failed\n", step.c_str());
            return 1;
        }
    }
    return 0;
}
