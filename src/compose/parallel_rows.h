#pragma once

#include <algorithm>
#include <thread>
#include <vector>

// Runs work(first, last) over [0, count) in contiguous bands, one band per
// core, when there is enough work to pay for the threads; otherwise inline.
// The bands are disjoint, so work that writes only its own rows needs no lock.
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
    std::vector<std::jthread> helpers;
    helpers.reserve(bands - 1);
    for (int band = 1; band < bands; ++band) {
        const int first = static_cast<int>(static_cast<long long>(count) * band / bands);
        const int last = static_cast<int>(static_cast<long long>(count) * (band + 1) / bands);
        helpers.emplace_back([&work, first, last] { work(first, last); });
    }
    work(0, static_cast<int>(static_cast<long long>(count) / bands));
}
