#pragma once
// What the operator sees of each channel besides its tick and dump state: the
// register's state, its registration number, the last job's time and result,
// and a notice beside the tray icon for every job that ends in error. It also
// watches the serial ports that were missing at start-up: every 30 s, while
// no job or dump runs, it probes them again and brings a port back into the
// channel scan once it is there. The channel's tick is the operator's choice
// and is never cleared for a missing port.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <array>
#include <memory>

namespace velmar {

class Engine;
class JobCycle;
class RuntimeTimer;

class ChannelMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr int kProbeIntervalMs = 30000;

    ChannelMonitor(Engine& engine, JobCycle& cycle, QObject* parent = nullptr);
    ~ChannelMonitor() override;

    // After the start-up: tells of the missing ports and starts probing them.
    void started();
    // Probes the missing ports once (what the 30 s timer does while idle).
    void probeMissingPorts();
    // Brings the four channels' state fields up to date.
    void refresh();

    // The log line for a job's end: "COM1: VELMAR TERMINATO : TUTTO OK".
    static QString jobLine(int channel, const QString& statusText, const QByteArray& errorText);

signals:
    // A line for the program's log.
    void note(const QString& line);

private:
    void jobEnded(int channel, const QString& statusText, const QByteArray& errorText);
    QString stateOf(int channel) const;

    Engine& e_;
    JobCycle& cycle_;
    std::unique_ptr<RuntimeTimer> probeTimer_;
    std::array<bool, 5> noAnswer_{};        // [1]..[4]: the last job found no register
    std::array<QDateTime, 5> matrSeen_{};   // [1]..[4]: SR_MATR as last read
};

} // namespace velmar
