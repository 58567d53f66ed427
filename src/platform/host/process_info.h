#pragma once
// What the program asks of its own process: whether it may open raw network sockets, where
// its binary is, for the hint that follows a failed open, and to give up its capabilities once
// its interface is open.

#include <string>
#include <string_view>

namespace tarvik {

class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;
    // Effective user root, or CAP_NET_RAW in the effective capability set.
    virtual bool HasRawNetworkAccess() = 0;
    // The running binary's path, links resolved: a name found through PATH, or a symlink, is
    // not what setcap must be given. invokedAs (argv[0]) when the system cannot tell.
    virtual std::string ExecutablePath(std::string_view invokedAs) = 0;
    // Gives up every capability of the calling thread (see DropThreadCapabilities); an open
    // packet socket keeps working. False when one is left: the program must not go on.
    virtual bool DropAllCapabilities() = 0;
};

class LinuxProcessInfo final : public ProcessInfo {
public:
    bool HasRawNetworkAccess() override;
    std::string ExecutablePath(std::string_view invokedAs) override;
    bool DropAllCapabilities() override;
};

// Windows has no capabilities: Npcap decides at the adapter's open whether this user may
// capture, so raw access counts as there and there is nothing to give up.
class WindowsProcessInfo final : public ProcessInfo {
public:
    bool HasRawNetworkAccess() override { return true; }
    std::string ExecutablePath(std::string_view invokedAs) override;
    bool DropAllCapabilities() override { return true; }
};

// The CAP_NET_RAW test on the text of /proc/self/status (its "CapEff:" line).
bool StatusGrantsNetRaw(std::string_view procSelfStatus);

}  // namespace tarvik
