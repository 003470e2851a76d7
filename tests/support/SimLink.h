#pragma once
// The serial port and the TCP connection of the engine, wired to an
// in-process register model on the virtual runtime: what the driver writes
// reaches the model at that virtual time, and the model's answers arrive as
// events at the times it sets, so every timing rule runs in microseconds.

#include "common/VirtualRuntime.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"
#include "RegisterModel.h"
#include "support/Journal.h"

#include <QByteArray>
#include <QSet>

namespace velmar::test {

// The model of a family on a serial line or TCP, with faults as ecrsim
// --fault takes them.
inline sim::RegisterConfig modelConfig(int family, bool tcp, const QStringList& faults,
                                       std::uint64_t seed = 1) {
    sim::RegisterConfig c;
    c.family = family;
    c.serial = !tcp;
    c.seed = seed;
    for (const QString& text : faults) {
        QString error;
        const auto rule = sim::FaultRule::parse(text, &error);
        if (!rule) {
            qFatal("bad fault %s: %s", qPrintable(text), qPrintable(error));
        }
        c.faults << *rule;
    }
    return c;
}

// The model's journal so far, one line per document, kept across calls.
class ModelJournal {
public:
    explicit ModelJournal(sim::RegisterModel& model) : model_(model) {}
    const QList<QByteArray>& lines() { return lines_ += model_.takeJournal(); }
    QList<QJsonObject> documents(const QString& kind) { return ofKind(lines(), kind); }

private:
    sim::RegisterModel& model_;
    QList<QByteArray> lines_;
};

// Delivers the model's emissions at their times through `deliver`.
class ModelPump {
public:
    ModelPump(VirtualRuntime& rt, sim::RegisterModel& model) : rt_(rt), model_(model) {}
    ~ModelPump();
    // Re-plans the next delivery after the model was fed.
    void reschedule();
    std::function<void(const sim::Emission&)> deliver;

private:
    VirtualRuntime& rt_;
    sim::RegisterModel& model_;
    std::uint64_t pending_ = 0;
    std::int64_t pendingAt_ = -1;
};

class SimSerialControl : public SerialControl {
public:
    SimSerialControl(VirtualRuntime& rt, sim::RegisterModel& model);

    void setCommPort(int port) override;
    int commPort() const override { return port_; }
    void setSettings(const QString& settings) override;
    QString settings() const override { return settings_; }
    void setInputLen(int) override {}
    void setHandshaking(int mode) override { handshaking_ = mode; }
    bool portOpen() const override { return open_; }
    void setPortOpen(bool open) override;
    void output(const QByteArray& bytes) override;
    QByteArray input() override;
    int inBufferCount() override;

    // Ports that exist (default 1-4) and ports another program holds.
    QSet<int> existingPorts{1, 2, 3, 4};
    QSet<int> busyPorts;
    // Everything the driver wrote, for assertions.
    QByteArray written;
    int opens = 0;
    std::function<void()> onWrite; // after each write reached the register

private:
    void requireOpen() const;

    VirtualRuntime& rt_;
    sim::RegisterModel& model_;
    ModelPump pump_;
    int port_ = 0;
    QString settings_;
    int handshaking_ = 0;
    bool open_ = false;
    QByteArray rx_;
};

class SimSocketControl : public SocketControl {
    Q_OBJECT
public:
    SimSocketControl(VirtualRuntime& rt, sim::RegisterModel& model);

    QString remoteHost() const override { return host_; }
    void setRemoteHost(const QString& host) override { host_ = host; }
    void setRemotePort(int port) override { port_ = port; }
    int state() const override { return state_; }
    void connectTo(const QString& host) override;
    void close() override;
    void sendData(const QByteArray& bytes) override;
    QByteArray getData(int count) override;

    int remotePort() const { return port_; }
    // The register is switched off: connections are refused.
    bool registerOn = true;
    int connectMs = 2;
    QByteArray written;
    int connects = 0;
    std::function<void()> onWrite; // after each write reached the register

private:
    VirtualRuntime& rt_;
    sim::RegisterModel& model_;
    ModelPump pump_;
    QString host_;
    int port_ = 0;
    int state_ = Closed;
    QByteArray rx_;
    std::uint64_t generation_ = 0; // stale events of an earlier connection are ignored
};

} // namespace velmar::test
