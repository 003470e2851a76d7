#include "TcpLink.h"

namespace velmar::ecrsim {

TcpLink::TcpLink(quint16 port, bool refuseAll, std::function<bool()> accept, QObject* parent)
    : Link(parent), port_(port), refuseAll_(refuseAll), accept_(std::move(accept)) {
    connect(&server_, &QTcpServer::newConnection, this, &TcpLink::onNewConnection);
}

bool TcpLink::open(QString* error) {
    if (refuseAll_) {
        return true; // nothing listens: every connection is refused
    }
    if (!server_.listen(QHostAddress::LocalHost, port_)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(port_)
                     .arg(server_.errorString());
        return false;
    }
    port_ = server_.serverPort();
    return true;
}

void TcpLink::close() {
    if (client_) {
        client_->abort();
    }
    server_.close();
}

QString TcpLink::where() const {
    QString w = QStringLiteral("127.0.0.1:%1").arg(port_);
    if (refuseAll_) {
        w += QStringLiteral(" (refusing every connection)");
    }
    return w;
}

void TcpLink::onNewConnection() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
        if (client_ || !accept_()) {
            s->abort();
            s->deleteLater();
            continue;
        }
        client_ = s;
        connect(s, &QTcpSocket::readyRead, this, [this, s] { emit received(s->readAll()); });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            s->deleteLater();
            if (client_ == s) {
                client_ = nullptr;
                emit lineLost();
            }
        });
    }
}

void TcpLink::write(const QByteArray& bytes) {
    if (client_) {
        client_->write(bytes);
    }
}

void TcpLink::dropLine() {
    if (client_) {
        QTcpSocket* s = client_;
        client_ = nullptr;
        s->abort();
        s->deleteLater();
        emit lineLost();
    }
}

} // namespace velmar::ecrsim
