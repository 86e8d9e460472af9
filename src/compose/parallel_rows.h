#pragma once

#include <QSemaphore>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <thread>

// Runs work(first, last) over [0, count) in contiguous bands, about one band
// per core, when there is enough work to pay for the threads; otherwise
// inline. The bands are disjoint, so work that writes only its own rows needs
// no lock.
//
// Helpers come from the process's one thread budget, Qt's global pool (one
// thread per core): a caller that is itself one of several pool jobs gets
// only the threads left over, and bands no helper takes run on the caller.
// So nested and concurrent calls never run more threads than there are cores.
template <typename Work> void parallelRows(int count, long long costPerRow, Work&& work)
{
    constexpr long long kMinimumCostPerThread = 1 << 19; // about half a megapixel
    const int cores = std::max(1u, std::thread::hardware_concurrency());
    const long long total = costPerRow * count;
    const int bands = static_cast<int>(
        std::clamp<long long>(total / kMinimumCostPerThread, 1, std::min(cores, count)));
    if (bands <= 1) {
        work(0, count);
        return;
    }
    // Whoever is free takes the next band, so a helper that starts late, or
    // never, costs no more than its share.
    std::atomic<int> next{0};
    auto takeBands = [&] {
        for (int band = next++; band < bands; band = next++) {
            const int first = static_cast<int>(static_cast<long long>(count) * band / bands);
            const int last = static_cast<int>(static_cast<long long>(count) * (band + 1) / bands);
            work(first, last);
        }
    };
    QSemaphore finished;
    int helpers = 0;
    QThreadPool* pool = QThreadPool::globalInstance();
    while (helpers < bands - 1 && pool->tryStart([&] {
        takeBands();
        finished.release();
    }))
        ++helpers;
    takeBands();
    finished.acquire(helpers);
}
