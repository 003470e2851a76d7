#include "link/QtSocketControl.h"

#include "common/Fault.h"

namespace velmar {

QtSocketControl::QtSocketControl(QObject* parent) : SocketControl(parent) {
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        failed_ = false;
        emit connectEvent();
    });
    connect(&socket_, &QTcpSocket::readyRead, this,
            [this] { emit dataArrival(static_cast<int>(socket_.bytesAvailable())); });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        failed_ = true;
        const int number = errorNumber(e);
        emit errorEvent(number, errorDescription(number), number);
    });
}

int QtSocketControl::state() const {
    if (failed_) {
        return Error;
    }
    switch (socket_.state()) {
    case QAbstractSocket::UnconnectedState: return Closed;
    case QAbstractSocket::HostLookupState: return ResolvingHost;
    case QAbstractSocket::ConnectingState: return Connecting;
    case QAbstractSocket::ConnectedState: return Connected;
    case QAbstractSocket::ClosingState: return Closing;
    default: return Open;
    }
}

void QtSocketControl::connectTo(const QString& host) {
    host_ = host;
    failed_ = false;
    socket_.connectToHost(host, static_cast<quint16>(port_));
}

void QtSocketControl::close() {
    failed_ = false;
    socket_.abort(); // closed at once, as the link expects of Close
}

void QtSocketControl::sendData(const QByteArray& bytes) {
    if (state() != Connected) {
        throw Fault(faultno::WrongSocketState);
    }
    socket_.write(bytes);
    socket_.flush();
}

QByteArray QtSocketControl::getData(int count) {
    return socket_.read(count);
}

int QtSocketControl::errorNumber(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10053;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::NetworkError: return 10065;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    default: return 10004;
    }
}

QString QtSocketControl::errorDescription(int number) {
    switch (number) {
    case 10061: return QStringLiteral("Connessione rifiutata");
    case 10053: return QStringLiteral("Connessione interrotta");
    case 10060: return QStringLiteral("Tempo scaduto per la connessione");
    case 11001: return QStringLiteral("Host non trovato");
    case 10013: return QStringLiteral("Accesso negato");
    case 10055: return QStringLiteral("Risorse di rete esaurite");
    case 10065: return QStringLiteral("Host non raggiungibile");
    case 10048: return QStringLiteral("Indirizzo già in uso");
    case 10049: return QStringLiteral("Indirizzo non disponibile");
    case 10045: return QStringLiteral("Operazione non supportata");
    default: return QStringLiteral("Errore di rete");
    }
}

} // namespace velmar
