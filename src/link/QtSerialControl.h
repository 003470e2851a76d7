#pragma once
// The serial control on QSerialPort. COMn maps to a device through the
// setting store. The operating system's own XON/XOFF handling stays off, so
// XON and XOFF reach the dialogue, which does the XOFF wait itself.

#include "link/SerialControl.h"

#include <QSerialPort>

namespace velmar {

class QtSerialControl : public SerialControl {
public:
    void setCommPort(int port) override;
    int commPort() const override { return port_; }
    void setSettings(const QString& settings) override;
    QString settings() const override { return settings_; }
    void setInputLen(int length) override { inputLen_ = length; }
    void setHandshaking(int mode) override;
    bool portOpen() const override { return serial_.isOpen(); }
    void setPortOpen(bool open) override;
    void output(const QByteArray& bytes) override;
    QByteArray input() override;
    int inBufferCount() override;

    QString deviceName() const { return serial_.portName(); }

private:
    void requireOpen() const;

    QSerialPort serial_;
    int port_ = 0;
    QString settings_ = QStringLiteral("9600,N,8,1");
    qint32 baud_ = 9600;
    int inputLen_ = 0;
    int handshaking_ = 0;
};

} // namespace velmar
