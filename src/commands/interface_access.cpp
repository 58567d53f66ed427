#include "commands/interface_access.h"

#include "commands/startup.h"

namespace tarvik {

RealInterfaceAccess::RealInterfaceAccess(CaptureControl& captures, ProcessInfo& process,
                                         InterfaceNaming* naming)
    : captures_(captures), process_(process), naming_(naming)
{
}

bool RealInterfaceAccess::OpenEarly(std::span<const std::string> adapterNames)
{
    // Every capture first: without the capability none of them could be opened any more.
    for (const std::string& name : adapterNames) {
        captures_.Prepare(name);
    }
    return process_.DropAllCapabilities();
}

bool RealInterfaceAccess::SettleAfterStart(bool programRunsOn)
{
    captures_.ForgetPrepared();
    // Replies, images and the registry are read without a capability. A program that ends
    // keeps its rights until it exits, so that the privilege hint still sees them.
    return !programRunsOn || process_.DropAllCapabilities();
}

void RealInterfaceAccess::AdmitEveryFrame()
{
    captures_.AdmitEveryFrame();
}

std::string RealInterfaceAccess::PrivilegeHintFor(int result, std::string_view invokedAs)
{
    if (result != DISCOVERY_OPEN_ADAPTER_FAILED) {
        return {};
    }
    if (!process_.HasRawNetworkAccess()) {
        return PrivilegeHint(result, process_.ExecutablePath(invokedAs), false);
    }
    return captures_.OpenFailureNote();
}

std::string RealInterfaceAccess::AdapterNamed(const std::string& name)
{
    const std::string interfaceName = naming_ != nullptr ? naming_->InterfaceOfName(name) : "";
    return interfaceName.empty() ? std::string() : AdapterNameOf(interfaceName);
}

std::string RealInterfaceAccess::FriendlyName(const std::string& adapterName)
{
    const std::optional<std::string_view> interfaceName = InterfaceNameOf(adapterName);
    if (naming_ == nullptr || !interfaceName) {
        return {};
    }
    return naming_->FriendlyName(std::string(*interfaceName));
}

}  // namespace tarvik
