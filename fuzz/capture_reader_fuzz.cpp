// Capture files from anywhere: a trace to replay is whatever file the operator was handed
// (tcpdump, Wireshark, another station's trace, a damaged copy). The reader must refuse or
// read every one without reading outside it, and every frame it gives must lie within the file
// and be no longer than the longest record it takes.
//
// Input: the file's bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "platform/formats/pcap_reader.h"

namespace {

// The reader's own bound on one record: a length beyond it is a broken file.
constexpr std::size_t LONGEST_RECORD = 256 * 1024;

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "capture reader fault: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    const auto capture = tarvik::ParseCaptureFile(std::span(data, size), error);
    if (!capture) {
        if (error.empty()) {
            Fault("a refusal without a reason");
        }
        return 0;
    }
    const auto& storage = *capture->Storage();
    if (storage.size() != size) {
        Fault("the capture keeps other bytes than the file's");
    }
    std::size_t previousEnd = 0;
    for (const tarvik::CapturedFrame& frame : *capture) {
        const std::uint8_t* first = storage.data();
        if (frame.Bytes.size() > LONGEST_RECORD) {
            Fault("a frame longer than any record the reader takes");
        }
        if (!frame.Bytes.empty() && (frame.Bytes.data() < first ||
                                     frame.Bytes.data() + frame.Bytes.size() > first + size)) {
            Fault("a frame outside the file");
        }
        // Records follow one another: no frame starts before the last one ended.
        const auto at = static_cast<std::size_t>(frame.Bytes.data() - first);
        if (!frame.Bytes.empty() && at < previousEnd) {
            Fault("frames overlap");
        }
        previousEnd = frame.Bytes.empty() ? previousEnd : at + frame.Bytes.size();
    }
    return 0;
}
