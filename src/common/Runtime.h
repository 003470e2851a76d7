#pragma once
// The clock and the cooperative waits of the engine.
//
// Everything runs on one thread. Every wait goes through a Runtime: the real
// one runs Qt's event loop (a wait costs no CPU; port and timer events are
// served while waiting), the virtual one jumps simulated time from event to
// event, so a 20-second XON wait takes microseconds in a test and always
// unfolds the same way.

#include <QDateTime>
#include <cstdint>
#include <functional>
#include <memory>

namespace velmar {

class RuntimeTimer {
public:
    virtual ~RuntimeTimer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0; // (re)starts counting a full interval
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // Enabled-flag style, as the timers of the operator window are driven.
    void setEnabled(bool on) { on ? start() : stop(); }
};

class Runtime {
public:
    virtual ~Runtime() = default;

    // Monotonic milliseconds and microseconds since the runtime began.
    virtual std::int64_t nowUs() const = 0;
    std::int64_t nowMs() const { return nowUs() / 1000; }
    // The wall clock, for file names, trace stamps and dates written for the host.
    virtual QDateTime currentDateTime() const = 0;

    // Serves the events that are pending; with `waitForMore`, first waits for
    // at least one (a timer tick, a port or socket event). Never spins.
    virtual void serveEvents(bool waitForMore) = 0;
    // Waits `ms` milliseconds, serving events meanwhile.
    virtual void sleepServing(int ms) = 0;
    // Waits `ms` milliseconds without serving any event.
    virtual void sleepBlind(int ms) = 0;

    // A repeating timer whose ticks are served like any other event.
    virtual std::unique_ptr<RuntimeTimer> createTimer(std::function<void()> onTick) = 0;
    // Runs `fn` once, `ms` from now, as an event.
    virtual void callLater(int ms, std::function<void()> fn) = 0;
};

// The cooperative pause of the link: ms rounded (halves to even), then whole
// 100 ms slices, events served after each; below 100 ms no pause at all.
void WaitMs(Runtime& runtime, double ms);

} // namespace velmar
