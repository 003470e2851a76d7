#pragma once
// The two directions of the line as the register sees them. On a serial line
// every byte takes 10 bits of time (start, 8 data, stop) and the bytes of one
// direction follow each other; over TCP bytes take no time.

#include "RegisterModel.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <QByteArray>
#include <QList>

namespace velmar::sim {

// Microseconds one byte takes at `baud`, to the nearest microsecond
// (1042 at 9600, 87 at 115200); 0 for TCP.
std::int64_t byteTimeUs(bool serial, int baud);

// Bytes from the driver on their way in.
class InputLine {
public:
    explicit InputLine(std::int64_t byteUs) : byteUs_(byteUs) {}

    // The driver wrote `bytes` at `atUs`: each arrives one byte time after
    // the previous one has arrived (or after `atUs`, when the line was idle).
    void write(const QByteArray& bytes, std::int64_t atUs);
    std::optional<std::int64_t> nextArrival() const;
    // The next byte to arrive and when.
    std::pair<char, std::int64_t> take();
    void clear();

private:
    std::int64_t byteUs_;
    std::int64_t lastArrival_ = 0;
    std::deque<std::pair<char, std::int64_t>> bytes_;
};

// What the register sends, in order. Each byte is on the line one byte time
// after it was ready or after the previous byte, whichever is later; the
// emission carries the time its byte has arrived at the driver.
class OutputLine {
public:
    explicit OutputLine(std::int64_t byteUs) : byteUs_(byteUs) {}

    // Queues `bytes` ready at `readyUs`; returns when the last one arrives.
    std::int64_t send(std::int64_t readyUs, const QByteArray& bytes);
    // The line goes dead after what is queued.
    void drop(std::int64_t readyUs);
    QList<Emission> takeDue(std::int64_t nowUs);
    std::optional<std::int64_t> nextEmission() const;
    void clear();

private:
    std::int64_t byteUs_;
    std::int64_t freeAt_ = 0; // when the last queued byte has arrived
    std::deque<Emission> queue_;
};

} // namespace velmar::sim
