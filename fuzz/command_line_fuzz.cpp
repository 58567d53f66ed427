// The command line's option and device-name parsing on any arguments. Help, version and usage
// errors are printed by the parser itself; they go nowhere here. Whatever the parser accepts
// must be a usable request: a device name it takes names one device and reads back as itself.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/exit_status.h"
#include "protocol/upgrade_link.h"

namespace tarvik {
namespace {

constexpr std::size_t ARGUMENT_LIMIT = 64;

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "command line fault: %s\n", what);
    std::abort();
}

class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char_type*, std::streamsize count) override { return count; }
};

void CheckDeviceName(const std::string& name)
{
    const bool vendorName = name.size() == 8 && name.starts_with(DEVICE_NAME_PREFIX);
    if (!vendorName && name.size() != 12) {
        Fault("a device name of the wrong length was taken");
    }
    // Read back from the address it names, the name may differ in case and form but not in
    // the device.
    const MacAddress address = ParseDeviceName(name);
    if (ParseDeviceName(FormatDeviceName(address)) != address) {
        Fault("a device name does not read back as its device");
    }
    for (std::size_t i = vendorName ? 2 : 0; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            Fault("a device name with a character that is no hex digit was taken");
        }
    }
}

}  // namespace
}  // namespace tarvik

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static tarvik::NullBuffer nowhere;
    std::cout.rdbuf(&nowhere);
    std::cerr.rdbuf(&nowhere);
    return 0;
}

// The input is the arguments after the program's name, each ended by a zero byte.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tarvik;
    std::vector<std::string> arguments{"tarvik-cli"};
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start < text.size() && arguments.size() <= ARGUMENT_LIMIT;) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        arguments.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    argv.push_back(nullptr);

    const cli::ParseResult parsed =
        cli::ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
    if (!parsed.Options) {
        return 0;
    }
    const cli::CliOptions& options = *parsed.Options;
    if (parsed.ExitStatus != cli::EXIT_SUCCESS_STATUS) {
        Fault("options taken with a failing exit status");
    }
    if (options.Lab && !options.Interface.empty()) {
        Fault("both the lab and an interface were taken");
    }
    if (options.Which == cli::Command::Device || options.Which == cli::Command::Check ||
        options.Which == cli::Command::Upgrade) {
        CheckDeviceName(options.DeviceName);
    }
    return 0;
}
