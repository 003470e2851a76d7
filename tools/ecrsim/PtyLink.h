#pragma once
// A pseudo-terminal as a serial port: ecrsim holds the master side, the driver
// opens the slave through a symbolic link. ecrsim keeps one slave descriptor of
// its own open, so the master never sees the line hang up when the driver
// closes its port between jobs.

#include "Link.h"

class QSocketNotifier;

namespace velmar::ecrsim {

class PtyLink : public Link {
    Q_OBJECT
public:
    explicit PtyLink(QString linkPath, QObject* parent = nullptr);
    ~PtyLink() override;

    bool open(QString* error) override;
    void close() override;
    void write(const QByteArray& bytes) override;
    void dropLine() override {}
    QString where() const override;

private:
    void readMaster();
    void flushPending();

    QString linkPath_;
    QString slavePath_;
    int master_ = -1;
    int slave_ = -1;
    bool linkMade_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QByteArray pending_; // bytes the master could not take yet
};

} // namespace velmar::ecrsim
