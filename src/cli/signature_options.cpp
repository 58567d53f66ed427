#include "cli/signature_options.h"

#include <map>

namespace tarvik::cli {

void AddSignatureOptions(CLI::App& command, SignatureOptions& options)
{
    command
        .add_option("--key", options.KeyFiles,
                    "Trust the minisign public key in FILE for this run, besides those in the "
                    "trusted-keys folders; once any key is there, the image must be signed by "
                    "one of them. Repeatable")
        ->allow_extra_args(false)
        ->type_name("FILE");
    command
        .add_option("--signature", options.SignatureFile,
                    "The image's minisign signature (default: the image's name + .minisig)")
        ->type_name("FILE");
    const std::map<std::string, SignatureMode> modes = {
        {"require", SignatureMode::Require}, {"warn", SignatureMode::Warn},
        {"off", SignatureMode::Off}};
    command
        .add_option("--signatures", options.Mode,
                    "require: refuse an image not signed by a trusted key (the default once a "
                    "key is installed or given); warn: check, say what failed, flash anyway; "
                    "off: check nothing")
        ->transform(CLI::CheckedTransformer(modes, CLI::ignore_case))
        ->type_name("require|warn|off");
}

TrustSettings TrustSettingsFor(const SignatureOptions& options)
{
    TrustSettings settings = DefaultTrustSettings(options.KeyFiles);
    settings.SignatureFile = options.SignatureFile;
    settings.Mode = options.Mode;
    return settings;
}

}  // namespace tarvik::cli
