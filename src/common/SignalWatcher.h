#pragma once
// Turns SIGTERM and SIGINT into a Qt signal, so a program ends through its
// event loop and its own shut-down instead of dying where it stands.

#include <QObject>

class QSocketNotifier;

namespace velmar {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the watch could not be set up.
    bool ok() const { return m_notifier != nullptr; }

signals:
    void stopRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace velmar
