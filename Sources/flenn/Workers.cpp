#include "Workers.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

void forEachConcurrently(std::size_t count, int workers, const std::function<void(std::size_t)> &body) {
    std::mutex counterLock;
    std::size_t next = 0;
    auto work = [&] {
        for (;;) {
            std::size_t index;
            {
                std::lock_guard<std::mutex> lock(counterLock);
                index = next++;
            }
            if (index >= count)
                return;
            body(index);
        }
    };
    // The calling thread is one of the workers.
    std::size_t threads = std::min<std::size_t>(std::max<std::size_t>(count, 1), std::size_t(std::max(workers, 1)));
    std::vector<std::thread> others;
    for (std::size_t t = 1; t < threads; t++)
        others.emplace_back(work);
    work();
    for (std::thread &thread : others)
        thread.join();
}
