#include "platform/capture/pcap_trace.h"

#include "platform/formats/pcap_writer.h"

namespace tarvik {

std::unique_ptr<PcapTrace> PcapTrace::Open(const std::string& path, Kernel& clock,
                                           std::string& error)
{
    std::unique_ptr<OutputFile> file = OutputFile::Create(path, error);
    if (!file) {
        return nullptr;
    }
    // The header alone already makes a readable, empty capture.
    if (!file->Write(PcapFileHeader())) {
        error = "the trace's header could not be written";
        return nullptr;
    }
    return std::unique_ptr<PcapTrace>(new PcapTrace(clock, std::move(file)));
}

PcapTrace::PcapTrace(Kernel& clock, std::unique_ptr<OutputFile> file)
    : clock_(clock), file_(std::move(file))
{
}

PcapTrace::~PcapTrace() = default;

void PcapTrace::Record(std::span<const std::uint8_t> frame)
{
    const std::vector<std::uint8_t> record = PcapRecord(clock_.WallClockMicroseconds(), frame);
    // One write per frame, header and frame together: the tool sends at most about 50 frames a
    // second, and a trace must hold every frame up to the moment the program stopped. A frame
    // that fails to be written is lost to the trace alone; the run goes on.
    std::lock_guard lock(mutex_);
    file_->Write(record);
}

}  // namespace tarvik
