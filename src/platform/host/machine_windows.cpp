#include "platform/windows_api.h"

#include "platform/capture/pcap_driver.h"
#include "platform/host/machine.h"
#include "platform/host/windows_naming.h"
#include "platform/kernel/windows_kernel.h"

namespace tarvik {
namespace {

class WindowsMachine final : public Machine {
public:
    Kernel& Clock() override { return kernel_; }
    FileSystem& Files() override { return files_; }
    ProcessInfo& Process() override { return process_; }
    std::unique_ptr<InterfacePacketDriver> OpenPacketDriver(
        std::optional<MacAddress> stationAddress) override
    {
        return std::make_unique<PcapPacketDriver>(kernel_, stationAddress);
    }
    std::unique_ptr<Registry> OpenRegistry() override
    {
        return std::make_unique<WindowsRegistry>();
    }
    std::unique_ptr<OsVersionQuery> OpenOsVersionQuery() override
    {
        return std::make_unique<WindowsOsVersionQuery>();
    }
    bool HasInterface(const std::string& interfaceName) override
    {
        return InterfaceExists(interfaceName);
    }
    InterfaceNaming& Naming() override { return naming_; }

private:
    WindowsKernel kernel_;
    SystemFileSystem files_;
    WindowsProcessInfo process_;
    WindowsNaming naming_;
};

}  // namespace

std::unique_ptr<Machine> OpenMachine()
{
    return std::make_unique<WindowsMachine>();
}

std::unique_ptr<Kernel> OpenRealTimeKernel()
{
    return std::make_unique<WindowsKernel>();
}

}  // namespace tarvik
