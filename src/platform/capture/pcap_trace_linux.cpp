#include "platform/capture/pcap_trace.h"

#include <pcap/pcap.h>

namespace tarvik {
namespace {

// Room for the longest frame any driver hands over; the file's header says it.
constexpr int TRACE_SNAP_LENGTH = 65535;

}  // namespace

struct PcapTrace::File {
    File(pcap_t* handle, pcap_dumper_t* dumper) : Handle(handle), Dumper(dumper) {}
    ~File()
    {
        pcap_dump_close(Dumper);
        pcap_close(Handle);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    pcap_t* Handle;
    pcap_dumper_t* Dumper;
};

std::unique_ptr<PcapTrace> PcapTrace::Open(const std::string& path, Kernel& clock,
                                           std::string& error)
{
    pcap_t* handle = pcap_open_dead(DLT_EN10MB, TRACE_SNAP_LENGTH);
    if (handle == nullptr) {
        error = "libpcap could not make a handle for the trace";
        return nullptr;
    }
    pcap_dumper_t* dumper = pcap_dump_open(handle, path.c_str());
    if (dumper == nullptr) {
        error = pcap_geterr(handle);
        pcap_close(handle);
        return nullptr;
    }
    // The header alone already makes a readable, empty capture.
    pcap_dump_flush(dumper);
    return std::unique_ptr<PcapTrace>(new PcapTrace(clock, std::make_unique<File>(handle, dumper)));
}

PcapTrace::PcapTrace(Kernel& clock, std::unique_ptr<File> file)
    : clock_(clock), file_(std::move(file))
{
}

PcapTrace::~PcapTrace() = default;

void PcapTrace::Record(std::span<const std::uint8_t> frame)
{
    const std::uint64_t now = clock_.WallClockMicroseconds();
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(now / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(now % 1000000);
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = header.caplen;
    std::lock_guard lock(mutex_);
    pcap_dump(reinterpret_cast<u_char*>(file_->Dumper), &header, frame.data());
    // One write per frame: the tool sends at most about 50 frames a second, and a trace must
    // hold every frame up to the moment the program stopped.
    pcap_dump_flush(file_->Dumper);
}

}  // namespace tarvik
