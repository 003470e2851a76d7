#pragma once
// A register reduced to a script, for the byte-exact answer cases a real
// register model never produces on purpose (an echo with extra bytes around
// it, a footer split across reads, one chunk too many): each write is handed
// to `answer`, whose replies arrive at the virtual times it gives.

#include "common/Fault.h"
#include "common/VirtualRuntime.h"
#include "link/SerialControl.h"
#include "link/SocketControl.h"

#include <QByteArray>
#include <QList>
#include <functional>

namespace velmar::test {

struct Reply {
    int afterMs = 0;
    QByteArray bytes;
};

class ScriptedSerialControl : public SerialControl {
public:
    explicit ScriptedSerialControl(VirtualRuntime& rt) : rt_(rt) {}

    std::function<QList<Reply>(const QByteArray& written)> answer;
    QByteArray written;
    bool open = false;
    int port = 0;

    void setCommPort(int p) override {
        if (p < 1 || p > 4) {
            throw Fault(faultno::InvalidPort);
        }
        port = p;
    }
    int commPort() const override { return port; }
    void setSettings(const QString& s) override { settings_ = s; }
    QString settings() const override { return settings_; }
    void setInputLen(int) override {}
    void setHandshaking(int) override {}
    bool portOpen() const override { return open; }
    void setPortOpen(bool o) override { open = o; }
    void output(const QByteArray& bytes) override {
        if (!open) {
            throw Fault(faultno::PortNotOpen);
        }
        written += bytes;
        if (!answer) {
            return;
        }
        for (const Reply& r : answer(bytes)) {
            rt_.callLater(r.afterMs, [this, b = r.bytes] { rx_ += b; });
        }
    }
    QByteArray input() override {
        if (!open) {
            throw Fault(faultno::PortNotOpen);
        }
        QByteArray t;
        t.swap(rx_);
        return t;
    }
    int inBufferCount() override { return static_cast<int>(rx_.size()); }
    // Bytes that arrive without a write (a late footer, a stray XON).
    void arriveLater(int ms, const QByteArray& bytes) {
        rt_.callLater(ms, [this, bytes] { rx_ += bytes; });
    }

private:
    VirtualRuntime& rt_;
    QString settings_;
    QByteArray rx_;
};

class ScriptedSocketControl : public SocketControl {
    Q_OBJECT
public:
    explicit ScriptedSocketControl(VirtualRuntime& rt) : rt_(rt) {}

    // Replies arrive as separate chunks (one data-arrival event each).
    std::function<QList<Reply>(const QByteArray& written)> answer;
    QByteArray written;
    int current = Closed;
    bool refuse = false;
    int connects = 0;
    int remotePort = 0;

    QString remoteHost() const override { return host_; }
    void setRemoteHost(const QString& h) override { host_ = h; }
    void setRemotePort(int p) override { remotePort = p; }
    int state() const override { return current; }
    void connectTo(const QString& h) override {
        host_ = h;
        ++connects;
        current = Connecting;
        rt_.callLater(2, [this] {
            if (current != Connecting) {
                return;
            }
            if (refuse) {
                current = Error;
                emit errorEvent(10061, QStringLiteral("Connessione rifiutata"), 10061);
            } else {
                current = Connected;
                emit connectEvent();
            }
        });
    }
    void close() override {
        current = Closed;
        rx_.clear();
    }
    void sendData(const QByteArray& bytes) override {
        if (current != Connected) {
            throw Fault(faultno::WrongSocketState);
        }
        written += bytes;
        if (!answer) {
            return;
        }
        for (const Reply& r : answer(bytes)) {
            rt_.callLater(r.afterMs, [this, b = r.bytes] { arrive(b); });
        }
    }
    QByteArray getData(int count) override {
        const QByteArray t = rx_.left(count);
        rx_.remove(0, count);
        return t;
    }
    void arrive(const QByteArray& b) {
        if (current != Connected) {
            return;
        }
        rx_ += b;
        emit dataArrival(static_cast<int>(b.size()));
    }
    void failLater(int ms, int number) {
        rt_.callLater(ms, [this, number] {
            current = Error;
            emit errorEvent(number, QStringLiteral("errore"), number);
        });
    }

private:
    VirtualRuntime& rt_;
    QString host_;
    QByteArray rx_;
};

} // namespace velmar::test
