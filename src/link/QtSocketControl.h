#pragma once
// The socket control on QTcpSocket, with the state numbers and the Windows
// socket error numbers the link reacts to.

#include "link/SocketControl.h"

#include <QTcpSocket>

namespace velmar {

class QtSocketControl : public SocketControl {
    Q_OBJECT
public:
    explicit QtSocketControl(QObject* parent = nullptr);

    QString remoteHost() const override { return host_; }
    void setRemoteHost(const QString& host) override { host_ = host; }
    void setRemotePort(int port) override { port_ = port; }
    int state() const override;
    void connectTo(const QString& host) override;
    void close() override;
    void sendData(const QByteArray& bytes) override;
    QByteArray getData(int count) override;

    // The Windows socket error number and its description for a Qt error.
    static int errorNumber(QAbstractSocket::SocketError error);
    static QString errorDescription(int number);

private:
    QTcpSocket socket_;
    QString host_;
    int port_ = 0;
    bool failed_ = false; // an error event came and the socket was not closed since
};

} // namespace velmar
