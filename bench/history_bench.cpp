// Appends records to a history one at a time, as the upgrades of a station do, and prints the
// cost of one. usage: tarvik-history-bench FILE [RECORDS]
// The records are alike but for their ids and times: the device answered before and after its
// reset, the image was read.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "history/history_store.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvik-history-bench FILE [RECORDS]\n");
        return 2;
    }
    const long records = argc > 2 ? std::atol(argv[2]) : 100000;
    std::string error;
    auto store = tarvik::HistoryStore::Open(argv[1], error);
    if (!store) {
        std::fprintf(stderr, "tarvik-history-bench: %s\n", error.c_str());
        return 1;
    }
    tarvik::HistoryRecord record;
    record.Station = "line3";
    record.Operator = "alice";
    record.ProgramVersion = "1.3.2";
    record.Interface = "eth1";
    record.DescriptorBefore =
        R"({"PidVersion":"0100","UpgradeControl":"0001","HwVersion":"0201","BoardCode":"001122334455","FwVersion":"0102","ProductId":"1020","ProductMask":"FFF0","ProtocolId":"0007","ProtocolMask":"FFFF","FunctionId":"0003","FunctionMask":"00FF","CodeSegment":"1000","CodeSize":"64"})";
    record.DescriptorAfter = record.DescriptorBefore;
    record.FileName = "/srv/images/fw-1.2.bin";
    record.FileSize = 65536;
    record.Sha256 = "e5bcc6272c3ab6294e66335f7a159141e60a180891b226e03acc4995b59a859b";
    record.FramesSent = 259;
    record.Result = "Upgrade Finish";
    const std::int64_t base = 1'765'000'000'000;  // 2025-12-06
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < records; ++i) {
        record.RecordId = "bench-" + std::to_string(i);
        record.DeviceName = "QV" + std::to_string(100000 + i % 5000);
        record.StartMs = base + i * 60'000;  // one a minute
        record.EndMs = record.StartMs + 580;
        record.ExitStatus = i % 50 == 0 ? 16 : 0;
        if (!store->Append(record, error)) {
            std::fprintf(stderr, "tarvik-history-bench: record %ld: %s\n", i, error.c_str());
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld records in %.3f s: %.1f us per record\n", records, seconds,
                seconds * 1e6 / static_cast<double>(records));
    return 0;
}
