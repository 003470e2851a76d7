#include "SerialDeviceLink.h"

namespace velmar::ecrsim {

SerialDeviceLink::SerialDeviceLink(QString device, int baud, QObject* parent)
    : Link(parent), device_(std::move(device)), baud_(baud) {
    connect(&port_, &QSerialPort::readyRead, this, [this] { emit received(port_.readAll()); });
}

bool SerialDeviceLink::open(QString* error) {
    port_.setPortName(device_);
    if (!port_.open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot open %1: %2").arg(device_, port_.errorString());
        return false;
    }
    if (!port_.setBaudRate(baud_) || !port_.setDataBits(QSerialPort::Data8) ||
        !port_.setParity(QSerialPort::NoParity) || !port_.setStopBits(QSerialPort::OneStop) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        *error = QStringLiteral("cannot set %1 to %2 8N1: %3")
                     .arg(device_)
                     .arg(baud_)
                     .arg(port_.errorString());
        port_.close();
        return false;
    }
    return true;
}

void SerialDeviceLink::close() {
    if (port_.isOpen()) {
        port_.close();
    }
}

void SerialDeviceLink::write(const QByteArray& bytes) {
    port_.write(bytes);
}

QString SerialDeviceLink::where() const {
    return device_;
}

} // namespace velmar::ecrsim
