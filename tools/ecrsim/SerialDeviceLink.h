#pragma once
// A real serial device (a USB adapter, a null-modem cable to the driver's
// machine): 8 data bits, no parity, 1 stop bit and no flow control, so XON and
// XOFF travel as data.

#include "Link.h"

#include <QSerialPort>

namespace velmar::ecrsim {

class SerialDeviceLink : public Link {
    Q_OBJECT
public:
    SerialDeviceLink(QString device, int baud, QObject* parent = nullptr);

    bool open(QString* error) override;
    void close() override;
    void write(const QByteArray& bytes) override;
    void dropLine() override {}
    QString where() const override;

private:
    QString device_;
    int baud_;
    QSerialPort port_;
};

} // namespace velmar::ecrsim
