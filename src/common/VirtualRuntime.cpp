#include "common/VirtualRuntime.h"

namespace velmar {

namespace {

class VirtualTimer : public RuntimeTimer {
public:
    VirtualTimer(VirtualRuntime& rt, std::function<void()> onTick)
        : rt_(rt), onTick_(std::move(onTick)) {}
    ~VirtualTimer() override { stop(); }

    void setInterval(int ms) override {
        interval_ = ms < 0 ? 0 : ms;
        if (active_) {
            start(); // as a running timer restarts with its new interval
        }
    }
    int interval() const override { return interval_; }
    void start() override {
        stop();
        active_ = true;
        arm(rt_.nowUs() + std::int64_t(interval_) * 1000);
    }
    void stop() override {
        if (pending_ != 0) {
            rt_.cancel(pending_);
            pending_ = 0;
        }
        active_ = false;
    }
    bool isActive() const override { return active_; }

private:
    void arm(std::int64_t atUs) {
        pending_ = rt_.scheduleAtUs(atUs, [this, atUs] {
            pending_ = 0;
            // The next tick is counted from this one, like a periodic timer.
            arm(atUs + std::max<std::int64_t>(std::int64_t(interval_) * 1000, 1));
            onTick_();
        });
    }

    VirtualRuntime& rt_;
    std::function<void()> onTick_;
    int interval_ = 0;
    bool active_ = false;
    std::uint64_t pending_ = 0;
};

} // namespace

VirtualRuntime::VirtualRuntime(QDateTime start) : start_(std::move(start)) {}

VirtualRuntime::~VirtualRuntime() = default;

QDateTime VirtualRuntime::currentDateTime() const {
    return start_.addMSecs(nowUs_ / 1000);
}

std::uint64_t VirtualRuntime::scheduleAtUs(std::int64_t atUs, std::function<void()> fn) {
    const std::int64_t at = atUs < nowUs_ ? nowUs_ : atUs;
    const std::uint64_t seq = nextSeq_++;
    queue_.emplace(std::make_pair(at, seq), std::move(fn));
    timeOfSeq_.emplace(seq, at);
    return seq;
}

void VirtualRuntime::cancel(std::uint64_t id) {
    const auto it = timeOfSeq_.find(id);
    if (it == timeOfSeq_.end()) {
        return;
    }
    queue_.erase(std::make_pair(it->second, id));
    timeOfSeq_.erase(it);
}

bool VirtualRuntime::runNextDue(std::int64_t limitUs) {
    if (queue_.empty() || queue_.begin()->first.first > limitUs) {
        return false;
    }
    auto node = queue_.extract(queue_.begin());
    timeOfSeq_.erase(node.key().second);
    if (node.key().first > nowUs_) {
        nowUs_ = node.key().first;
    }
    node.mapped()(); // may wait and serve further events itself
    return true;
}

void VirtualRuntime::serveEvents(bool waitForMore) {
    bool ran = false;
    while (runNextDue(nowUs_)) {
        ran = true;
    }
    if (ran || !waitForMore) {
        return;
    }
    if (queue_.empty()) {
        throw Deadlock("the engine waits for an event, but nothing is scheduled");
    }
    const std::int64_t next = queue_.begin()->first.first;
    while (runNextDue(next)) {
    }
}

void VirtualRuntime::runUntilUs(std::int64_t untilUs) {
    while (runNextDue(untilUs)) {
    }
    if (untilUs > nowUs_) {
        nowUs_ = untilUs;
    }
}

void VirtualRuntime::sleepServing(int ms) {
    runUntilUs(nowUs_ + std::int64_t(ms > 0 ? ms : 0) * 1000);
}

void VirtualRuntime::sleepBlind(int ms) {
    if (ms > 0) {
        nowUs_ += std::int64_t(ms) * 1000;
    }
}

std::unique_ptr<RuntimeTimer> VirtualRuntime::createTimer(std::function<void()> onTick) {
    return std::make_unique<VirtualTimer>(*this, std::move(onTick));
}

void VirtualRuntime::callLater(int ms, std::function<void()> fn) {
    scheduleAtUs(nowUs_ + std::int64_t(ms > 0 ? ms : 0) * 1000, std::move(fn));
}

} // namespace velmar
