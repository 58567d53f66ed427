// Appends records to a history as one station would: tarvik_history_append FILE WRITER COUNT.
// Each record is "WRITER-i" of device QV00000WRITER, its result 5000 times one letter ('a' for
// writer 0, 'b' for writer 1), so a record split by another writer shows. Exits 0 when every
// record was written, 1 otherwise (the reason on stderr).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "history/history_store.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tarvik_history_append FILE WRITER COUNT\n");
        return 2;
    }
    const std::string writer = argv[2];
    const int count = std::atoi(argv[3]);
    std::string error;
    auto store = tarvik::HistoryStore::Open(argv[1], error);
    if (!store) {
        std::fprintf(stderr, "open: %s\n", error.c_str());
        return 1;
    }
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        tarvik::HistoryRecord record;
        record.RecordId = writer + "-" + std::to_string(i);
        record.StartMs = i;
        record.EndMs = i + 600;
        record.Station = "line3";
        record.DeviceName = "QV00000" + writer;
        record.Result = std::string(5000, static_cast<char>('a' + std::atoi(writer.c_str())));
        if (!store->Append(record, error)) {
            std::fprintf(stderr, "append: %s\n", error.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
