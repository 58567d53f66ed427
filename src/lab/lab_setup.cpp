#include "lab/lab_setup.h"

#include <algorithm>
#include <cstdlib>

#include "image/image_builder.h"
#include "protocol/upgrade_link.h"

namespace tarvik {

ImageDescriptor LabTargetDescriptor(const std::array<std::uint8_t, 6>& boardCode)
{
    ImageDescriptor descriptor = SampleDescriptor();
    std::copy(boardCode.begin(), boardCode.end(), descriptor.Bytes.begin() + DESC_BOARD_CODE);
    // The devices run the firmware before the sample image's 01 03.
    descriptor.Bytes[DESC_FW_VERSION] = 0x01;
    descriptor.Bytes[DESC_FW_VERSION + 1] = 0x02;
    return descriptor;
}

std::vector<TargetConfig> BuiltInLabTargets()
{
    std::vector<TargetConfig> targets(3);
    targets[0].Address = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
    targets[0].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    targets[1].Address = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x07};
    targets[1].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x66});
    targets[1].Variants = {FrameVariantKind::Untyped};
    targets[2].Address = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    targets[2].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    targets[2].Variants = {FrameVariantKind::Typed};
    return targets;
}

Lab::Lab(Kernel& kernel, std::uint32_t latencyMs)
    : kernel_(kernel), segment_(kernel, latencyMs), driver_(kernel, segment_)
{
}

Lab::~Lab()
{
    {
        std::lock_guard lock(plugGuard_->Lock);
        plugGuard_->Open = false;
    }
    // Stations detach before the segment goes.
    targets_.clear();
    replays_.clear();
}

EmulatedTargetStation& Lab::AddTarget(TargetConfig config)
{
    targets_.push_back(std::make_unique<EmulatedTargetStation>(segment_, std::move(config)));
    return *targets_.back();
}

ReplayTargetStation& Lab::AddReplayTarget(ReplayTarget device)
{
    replays_.push_back(std::make_unique<ReplayTargetStation>(segment_, std::move(device)));
    return *replays_.back();
}

void Lab::PlugOverTime(const std::vector<LabPlug>& plan)
{
    for (const LabPlug& plug : plan) {
        EmulatedTargetStation* target = FindTarget(plug.Device);
        if (target == nullptr) {
            TargetConfig config;
            config.Address = plug.Device;
            config.Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
            target = &AddTarget(std::move(config));
        }
        const auto later = [target, guard = plugGuard_](bool in) {
            return [target, guard, in] {
                std::lock_guard lock(guard->Lock);
                if (guard->Open) {
                    in ? target->Plug() : target->Unplug();
                }
            };
        };
        // Off the segment until its first time in; a device plugged in at the start is on it.
        const bool firstIn = std::none_of(plan.begin(), plan.end(), [&](const LabPlug& other) {
            return other.Device == plug.Device && other.InMs < plug.InMs;
        });
        if (plug.InMs > 0) {
            if (firstIn) {
                target->Unplug();
            }
            kernel_.Schedule(plug.InMs, later(true));
        }
        if (plug.OutMs) {
            kernel_.Schedule(*plug.OutMs, later(false));
        }
    }
}

EmulatedTargetStation* Lab::FindTarget(const MacAddress& address)
{
    for (auto& target : targets_) {
        if (target->StationAddress() == address) {
            return target.get();
        }
    }
    return nullptr;
}

std::unique_ptr<Lab> MakeBuiltInLab(Kernel& kernel, bool builtInTargets)
{
    auto lab = std::make_unique<Lab>(kernel);
    lab->Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
    if (builtInTargets) {
        for (auto& config : BuiltInLabTargets()) {
            lab->AddTarget(std::move(config));
        }
    }
    return lab;
}

std::unique_ptr<Lab> MakeReplayLab(Kernel& kernel, ReplayTarget device)
{
    // A recorded delay is the time from request to reply as the tool saw it, the wire both
    // ways included: a segment that took time of its own would add it again, and a reply the
    // tool got just within a timeout would come just after it.
    auto lab = std::make_unique<Lab>(kernel, 0);
    lab->Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
    lab->AddReplayTarget(std::move(device));
    return lab;
}

namespace {

// Seconds with up to three decimals, as milliseconds.
std::optional<std::uint32_t> ParseSeconds(std::string_view text)
{
    std::uint64_t milliseconds = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        milliseconds = milliseconds * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (milliseconds > 86'400'000) {
            return std::nullopt;
        }
    }
    if (i == 0) {
        return std::nullopt;
    }
    milliseconds *= 1000;
    if (i < text.size() && text[i] == '.') {
        std::uint64_t scale = 100;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9' && scale > 0; ++i) {
            milliseconds += static_cast<std::uint64_t>(text[i] - '0') * scale;
            scale /= 10;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(milliseconds);
}

}  // namespace

std::optional<LabPlug> ParseLabPlug(std::string_view text, std::string& error)
{
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos || !IsDeviceName(text.substr(0, at))) {
        error = "a plug is NAME@SECONDS or NAME@SECONDS-SECONDS, NAME a device name";
        return std::nullopt;
    }
    LabPlug plug;
    plug.Device = ParseDeviceName(text.substr(0, at));
    const std::string_view times = text.substr(at + 1);
    const std::size_t dash = times.find('-');
    const auto in = ParseSeconds(times.substr(0, dash));
    const auto out = dash == std::string_view::npos ? std::nullopt
                                                    : ParseSeconds(times.substr(dash + 1));
    if (!in || (dash != std::string_view::npos && (!out || *out <= *in))) {
        error = "a plug's times are seconds after the start, the time out after the time in";
        return std::nullopt;
    }
    plug.InMs = *in;
    if (dash != std::string_view::npos) {
        plug.OutMs = out;
    }
    return plug;
}

namespace {

std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

}  // namespace

std::string NetworkCardsExport(const std::vector<std::pair<std::string, std::string>>& cards)
{
    std::string text = "REGEDIT4\n\n";
    text += "[HKEY_LOCAL_MACHINE\\" + std::string(NT_NETWORK_CARDS_KEY) + "]\n\n";
    int index = 1;
    for (const auto& [serviceName, description] : cards) {
        text += "[HKEY_LOCAL_MACHINE\\" + std::string(NT_NETWORK_CARDS_KEY) + "\\" +
                std::to_string(index++) + "]\n";
        text += "\"ServiceName\"=\"" + Escaped(serviceName) + "\"\n";
        text += "\"Description\"=\"" + Escaped(description) + "\"\n\n";
    }
    return text;
}

std::unique_ptr<Registry> MakeLabRegistry()
{
    std::string error;
    // LAB_ADAPTER_NAME is "\Device\lab0"; the card's service name is what follows the prefix.
    std::unique_ptr<Registry> registry =
        FileRegistry::Parse(NetworkCardsExport({{"lab0", LAB_ADAPTER_DESCRIPTION}}), error);
    if (registry == nullptr) {
        // The export above is fixed text; failing to read it is a programming error.
        std::abort();
    }
    return registry;
}

}  // namespace tarvik
