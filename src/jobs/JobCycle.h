#pragma once
// The job cycle: the poll tick, the channel scan, the job step, the result
// handling that answers the host, and the shut-down.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace velmar {

class Engine;

class JobCycle : public QObject {
    Q_OBJECT
public:
    // What each result code of a job tells the host (SR_ERR.00n) and the operator (Text2).
    static QByteArray errorText(std::int16_t code);  // empty: no error file
    static QString statusText(std::int16_t code);
    static constexpr const char* kE502 = "E502: Nessuna porta di comunicazione disponibile";
    static constexpr const char* kE506 = "E506: Trasmissione non avvenuta: file di input non presente";

    explicit JobCycle(Engine& engine, QObject* parent = nullptr);

    void Timer21_Timer();    // one poll tick
    void txtTimer_Change();  // one job step
    // The first channel 1-4 with a job ready (0 when none); requests dumps on the way.
    std::int16_t iVerifyStartVelmar();
    void FinishJob(std::int16_t code);

    // A close request: false, refused, while a transmission runs. Otherwise
    // runs the whole shut-down, saving the settings through `saveSettings`,
    // and then calls `endProgram`.
    bool requestClose();
    std::function<void()> saveSettings;
    std::function<void()> endProgram;

signals:
    // A job has ended: its channel, the status text shown after "VELMAR
    // TERMINATO : ", and what was written into SR_ERR (empty on success).
    void jobEnded(int channel, const QString& statusText, const QByteArray& errorText);

private:
    Engine& e_;
    bool heartbeat_ = false;
};

} // namespace velmar
