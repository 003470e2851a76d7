#include "common/QtRuntime.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace velmar {

namespace {

class QtTimer : public RuntimeTimer {
public:
    explicit QtTimer(std::function<void()> onTick) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, std::move(onTick));
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

QtRuntime::QtRuntime() {
    clock_.start();
}

std::int64_t QtRuntime::nowUs() const {
    return clock_.nsecsElapsed() / 1000;
}

QDateTime QtRuntime::currentDateTime() const {
    return QDateTime::currentDateTime();
}

void QtRuntime::serveEvents(bool waitForMore) {
    // WaitForMoreEvents sleeps in the event dispatcher until a timer, a port
    // or a socket has something: no spinning.
    QCoreApplication::processEvents(waitForMore ? QEventLoop::WaitForMoreEvents
                                                : QEventLoop::AllEvents);
}

void QtRuntime::sleepServing(int ms) {
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void QtRuntime::sleepBlind(int ms) {
    if (ms > 0) {
        QThread::msleep(static_cast<unsigned long>(ms));
    }
}

std::unique_ptr<RuntimeTimer> QtRuntime::createTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimer>(std::move(onTick));
}

void QtRuntime::callLater(int ms, std::function<void()> fn) {
    QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), std::move(fn));
}

} // namespace velmar
