#pragma once
// Linux's reader of an interface's facts over a tree of its own: /sys and /proc as found under
// root. The program reads the machine's ("/"); a test reads a fake tree of those files, so the
// readers run without root and without the interfaces they describe.

#include <filesystem>
#include <string>

#include "platform/host/interface_facts.h"

namespace tarvik {

// ReadInterfaceFacts over root/sys/class/net, root/proc/net and root/proc/PID/fd
// (root/proc/self being the program's own sockets).
InterfaceFacts ReadInterfaceFactsUnder(const std::filesystem::path& root, const std::string& name);

}  // namespace tarvik
