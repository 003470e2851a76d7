#include "Wire.h"

#include <algorithm>

namespace velmar::sim {

std::int64_t byteTimeUs(bool serial, int baud) {
    if (!serial) {
        return 0;
    }
    const std::int64_t b = std::max(baud, 1);
    return (10 * 1000000 + b / 2) / b;
}

void InputLine::write(const QByteArray& bytes, std::int64_t atUs) {
    for (char c : bytes) {
        m_lastArrival = std::max(m_lastArrival, atUs) + m_byteUs;
        m_bytes.emplace_back(c, m_lastArrival);
    }
}

std::optional<std::int64_t> InputLine::nextArrival() const {
    if (m_bytes.empty()) {
        return std::nullopt;
    }
    return m_bytes.front().second;
}

std::pair<char, std::int64_t> InputLine::take() {
    auto b = m_bytes.front();
    m_bytes.pop_front();
    return b;
}

void InputLine::clear() {
    m_bytes.clear();
}

std::int64_t OutputLine::send(std::int64_t readyUs, const QByteArray& bytes) {
    if (m_byteUs == 0) {
        // TCP: the whole answer at once, after whatever was queued before it.
        m_freeAt = std::max(m_freeAt, readyUs);
        if (!bytes.isEmpty()) {
            m_queue.push_back(Emission{m_freeAt, bytes, false});
        }
        return m_freeAt;
    }
    for (char c : bytes) {
        m_freeAt = std::max(m_freeAt, readyUs) + m_byteUs;
        m_queue.push_back(Emission{m_freeAt, QByteArray(1, c), false});
    }
    return m_freeAt;
}

void OutputLine::drop(std::int64_t readyUs) {
    m_freeAt = std::max(m_freeAt, readyUs);
    m_queue.push_back(Emission{m_freeAt, QByteArray(), true});
}

QList<Emission> OutputLine::takeDue(std::int64_t nowUs) {
    QList<Emission> due;
    while (!m_queue.empty() && m_queue.front().atUs <= nowUs) {
        due.append(m_queue.front());
        m_queue.pop_front();
    }
    return due;
}

std::optional<std::int64_t> OutputLine::nextEmission() const {
    if (m_queue.empty()) {
        return std::nullopt;
    }
    return m_queue.front().atUs;
}

void OutputLine::clear() {
    m_queue.clear();
}

} // namespace velmar::sim
