#include "lab/lab_setup.h"

#include <algorithm>

namespace tarvik {

ImageDescriptor LabTargetDescriptor(const std::array<std::uint8_t, 6>& boardCode)
{
    ImageDescriptor descriptor;
    auto& bytes = descriptor.Bytes;
    auto put = [&bytes](std::size_t offset, std::initializer_list<std::uint8_t> values) {
        std::copy(values.begin(), values.end(), bytes.begin() + static_cast<long>(offset));
    };
    put(DESC_PID_VERSION, {0x01, 0x00});
    put(DESC_UPGRADE_CONTROL, {0x00, 0x01});
    std::copy(boardCode.begin(), boardCode.end(), bytes.begin() + DESC_BOARD_CODE);
    put(DESC_HW_VERSION, {0x02, 0x01});
    put(DESC_PRODUCT_ID, {0x10, 0x20});
    put(DESC_PRODUCT_MASK, {0xFF, 0xF0});
    put(DESC_PROTOCOL_ID, {0x00, 0x07});
    put(DESC_PROTOCOL_MASK, {0xFF, 0xFF});
    put(DESC_FUNCTION_ID, {0x00, 0x03});
    put(DESC_FUNCTION_MASK, {0x00, 0xFF});
    put(DESC_FW_VERSION, {0x01, 0x02});
    put(DESC_CODE_SEGMENT, {0x00, 0x10});
    put(DESC_CODE_SIZE, {0x40, 0x00});
    return descriptor;
}

std::vector<TargetConfig> BuiltInLabTargets()
{
    std::vector<TargetConfig> targets(3);
    targets[0].Address = {0x02, 0x5A, 0x17, 0x1A, 0x2B, 0x3C};
    targets[0].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    targets[0].Variants = FrameVariants::Both;
    targets[1].Address = {0x02, 0x5A, 0x17, 0x00, 0x00, 0x07};
    targets[1].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x66});
    targets[1].Variants = FrameVariants::Untyped;
    targets[2].Address = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    targets[2].Descriptor = LabTargetDescriptor({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    targets[2].Variants = FrameVariants::Typed;
    return targets;
}

Lab::Lab(Kernel& kernel, std::uint32_t latencyMs)
    : segment_(kernel, latencyMs), driver_(kernel, segment_)
{
}

Lab::~Lab()
{
    // Stations detach before the segment goes.
    targets_.clear();
}

EmulatedTargetStation& Lab::AddTarget(TargetConfig config)
{
    targets_.push_back(std::make_unique<EmulatedTargetStation>(segment_, std::move(config)));
    return *targets_.back();
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

std::unique_ptr<Lab> MakeBuiltInLab(Kernel& kernel)
{
    auto lab = std::make_unique<Lab>(kernel);
    lab->Driver().AddAdapter(LAB_ADAPTER_NAME, LAB_ADAPTER_ADDRESS);
    for (auto& config : BuiltInLabTargets()) {
        lab->AddTarget(std::move(config));
    }
    return lab;
}

}  // namespace tarvik
