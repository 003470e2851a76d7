#include "SerialDeviceLink.h"

namespace velmar::ecrsim {

SerialDeviceLink::SerialDeviceLink(QString device, int baud, QObject* parent)
    : Link(parent), m_device(std::move(device)), m_baud(baud) {
    connect(&m_port, &QSerialPort::readyRead, this, [this] { emit received(m_port.readAll()); });
}

bool SerialDeviceLink::open(QString* error) {
    m_port.setPortName(m_device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_device, m_port.errorString());
        return false;
    }
    if (!m_port.setBaudRate(m_baud) || !m_port.setDataBits(QSerialPort::Data8) ||
        !m_port.setParity(QSerialPort::NoParity) || !m_port.setStopBits(QSerialPort::OneStop) ||
        !m_port.setFlowControl(QSerialPort::NoFlowControl)) {
        *error = QStringLiteral("cannot set %1 to %2 8N1: %3")
                     .arg(m_device)
                     .arg(m_baud)
                     .arg(m_port.errorString());
        m_port.close();
        return false;
    }
    return true;
}

void SerialDeviceLink::close() {
    if (m_port.isOpen()) {
        m_port.close();
    }
}

void SerialDeviceLink::write(const QByteArray& bytes) {
    m_port.write(bytes);
}

QString SerialDeviceLink::where() const {
    return m_device;
}

} // namespace velmar::ecrsim
