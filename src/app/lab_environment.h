#pragma once
// What `tarvik --lab` runs over instead of the machine: the built-in lab's segment with its
// three emulated targets, a registry naming the lab's one adapter, and the NT family, so
// that the whole start-up sequence runs as it does on a real machine.

#include <memory>
#include <string>

#include "lab/lab_setup.h"
#include "platform/os_version.h"
#include "platform/registry.h"

namespace tarvik {

inline constexpr char LAB_ADAPTER_DESCRIPTION[] = "lab0 (the built-in lab's virtual segment)";

// A registry export listing the given adapters under the NT family's network cards, one
// subkey per adapter ("1", "2", ...), each with its "ServiceName" and "Description".
std::string NetworkCardsExport(const std::vector<std::pair<std::string, std::string>>& cards);

// The lab's registry: the one card lab0.
std::unique_ptr<Registry> MakeLabRegistry();

}  // namespace tarvik
