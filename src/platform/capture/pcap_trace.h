#pragma once
// A frame trace written as a pcap file (Ethernet link type), so Wireshark and tshark read it
// as they read any capture, by the program itself on every system: a trace needs no capture
// library (the lab) and takes any path the system's file API takes. Time stamps come from the
// OS's wall clock. Every frame goes to the file as it is recorded: the file is whole after a
// normal end, a failure, Ctrl-C, or a crash. Records may come from several threads.

#include <memory>
#include <mutex>
#include <string>

#include "platform/capture/frame_trace.h"
#include "platform/files/output_file.h"
#include "platform/kernel/kernel.h"

namespace tarvik {

class PcapTrace final : public FrameTrace {
public:
    // Creates (or empties) the file at path; nothing and the reason in error when it cannot.
    static std::unique_ptr<PcapTrace> Open(const std::string& path, Kernel& clock,
                                           std::string& error);
    ~PcapTrace() override;
    PcapTrace(const PcapTrace&) = delete;
    PcapTrace& operator=(const PcapTrace&) = delete;

    void Record(std::span<const std::uint8_t> frame) override;

private:
    PcapTrace(Kernel& clock, std::unique_ptr<OutputFile> file);

    Kernel& clock_;
    std::mutex mutex_;
    std::unique_ptr<OutputFile> file_;
};

}  // namespace tarvik
