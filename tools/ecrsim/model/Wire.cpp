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
        lastArrival_ = std::max(lastArrival_, atUs) + byteUs_;
        bytes_.emplace_back(c, lastArrival_);
    }
}

std::optional<std::int64_t> InputLine::nextArrival() const {
    if (bytes_.empty()) {
        return std::nullopt;
    }
    return bytes_.front().second;
}

std::pair<char, std::int64_t> InputLine::take() {
    auto b = bytes_.front();
    bytes_.pop_front();
    return b;
}

void InputLine::clear() {
    bytes_.clear();
}

std::int64_t OutputLine::send(std::int64_t readyUs, const QByteArray& bytes) {
    if (byteUs_ == 0) {
        // TCP: the whole answer at once, after whatever was queued before it.
        freeAt_ = std::max(freeAt_, readyUs);
        if (!bytes.isEmpty()) {
            queue_.push_back(Emission{freeAt_, bytes, false});
        }
        return freeAt_;
    }
    for (char c : bytes) {
        freeAt_ = std::max(freeAt_, readyUs) + byteUs_;
        queue_.push_back(Emission{freeAt_, QByteArray(1, c), false});
    }
    return freeAt_;
}

void OutputLine::drop(std::int64_t readyUs) {
    freeAt_ = std::max(freeAt_, readyUs);
    queue_.push_back(Emission{freeAt_, QByteArray(), true});
}

QList<Emission> OutputLine::takeDue(std::int64_t nowUs) {
    QList<Emission> due;
    while (!queue_.empty() && queue_.front().atUs <= nowUs) {
        due.append(queue_.front());
        queue_.pop_front();
    }
    return due;
}

std::optional<std::int64_t> OutputLine::nextEmission() const {
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front().atUs;
}

void OutputLine::clear() {
    queue_.clear();
}

} // namespace velmar::sim
