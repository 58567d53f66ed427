#pragma once
// What a run on the machine's own interfaces does around the start-up sequence that a run on
// the built-in lab does not: open the captures while the process still may, give up every
// capability once they are open, let every frame up for measuring, and tell the user how to
// grant raw network access. The run environment asks one of these and never which segment it
// runs on.

#include <span>
#include <string>
#include <string_view>

#include "platform/host/machine.h"
#include "platform/host/process_info.h"

namespace tarvik {

class InterfaceAccess {
public:
    virtual ~InterfaceAccess() = default;

    // Before a front end starts threads it does not control (a toolkit's), which would keep
    // the capabilities: opens the capture of each adapter the start-up sequence could choose,
    // then gives up every capability. False only when one is kept; a capture that cannot be
    // opened is left for the start-up sequence to report.
    virtual bool OpenEarly(std::span<const std::string> adapterNames) = 0;
    // Once the start-up sequence has opened its adapter, or failed to: closes the captures it
    // did not take and, when the program goes on, gives up every capability (the open was the
    // last act that needed one). False when one is kept.
    virtual bool SettleAfterStart(bool programRunsOn) = 0;
    // The socket filter of a real interface drops every frame that cannot be one of the
    // protocol's before the program wakes; this lets every frame to the station up again, as
    // the packet filter alone would, for measuring what that filter saves. Before the start-up
    // sequence opens the adapter.
    virtual void AdmitEveryFrame() = 0;
    // The line that follows MSG_OPEN_ADAPTER_FAIL: how to get raw network access when the
    // process lacks it, else why the open failed when that tells the user what to do (the
    // capture library to install); empty otherwise. invokedAs is argv[0].
    virtual std::string PrivilegeHintFor(int result, std::string_view invokedAs) = 0;
    // Why the last open failed, when that tells the user what to do (as the hint above gives
    // it to a process with raw network access); empty otherwise.
    virtual std::string OpenFailureNote() = 0;
    // The adapter (its ADAPTER_NAME_PREFIX name) that a name users know stands for, beside
    // those the start-up sequence lists (Windows: the connection's friendly name); empty when
    // none does.
    virtual std::string AdapterNamed(const std::string& name) = 0;
    // The friendly name of a listed adapter; empty when it has none of its own.
    virtual std::string FriendlyName(const std::string& adapterName) = 0;
};

// The built-in lab: a virtual segment that needs no right and admits every frame already.
class LabAccess final : public InterfaceAccess {
public:
    bool OpenEarly(std::span<const std::string>) override { return true; }
    bool SettleAfterStart(bool) override { return true; }
    void AdmitEveryFrame() override {}
    std::string PrivilegeHintFor(int, std::string_view) override { return {}; }
    std::string OpenFailureNote() override { return {}; }
    std::string AdapterNamed(const std::string&) override { return {}; }
    std::string FriendlyName(const std::string&) override { return {}; }
};

// The captures of a real interface's packet driver, as it keeps them for the start-up
// sequence's open.
class CaptureControl {
public:
    virtual ~CaptureControl() = default;
    // Opens the adapter's capture now, kept for the first open of that name.
    virtual void Prepare(const std::string& adapterName) = 0;
    // Closes the captures prepared and not opened.
    virtual void ForgetPrepared() = 0;
    // Adapters opened from now on pass up every frame the packet filter takes.
    virtual void AdmitEveryFrame() = 0;
    // Why the last open failed, when that tells the user what to do; empty otherwise.
    virtual std::string OpenFailureNote() = 0;
};

// The machine's own interfaces, over their captures and the process's capabilities.
class RealInterfaceAccess final : public InterfaceAccess {
public:
    // Without naming, adapters are known by their listed names alone.
    RealInterfaceAccess(CaptureControl& captures, ProcessInfo& process,
                        InterfaceNaming* naming = nullptr);

    bool OpenEarly(std::span<const std::string> adapterNames) override;
    bool SettleAfterStart(bool programRunsOn) override;
    void AdmitEveryFrame() override;
    std::string PrivilegeHintFor(int result, std::string_view invokedAs) override;
    std::string OpenFailureNote() override { return captures_.OpenFailureNote(); }
    std::string AdapterNamed(const std::string& name) override;
    std::string FriendlyName(const std::string& adapterName) override;

private:
    CaptureControl& captures_;
    ProcessInfo& process_;
    InterfaceNaming* naming_;
};

}  // namespace tarvik
