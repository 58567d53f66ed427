#include "platform/kernel/kernel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace tarvik {

void Kernel::RunConcurrently(std::span<const std::function<void()>> tasks, std::size_t limit)
{
    const std::size_t workers = limit == 0 ? tasks.size() : std::min(limit, tasks.size());
    // Each worker takes the next task not yet taken, so tasks start in their order.
    std::atomic<std::size_t> next{0};
    std::vector<std::jthread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) {
        threads.emplace_back([&] {
            for (std::size_t task = next++; task < tasks.size(); task = next++) {
                tasks[task]();
            }
        });
    }
}

}  // namespace tarvik
