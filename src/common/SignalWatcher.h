#pragma once
// Turns the signals a program may receive into Qt signals, so a program ends
// through its event loop and its own shut-down instead of dying where it
// stands: SIGTERM, SIGINT and SIGHUP ask it to stop; SIGUSR1, SIGUSR2,
// SIGQUIT and SIGALRM are told and otherwise ignored; SIGPIPE (a closed
// standard error), SIGTTOU, SIGTTIN and SIGXFSZ are ignored, so the write
// fails and is handled where it happens. A fatal fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT) first removes the files set with removeOnCrash(),
// then ends the program as it would have.

#include <QObject>
#include <QStringList>

class QSocketNotifier;

namespace velmar {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // False when the watch could not be set up.
    bool ok() const { return notifier_ != nullptr; }

    // The files a crash removes (at most four; what announces a running
    // driver). An empty list removes none.
    static void removeOnCrash(const QStringList& paths);

signals:
    void stopRequested(int signalNumber);
    // A signal that does nothing but is told in the log.
    void ignoredSignal(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace velmar
