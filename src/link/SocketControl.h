#pragma once
// The TCP connection to the register as the link drives it: the operations
// and events the link needs of a socket, with its state numbers and the
// Windows socket error numbers the link reacts to (10053 aborted, 10060 timed
// out, 10061 refused).

#include <QByteArray>
#include <QObject>
#include <QString>

namespace velmar {

class SocketControl : public QObject {
    Q_OBJECT
public:
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };

    using QObject::QObject;

    virtual QString remoteHost() const = 0;
    virtual void setRemoteHost(const QString& host) = 0;
    virtual void setRemotePort(int port) = 0;
    virtual int state() const = 0;
    // Starts connecting to `host` (the remote port set before); the connect or
    // error event tells how it ended.
    virtual void connectTo(const QString& host) = 0;
    virtual void close() = 0;
    // Fault 40006 unless connected.
    virtual void sendData(const QByteArray& bytes) = 0;
    // Takes up to `count` received bytes.
    virtual QByteArray getData(int count) = 0;

signals:
    void connectEvent();
    void dataArrival(int bytesTotal);
    void errorEvent(int number, const QString& description, int scode);
};

} // namespace velmar
