#pragma once
// The daemon's loop: receive, let the emulated device answer, send its replies when due.

#include <functional>

#include "target/target_options.h"

namespace tarvik::target {

// Runs until stop answers true; returns the exit status (0, or 1 when the interface could
// not be used or the dump could not be written).
int RunDaemon(const TargetOptions& options, const std::function<bool()>& stop);

}  // namespace tarvik::target
