#pragma once
// The start-up sequence, written once for the desktop program and the command line: decide
// the operating-system family, find and open the adapter, and show the message of any
// failure. The front end then runs on, or ends with the exit status the result maps to.

#include <string>
#include <string_view>

#include "commands/adapter_selection.h"
#include "commands/command_port.h"
#include "commands/outcomes.h"
#include "netio/binding.h"
#include "platform/host/os_version.h"
#include "platform/registry/registry.h"

namespace tarvik {

// Results: STARTUP_READY, a discovery result (DISCOVERY_*, its message shown), or one of the
// other STARTUP_* results in commands/outcomes.h.

// The family tests with MSG_GET_VERSION_FAIL shown through the port when the query fails.
bool IsWindows9x(OsVersionQuery& query, CommandPort& port);
bool IsWindowsNT(OsVersionQuery& query, CommandPort& port);

// The message of a discovery result (DISCOVERY_* but DISCOVERY_OK); empty for any other.
std::string_view DiscoveryResultMessage(int result);

// The family test and the family's listing, with the message of a failure shown: DISCOVERY_OK
// with list filled, a discovery result, or STARTUP_WITHOUT_ADAPTER. Opens nothing that stays
// open.
int ListStartupAdapters(OsVersionQuery& query, Registry& registry, Binding& binding,
                        CommandPort& port, AdapterList& list);

// The family test, FindAdapters9x or FindAdaptersNT, and the message of a failure. list
// receives the adapters found (the selection port sees it too when there are two or more).
int RunStartupSequence(OsVersionQuery& query, Registry& registry, Binding& binding,
                       AdapterSelectionPort& selection, CommandPort& port, AdapterList& list);
int RunStartupSequence(OsVersionQuery& query, Registry& registry, Binding& binding,
                       AdapterSelectionPort& selection, CommandPort& port);

// As RunStartupSequence, but opens the listed adapter named adapterName ("\Device\eth0" or
// "eth0") instead of choosing; STARTUP_UNKNOWN_ADAPTER when the list has no such adapter.
int RunStartupSequenceFor(OsVersionQuery& query, Registry& registry, Binding& binding,
                          std::string_view adapterName, CommandPort& port, AdapterList& list);

// Whether the desktop program goes on after the sequence (with or without an adapter), as the
// result's row says; false for a result with no row.
bool StartupLetsProgramRun(int result);
// The exit status of a program that ends after the sequence, the same for both front ends: the
// result's row's (0 for STARTUP_READY). A result with no row ends as a failed open does, the
// nearest a script can be told.
int StartupExitStatus(int result);

// The line that follows MSG_OPEN_ADAPTER_FAIL when the open failed for want of raw network
// access; empty when the result is not 2 or the process has that access.
inline constexpr std::string_view PRIVILEGE_HINT_PREFIX =
    "Run as root, or grant the program raw network access: sudo setcap cap_net_raw+ep ";
std::string PrivilegeHint(int result, std::string_view programPath, bool hasRawNetworkAccess);

}  // namespace tarvik
