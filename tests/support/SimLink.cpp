#include "support/SimLink.h"

#include "common/Fault.h"

namespace velmar::test {

ModelPump::~ModelPump() {
    if (pending_ != 0) {
        rt_.cancel(pending_);
    }
}

void ModelPump::reschedule() {
    const std::optional<std::int64_t> wake = model_.nextWakeUs();
    if (!wake) {
        return;
    }
    if (pending_ != 0 && pendingAt_ <= *wake) {
        return; // an earlier or equal delivery is planned already
    }
    if (pending_ != 0) {
        rt_.cancel(pending_);
    }
    pendingAt_ = *wake;
    pending_ = rt_.scheduleAtUs(*wake, [this] {
        pending_ = 0;
        pendingAt_ = -1;
        const QList<sim::Emission> due = model_.takeDue(rt_.nowUs());
        for (const sim::Emission& e : due) {
            if (deliver) {
                deliver(e);
            }
        }
        reschedule();
    });
}

SimSerialControl::SimSerialControl(VirtualRuntime& rt, sim::RegisterModel& model)
    : rt_(rt), model_(model), pump_(rt, model) {
    pump_.deliver = [this](const sim::Emission& e) {
        if (open_) { // bytes that reach a closed port are lost, as on a line
            rx_ += e.bytes;
        }
    };
}

void SimSerialControl::setCommPort(int port) {
    if (open_) {
        if (port == port_) {
            return;
        }
        throw Fault(faultno::PortAlreadyOpen);
    }
    if (!existingPorts.contains(port)) {
        throw Fault(faultno::InvalidPort);
    }
    port_ = port;
}

void SimSerialControl::setSettings(const QString& settings) {
    if (!settings.endsWith(QLatin1String(",N,8,1"))) {
        throw Fault(faultno::InvalidProperty);
    }
    settings_ = settings;
}

void SimSerialControl::setPortOpen(bool open) {
    if (!open) {
        open_ = false;
        rx_.clear();
        return;
    }
    if (open_) {
        throw Fault(faultno::PortAlreadyOpen);
    }
    if (!existingPorts.contains(port_)) {
        throw Fault(faultno::InvalidPort);
    }
    if (busyPorts.contains(port_)) {
        throw Fault(faultno::PortAlreadyOpen);
    }
    open_ = true;
    ++opens;
}

void SimSerialControl::requireOpen() const {
    if (!open_) {
        throw Fault(faultno::PortNotOpen);
    }
}

void SimSerialControl::output(const QByteArray& bytes) {
    requireOpen();
    written += bytes;
    model_.receive(bytes, rt_.nowUs());
    pump_.reschedule();
    if (onWrite) {
        onWrite();
    }
}

QByteArray SimSerialControl::input() {
    requireOpen();
    QByteArray taken;
    taken.swap(rx_);
    return taken;
}

int SimSerialControl::inBufferCount() {
    requireOpen();
    return static_cast<int>(rx_.size());
}

SimSocketControl::SimSocketControl(VirtualRuntime& rt, sim::RegisterModel& model)
    : rt_(rt), model_(model), pump_(rt, model) {
    pump_.deliver = [this](const sim::Emission& e) {
        if (state_ != Connected) {
            return;
        }
        if (!e.bytes.isEmpty()) {
            rx_ += e.bytes;
            emit dataArrival(static_cast<int>(e.bytes.size()));
        }
        if (e.dropLine) {
            state_ = Error;
            ++generation_;
            emit errorEvent(10053, QStringLiteral("Connessione interrotta"), 10053);
        }
    };
}

void SimSocketControl::connectTo(const QString& host) {
    host_ = host;
    state_ = Connecting;
    ++connects;
    const std::uint64_t generation = ++generation_;
    rt_.callLater(connectMs, [this, generation] {
        if (generation != generation_ || state_ != Connecting) {
            return;
        }
        if (registerOn && model_.acceptConnection(rt_.nowUs())) {
            state_ = Connected;
            emit connectEvent();
        } else {
            state_ = Error;
            emit errorEvent(10061, QStringLiteral("Connessione rifiutata"), 10061);
        }
    });
}

void SimSocketControl::close() {
    if (state_ == Connected) {
        model_.lineReset();
    }
    state_ = Closed;
    ++generation_;
    rx_.clear();
}

void SimSocketControl::sendData(const QByteArray& bytes) {
    if (state_ != Connected) {
        throw Fault(faultno::WrongSocketState);
    }
    written += bytes;
    model_.receive(bytes, rt_.nowUs());
    pump_.reschedule();
    if (onWrite) {
        onWrite();
    }
}

QByteArray SimSocketControl::getData(int count) {
    const QByteArray taken = rx_.left(count);
    rx_.remove(0, count);
    return taken;
}

} // namespace velmar::test
