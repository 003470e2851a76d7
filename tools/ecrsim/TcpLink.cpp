#include "TcpLink.h"

namespace velmar::ecrsim {

TcpLink::TcpLink(quint16 port, bool refuseAll, std::function<bool()> accept, QObject* parent)
    : Link(parent), m_port(port), m_refuseAll(refuseAll), m_accept(std::move(accept)) {
    connect(&m_server, &QTcpServer::newConnection, this, &TcpLink::onNewConnection);
}

bool TcpLink::open(QString* error) {
    if (m_refuseAll) {
        return true; // nothing listens: every connection is refused
    }
    if (!m_server.listen(QHostAddress::LocalHost, m_port)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(m_port)
                     .arg(m_server.errorString());
        return false;
    }
    m_port = m_server.serverPort();
    return true;
}

void TcpLink::close() {
    if (m_client) {
        m_client->abort();
    }
    m_server.close();
}

QString TcpLink::where() const {
    QString w = QStringLiteral("127.0.0.1:%1").arg(m_port);
    if (m_refuseAll) {
        w += QStringLiteral(" (refusing every connection)");
    }
    return w;
}

void TcpLink::onNewConnection() {
    while (QTcpSocket* s = m_server.nextPendingConnection()) {
        if (m_client || !m_accept()) {
            s->abort();
            s->deleteLater();
            continue;
        }
        m_client = s;
        connect(s, &QTcpSocket::readyRead, this, [this, s] { emit received(s->readAll()); });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            s->deleteLater();
            if (m_client == s) {
                m_client = nullptr;
                emit lineLost();
            }
        });
    }
}

void TcpLink::write(const QByteArray& bytes) {
    if (m_client) {
        m_client->write(bytes);
    }
}

void TcpLink::dropLine() {
    if (m_client) {
        QTcpSocket* s = m_client;
        m_client = nullptr;
        s->abort();
        s->deleteLater();
        emit lineLost();
    }
}

} // namespace velmar::ecrsim
