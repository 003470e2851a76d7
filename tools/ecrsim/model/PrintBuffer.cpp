#include "PrintBuffer.h"

#include <algorithm>

namespace velmar::sim {

PrintBuffer::PrintBuffer(int size, int bytesPerSecond)
    : m_size(std::max(size, 4)),
      m_byteUs((1000000 + std::max(bytesPerSecond, 1) / 2) / std::max(bytesPerSecond, 1)) {}

void PrintBuffer::forget(std::int64_t t) {
    while (!m_finishTimes.empty() && m_finishTimes.front() <= t) {
        m_finishTimes.pop_front();
    }
}

int PrintBuffer::level(std::int64_t t) {
    forget(t);
    return static_cast<int>(m_finishTimes.size());
}

std::int64_t PrintBuffer::push(std::int64_t t) {
    forget(t);
    m_freeAt = std::max(m_freeAt, t) + m_byteUs;
    m_finishTimes.push_back(m_freeAt);
    return m_freeAt;
}

std::int64_t PrintBuffer::addWork(std::int64_t t, std::int64_t us) {
    m_freeAt = std::max(m_freeAt, t) + us;
    return m_freeAt;
}

std::int64_t PrintBuffer::timeBelowLowWater(std::int64_t t) const {
    // Level below L means at most L - 1 bytes left: the (n - L + 1)-th byte
    // in the queue has been printed.
    const auto n = static_cast<std::int64_t>(m_finishTimes.size());
    const std::int64_t mustFinish = n - lowWater() + 1;
    if (mustFinish <= 0) {
        return t;
    }
    return std::max(t, m_finishTimes[static_cast<std::size_t>(mustFinish - 1)]);
}

} // namespace velmar::sim
