// tarvik-image-bench FILE: reads the image's descriptor once and prints how long it took and
// the process's peak resident memory, for header_search_bench.sh.

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

#include "image/image_file.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvik-image-bench FILE\n");
        return 2;
    }
    tarvik::SystemFileSystem files;
    tarvik::ImageDescriptor descriptor;
    const auto start = std::chrono::steady_clock::now();
    const int result = tarvik::ReadImageDescriptor(files, argv[1], descriptor);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result=%d seconds=%.6f peak_rss_kib=%ld board_code=%s\n", result,
                std::chrono::duration<double>(elapsed).count(), usage.ru_maxrss,
                tarvik::FormatHexBytes(descriptor.BoardCode()).c_str());
    return result == tarvik::IMAGE_OK ? 0 : 1;
}
