#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

// Median wall time of `runs` calls, after one warm-up call.
template <typename Work> double medianMs(int runs, Work&& work)
{
    work();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// Keeps the optimiser from dropping work whose result is unused.
inline void keep(const void* p)
{
    asm volatile("" : : "g"(p) : "memory");
}

} // namespace bench
