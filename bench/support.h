// What every part of the benchmark shares: the clock it times with and the
// failure that ends a run.
#pragma once

#include <chrono>
#include <stdexcept>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Anything that ends the run with status 1 once the measuring has begun.
class BenchFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace bench
