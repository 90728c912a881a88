#pragma once
// Waiting with a deadline: every wait in the tests is bounded, and polls a
// condition rather than sleeping for a guessed time.

#include <chrono>
#include <thread>

namespace support {

using Clock = std::chrono::steady_clock;

// The bound on a stop that must be answered at once rather than at a
// once-a-second check: under a second, with room for a loaded machine.
inline constexpr long long PROMPT_STOP_MS = 900;

inline long long ms_since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Milliseconds of the monotonic clock (CLOCK_MONOTONIC on Linux), the one
// the serial layer's DTR log is written in.
inline long long monotonic_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

// A point in time timeout_ms from its making.
class Deadline {
public:
    explicit Deadline(int timeout_ms) : end_(Clock::now() + std::chrono::milliseconds(timeout_ms)) {}

    bool expired() const { return Clock::now() >= end_; }
    // What is left, 0 once it has passed.
    int remaining_ms() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

private:
    Clock::time_point end_;
};

// Checks cond every poll_ms until it holds or timeout_ms have passed; true
// when it held. The last check comes after the deadline.
template <typename Cond>
bool wait_until(Cond cond, int timeout_ms = 20000, int poll_ms = 10)
{
    const Deadline deadline(timeout_ms);
    for (;;) {
        const bool last = deadline.expired();
        if (cond())
            return true;
        if (last)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
    }
}

} // namespace support
