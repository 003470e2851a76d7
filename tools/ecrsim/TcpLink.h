#pragma once
// The register on the network: it listens on 127.0.0.1 only and serves one
// client at a time; a second client is closed at once. A register that refuses
// every connection does not listen at all, so a client's connection is refused.

#include "Link.h"

#include <functional>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace velmar::ecrsim {

class TcpLink : public Link {
    Q_OBJECT
public:
    // `accept` is asked for every new client; `refuseAll` keeps the port shut.
    TcpLink(quint16 port, bool refuseAll, std::function<bool()> accept, QObject* parent = nullptr);

    bool open(QString* error) override;
    void close() override;
    void write(const QByteArray& bytes) override;
    void dropLine() override;
    QString where() const override;

private:
    void onNewConnection();

    quint16 port_;
    bool refuseAll_;
    std::function<bool()> accept_;
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
};

} // namespace velmar::ecrsim
