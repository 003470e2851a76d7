#pragma once
// The line between ecrsim and the driver: a pseudo-terminal, a serial device
// or a TCP connection. A link only moves bytes; the register model decides
// what they mean and what to answer.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace velmar::ecrsim {

class Link : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the line; false with a reason when it cannot.
    virtual bool open(QString* error) = 0;
    // Closes it and removes what open() made (the pseudo-terminal's link).
    virtual void close() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // The register drops the line (a fault): TCP closes the client.
    virtual void dropLine() = 0;
    // Where the driver finds the register, for the ready line.
    virtual QString where() const = 0;

signals:
    void received(const QByteArray& bytes);
    // The other side went away (a TCP client closed): a new line begins.
    void lineLost();
};

} // namespace velmar::ecrsim
