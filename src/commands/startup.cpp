#include "commands/startup.h"

#include "commands/outcomes.h"

namespace tarvik {
namespace {

VersionFailureSink ShowVersionFailure(CommandPort& port)
{
    return [&port] { port.ShowMessage(MSG_GET_VERSION_FAIL); };
}

// Which discovery path the family takes; Neither once its message is shown.
enum class Family { Windows9x, WindowsNT, Neither };

Family TestFamily(OsVersionQuery& query, CommandPort& port)
{
    if (IsWindows9x(query, port)) {
        return Family::Windows9x;
    }
    if (IsWindowsNT(query, port)) {
        return Family::WindowsNT;
    }
    port.ShowMessage(MSG_OS_NOT_SUPPORTED);
    return Family::Neither;
}

int Report(int result, CommandPort& port)
{
    const std::string_view message = DiscoveryResultMessage(result);
    if (!message.empty()) {
        port.ShowMessage(message);
    }
    return result;
}

}  // namespace

bool IsWindows9x(OsVersionQuery& query, CommandPort& port)
{
    return IsWindows9x(query, ShowVersionFailure(port));
}

bool IsWindowsNT(OsVersionQuery& query, CommandPort& port)
{
    return IsWindowsNT(query, ShowVersionFailure(port));
}

std::string_view DiscoveryResultMessage(int result)
{
    const StartupOutcomeRow* row = StartupRow(result);
    return row != nullptr && row->Source == StartupSource::Discovery ? row->Text
                                                                     : std::string_view{};
}

int ListStartupAdapters(OsVersionQuery& query, Registry& registry, Binding& binding,
                        CommandPort& port, AdapterList& list)
{
    list = AdapterList{};
    int listed = DISCOVERY_OK;
    switch (TestFamily(query, port)) {
    case Family::Windows9x:
        listed = ListAdapters9x(registry, binding, list);
        break;
    case Family::WindowsNT:
        listed = ListAdaptersNT(registry, list);
        break;
    case Family::Neither:
        return STARTUP_WITHOUT_ADAPTER;
    }
    return Report(listed, port);
}

int RunStartupSequence(OsVersionQuery& query, Registry& registry, Binding& binding,
                       AdapterSelectionPort& selection, CommandPort& port, AdapterList& list)
{
    list = AdapterList{};
    switch (TestFamily(query, port)) {
    case Family::Windows9x:
        return Report(FindAdapters9x(registry, binding, selection, list), port);
    case Family::WindowsNT:
        return Report(FindAdaptersNT(registry, binding, selection, list), port);
    case Family::Neither:
        break;
    }
    return STARTUP_WITHOUT_ADAPTER;
}

int RunStartupSequence(OsVersionQuery& query, Registry& registry, Binding& binding,
                       AdapterSelectionPort& selection, CommandPort& port)
{
    AdapterList list;
    return RunStartupSequence(query, registry, binding, selection, port, list);
}

int RunStartupSequenceFor(OsVersionQuery& query, Registry& registry, Binding& binding,
                          std::string_view adapterName, CommandPort& port, AdapterList& list)
{
    if (const int listed = ListStartupAdapters(query, registry, binding, port, list);
        listed != DISCOVERY_OK) {
        return listed;
    }
    int index = FindAdapterIndex(list, adapterName);
    if (index < 0) {
        index = AddVlanAdapter(list, adapterName);
    }
    if (index < 0) {
        return STARTUP_UNKNOWN_ADAPTER;
    }
    list.Selection = index;
    return Report(OpenListedAdapter(binding, list.Names[static_cast<std::size_t>(index)]), port);
}

bool StartupLetsProgramRun(int result)
{
    const StartupOutcomeRow* row = StartupRow(result);
    return row != nullptr && row->After == AfterStartup::RunsOn;
}

int StartupExitStatus(int result)
{
    const StartupOutcomeRow* row = StartupRow(result);
    return (row != nullptr ? row : StartupRow(DISCOVERY_OPEN_ADAPTER_FAILED))->ExitStatus;
}

std::string PrivilegeHint(int result, std::string_view programPath, bool hasRawNetworkAccess)
{
    if (result != DISCOVERY_OPEN_ADAPTER_FAILED || hasRawNetworkAccess) {
        return {};
    }
    std::string hint(PRIVILEGE_HINT_PREFIX);
    hint += programPath;
    return hint;
}

}  // namespace tarvik
