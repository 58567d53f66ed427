#include "platform/host/machine.h"

#include "platform/capture/pcap_driver.h"
#include "platform/kernel/real_kernel.h"

namespace tarvik {
namespace {

// Linux interfaces are known by their own names.
class LinuxNaming final : public InterfaceNaming {
public:
    std::string FriendlyName(const std::string&) override { return {}; }
    std::string InterfaceOfName(const std::string&) override { return {}; }
};

class LinuxMachine final : public Machine {
public:
    Kernel& Clock() override { return kernel_; }
    FileSystem& Files() override { return files_; }
    ProcessInfo& Process() override { return process_; }
    std::unique_ptr<InterfacePacketDriver> OpenPacketDriver(
        std::optional<MacAddress> stationAddress) override
    {
        return std::make_unique<PcapPacketDriver>(kernel_, stationAddress);
    }
    std::unique_ptr<Registry> OpenRegistry() override { return std::make_unique<LiveRegistry>(); }
    std::unique_ptr<OsVersionQuery> OpenOsVersionQuery() override
    {
        return std::make_unique<LinuxOsVersionQuery>();
    }
    bool HasInterface(const std::string& interfaceName) override
    {
        return InterfaceExists(interfaceName);
    }
    InterfaceNaming& Naming() override { return naming_; }

private:
    RealKernel kernel_;
    SystemFileSystem files_;
    LinuxProcessInfo process_;
    LinuxNaming naming_;
};

}  // namespace

std::unique_ptr<Machine> OpenMachine()
{
    return std::make_unique<LinuxMachine>();
}

std::unique_ptr<Kernel> OpenRealTimeKernel()
{
    return std::make_unique<RealKernel>();
}

}  // namespace tarvik
