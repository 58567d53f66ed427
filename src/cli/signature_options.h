#pragma once
// The options of the commands that read an image for a device (upgrade, station, check, info):
// the keys to trust for the run, the signature's file, and the policy.

#include <CLI/CLI.hpp>

#include "commands/image_trust.h"

namespace tarvik::cli {

struct SignatureOptions {
    std::vector<std::string> KeyFiles;  // --key, repeatable
    std::string SignatureFile;          // --signature
    std::optional<SignatureMode> Mode;  // --signatures
};

void AddSignatureOptions(CLI::App& command, SignatureOptions& options);

// The run's settings: the machine's and the user's trusted-keys folders, then the options.
TrustSettings TrustSettingsFor(const SignatureOptions& options);

}  // namespace tarvik::cli
