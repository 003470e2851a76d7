#include "link/QtSerialControl.h"

#include "common/Fault.h"
#include "common/SafeFile.h"
#include "support/SettingStore.h"

#include <QFileInfo>
#include <QStringList>

#include <sys/file.h>

namespace velmar {

void QtSerialControl::setCommPort(int port) {
    if (serial_.isOpen()) {
        if (port == port_) {
            return; // the port in use already: nothing to change
        }
        throw Fault(faultno::PortAlreadyOpen);
    }
    const QString device = SettingStore::serialDevice(port);
#ifndef Q_OS_WIN
    if (port < 1 || !QFileInfo::exists(device)) {
        throw Fault(faultno::InvalidPort,
                    std::string(standardFaultDescription(faultno::InvalidPort)) + " (COM" +
                        std::to_string(port) + ": " + device.toStdString() + ")");
    }
#else
    if (port < 1) {
        throw Fault(faultno::InvalidPort);
    }
#endif
    port_ = port;
    serial_.setPortName(device);
}

void QtSerialControl::setSettings(const QString& settings) {
    // "speed,parity,data bits,stop bits"; the link always uses N,8,1.
    const QStringList parts = settings.split(QLatin1Char(','));
    bool ok = false;
    const qint32 baud = parts.value(0).trimmed().toInt(&ok);
    if (parts.size() != 4 || !ok || baud <= 0 ||
        parts.at(1).trimmed().compare(QLatin1String("N"), Qt::CaseInsensitive) != 0 ||
        parts.at(2).trimmed() != QLatin1String("8") || parts.at(3).trimmed() != QLatin1String("1")) {
        throw Fault(faultno::InvalidProperty);
    }
    settings_ = settings;
    baud_ = baud;
    if (serial_.isOpen()) {
        serial_.setBaudRate(baud_);
    }
}

void QtSerialControl::setHandshaking(int mode) {
    if (mode < 0 || mode > 3) {
        throw Fault(faultno::InvalidProperty);
    }
    handshaking_ = mode;
}

void QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (serial_.isOpen()) {
            serial_.close();
        }
        return;
    }
    if (serial_.isOpen()) {
        throw Fault(faultno::PortAlreadyOpen);
    }
    if (port_ == 0) {
        throw Fault(faultno::InvalidPort);
    }
    if (!serial_.open(QIODevice::ReadWrite)) {
        const auto error = serial_.error();
        serial_.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError: throw Fault(faultno::InvalidPort);
        case QSerialPort::OpenError:
        case QSerialPort::PermissionError: throw Fault(faultno::PortAlreadyOpen);
        default: throw Fault(faultno::PortUnavailable);
        }
    }
    // One program at a time on the register: a device another process holds
    // (another Velmar too) is in use, whoever holds it.
    const int fd = static_cast<int>(serial_.handle());
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const QString holder = safefile::lockHolder(fd);
        serial_.close();
        throw Fault(faultno::PortAlreadyOpen,
                    "porta " + SettingStore::serialDevice(port_).toStdString() + " in uso da un altro programma" +
                        (holder.isEmpty() ? std::string() : " (" + holder.toStdString() + ")"));
    }
    serial_.setBaudRate(baud_);
    serial_.setDataBits(QSerialPort::Data8);
    serial_.setParity(QSerialPort::NoParity);
    serial_.setStopBits(QSerialPort::OneStop);
    // RTS/CTS when the handshaking asks for it; never the driver's XON/XOFF,
    // which would swallow the bytes the dialogue waits for.
    serial_.setFlowControl(handshaking_ >= 2 ? QSerialPort::HardwareControl
                                             : QSerialPort::NoFlowControl);
    serial_.clear();
}

void QtSerialControl::requireOpen() const {
    if (!serial_.isOpen()) {
        throw Fault(faultno::PortNotOpen);
    }
}

void QtSerialControl::output(const QByteArray& bytes) {
    requireOpen();
    serial_.write(bytes);
    serial_.flush(); // on the line now, not at the next turn of the event loop
}

QByteArray QtSerialControl::input() {
    requireOpen();
    return serial_.readAll();
}

int QtSerialControl::inBufferCount() {
    requireOpen();
    return static_cast<int>(serial_.bytesAvailable());
}

} // namespace velmar
