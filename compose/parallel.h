// Splitting work over a few threads, for the core and what builds on it: the
// command line's composition and decoding, the alignment's estimate and warp.
#pragma once

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

// Runs work(begin, end) over bands that split 0..count: threads - 1 of them
// on threads of their own and the first on the caller's. A thread that cannot
// be started leaves its band, and those after it, to the caller.
template <class Work> void forBands(int count, int threads, const Work& work)
{
    threads = std::clamp(threads, 1, std::max(count, 1));
    const auto bandStart = [&](int k) { return int((long long)count * k / threads); };
    if (threads == 1) {
        work(0, count);
        return;
    }
    int started = 1;
    {
        std::vector<std::jthread> pool; // joined on every way out
        pool.reserve(std::size_t(threads - 1));
        try {
            for (; started < threads; ++started) {
                const int begin = bandStart(started), end = bandStart(started + 1);
                pool.emplace_back([&work, begin, end] { work(begin, end); });
            }
        } catch (const std::system_error&) {
        }
        work(bandStart(0), bandStart(1));
        for (int k = started; k < threads; ++k)
            work(bandStart(k), bandStart(k + 1));
    }
}

// Runs first() on this thread and second() on another at once. When either
// throws, its exception is thrown once both have ended, first's first.
template <class First, class Second> void bothAtOnce(const First& first, const Second& second)
{
    std::exception_ptr secondFailure;
    std::thread other([&] {
        try {
            second();
        } catch (...) {
            secondFailure = std::current_exception();
        }
    });
    std::exception_ptr firstFailure;
    try {
        first();
    } catch (...) {
        firstFailure = std::current_exception();
    }
    other.join();
    if (firstFailure)
        std::rethrow_exception(firstFailure);
    if (secondFailure)
        std::rethrow_exception(secondFailure);
}
