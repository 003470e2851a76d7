#pragma once
// The serial port as the link drives it: open, settings, output, input and
// the pending count. Faults are numbered as operators know them:
// 8002 no such port, 8005 already open, 8018 the port is not open.

#include <QByteArray>
#include <QString>

namespace velmar {

class SerialControl {
public:
    virtual ~SerialControl() = default;

    // Port number 1..n (channel n uses COMn). Fault 8002 for a port that does
    // not exist, 8005 while the port is open.
    virtual void setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    // "9600,N,8,1". Fault 380 for a text the port cannot take.
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    // 0: a read takes everything pending.
    virtual void setInputLen(int length) = 0;
    // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both. XON and XOFF bytes always reach
    // the caller: the dialogue does the XOFF wait itself.
    virtual void setHandshaking(int mode) = 0;

    virtual bool portOpen() const = 0;
    // Opens (8002 no such device, 8005 in use, 8010 unusable) or closes.
    virtual void setPortOpen(bool open) = 0;

    // Fault 8018 unless the port is open.
    virtual void output(const QByteArray& bytes) = 0;
    virtual QByteArray input() = 0;
    virtual int inBufferCount() = 0;
};

} // namespace velmar
