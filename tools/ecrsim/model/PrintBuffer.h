#pragma once
// The register's print buffer: received bytes wait in it and the printer takes
// them one at a time at a fixed speed. The buffer's level drives the flow
// control: XOFF above three quarters, XON below one quarter.

#include <cstdint>
#include <deque>

namespace velmar::sim {

class PrintBuffer {
public:
    PrintBuffer(int size, int bytesPerSecond);

    int size() const { return size_; }
    // Level above which the register sends XOFF, and below which XON.
    int highWater() const { return size_ * 3 / 4; }
    int lowWater() const { return size_ / 4; }
    std::int64_t byteUs() const { return byteUs_; }

    // Bytes waiting or being printed at `t` (not earlier than the last call).
    int level(std::int64_t t);
    // A byte enters at `t`; returns when it is printed.
    std::int64_t push(std::int64_t t);
    // The printer is busy `us` more after everything queued so far (the totals
    // and trailer of a closing document); returns when it is done.
    std::int64_t addWork(std::int64_t t, std::int64_t us);
    // The first time at or after `t` when the level is below the low water
    // mark, counting only the bytes already in the buffer.
    std::int64_t timeBelowLowWater(std::int64_t t) const;

private:
    void forget(std::int64_t t);

    int size_;
    std::int64_t byteUs_;
    std::int64_t freeAt_ = 0;              // when the printer has printed all it holds
    std::deque<std::int64_t> finishTimes_; // of the bytes still in the buffer, ascending
};

} // namespace velmar::sim
