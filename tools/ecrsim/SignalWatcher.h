#pragma once
// Turns SIGTERM and SIGINT into a Qt signal, so ecrsim ends through its event
// loop and cleans up (the pseudo-terminal's link is removed).

#include <QObject>

class QSocketNotifier;

namespace velmar::ecrsim {

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

} // namespace velmar::ecrsim
