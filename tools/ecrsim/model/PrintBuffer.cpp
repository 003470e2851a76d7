#include "PrintBuffer.h"

#include <algorithm>

namespace velmar::sim {

PrintBuffer::PrintBuffer(int size, int bytesPerSecond)
    : size_(std::max(size, 4)),
      byteUs_((1000000 + std::max(bytesPerSecond, 1) / 2) / std::max(bytesPerSecond, 1)) {}

void PrintBuffer::forget(std::int64_t t) {
    while (!finishTimes_.empty() && finishTimes_.front() <= t) {
        finishTimes_.pop_front();
    }
}

int PrintBuffer::level(std::int64_t t) {
    forget(t);
    return static_cast<int>(finishTimes_.size());
}

std::int64_t PrintBuffer::push(std::int64_t t) {
    forget(t);
    freeAt_ = std::max(freeAt_, t) + byteUs_;
    finishTimes_.push_back(freeAt_);
    return freeAt_;
}

std::int64_t PrintBuffer::addWork(std::int64_t t, std::int64_t us) {
    freeAt_ = std::max(freeAt_, t) + us;
    return freeAt_;
}

std::int64_t PrintBuffer::timeBelowLowWater(std::int64_t t) const {
    // Level below L means at most L - 1 bytes left: the (n - L + 1)-th byte
    // in the queue has been printed.
    const auto n = static_cast<std::int64_t>(finishTimes_.size());
    const std::int64_t mustFinish = n - lowWater() + 1;
    if (mustFinish <= 0) {
        return t;
    }
    return std::max(t, finishTimes_[static_cast<std::size_t>(mustFinish - 1)]);
}

} // namespace velmar::sim
