#pragma once
// The daemon's loop: receive, let the emulated device answer, send its replies when due.

#include <cstdint>
#include <functional>

#include "device_daemon/device_adapter.h"
#include "device_daemon/target_options.h"
#include "lab/device_side.h"
#include "platform/kernel/kernel.h"

namespace tarvik::target {

// Runs until stop answers true; returns the exit status (0, or 1 when the interface could
// not be used or the dump could not be written).
int RunDaemon(const TargetOptions& options, const std::function<bool()>& stop);

// The loop on an adapter already receiving: hands each frame to the device (emulated or
// replaying a capture) and sends its replies, each when its delay has passed, until stop
// answers true (looked at least every 100 ms). Returns how many replies went out: a reply
// the driver refused is not counted.
std::uint64_t ServeDevice(Kernel& kernel, DeviceAdapter& adapter, DeviceSide& device,
                          const std::function<bool()>& stop);

}  // namespace tarvik::target
