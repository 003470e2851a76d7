#pragma once
// The runtime of the real programs: Qt's event loop and wall clock.

#include "common/Runtime.h"

#include <QElapsedTimer>

namespace velmar {

class QtRuntime : public Runtime {
public:
    QtRuntime();
    std::int64_t nowUs() const override;
    QDateTime currentDateTime() const override;
    void serveEvents(bool waitForMore) override;
    void sleepServing(int ms) override;
    void sleepBlind(int ms) override;
    std::unique_ptr<RuntimeTimer> createTimer(std::function<void()> onTick) override;
    void callLater(int ms, std::function<void()> fn) override;

private:
    QElapsedTimer clock_;
};

} // namespace velmar
