#pragma once
// Simulated time for tests and benchmarks: time stands still until the engine
// waits, then jumps straight to the next scheduled event. Simulated devices
// (the in-process register) schedule their answers here. Deterministic: the
// same program and inputs always unfold in the same order.

#include "common/Runtime.h"

#include <map>
#include <stdexcept>

namespace velmar {

class VirtualRuntime : public Runtime {
public:
    explicit VirtualRuntime(QDateTime start = QDateTime(QDate(2026, 12, 6), QTime(9, 15),
                                                        Qt::LocalTime));
    ~VirtualRuntime() override;

    std::int64_t nowUs() const override { return nowUs_; }
    QDateTime currentDateTime() const override;
    void serveEvents(bool waitForMore) override;
    void sleepServing(int ms) override;
    void sleepBlind(int ms) override;
    std::unique_ptr<RuntimeTimer> createTimer(std::function<void()> onTick) override;
    void callLater(int ms, std::function<void()> fn) override;

    // Schedules `fn` at absolute time `atUs` (now when already past). Returns
    // an id for cancel().
    std::uint64_t scheduleAtUs(std::int64_t atUs, std::function<void()> fn);
    void cancel(std::uint64_t id);
    // Serves every event up to `untilUs` and leaves the clock there.
    void runUntilUs(std::int64_t untilUs);
    bool hasPendingEvents() const { return !queue_.empty(); }

    // Thrown when the engine waits for an event and none will ever come.
    struct Deadlock : std::logic_error {
        using std::logic_error::logic_error;
    };

private:
    bool runNextDue(std::int64_t limitUs);

    std::int64_t nowUs_ = 0;
    QDateTime start_;
    std::uint64_t nextSeq_ = 1;
    // Ordered by (time, sequence): events at the same time run in the order
    // they were scheduled.
    std::map<std::pair<std::int64_t, std::uint64_t>, std::function<void()>> queue_;
    std::map<std::uint64_t, std::int64_t> timeOfSeq_;
};

} // namespace velmar
