// What every part of the benchmark shares: the clock it times with and the
// failure that ends a run.
#pragma once

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

inline double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Anything that ends the run with status 1 once the measuring has begun.
class BenchFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace bench
