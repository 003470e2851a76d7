#pragma once
// The configuration dump: before a channel takes jobs, the register on it is
// asked to answer; its registration number (or the workstation's, for
// families without an identity command) goes into SR_MATR.00n, which tells the
// host the channel is in service, and the other channels are taken out of
// service.

#include "channel/ChannelFiles.h"
#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/OperatorUi.h"
#include "common/ProgramIdentity.h"
#include "common/Runtime.h"
#include "link/EcrLink.h"
#include "panel/OperatorPanel.h"

#include <QByteArray>
#include <QObject>
#include <functional>

namespace velmar {

struct DumpContext {
    OperatorPanel& panel;
    JobState& job;
    LinkState& link;
    EcrLink& ecr;
    ChannelFiles& files;
    TraceLog& trace;
    OperatorUi& ui;
    RuntimeTimer& Timer21;
    // The registration number of families without an identity command.
    std::function<QByteArray()> workstationId;
};

class ConfigDump : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFailureText =
        "Errore generico sull'Ecr, verificare sul manuale del registratore";
    static constexpr const char* kVersion = identity::kVersionText;

    explicit ConfigDump(DumpContext context, QObject* parent = nullptr)
        : QObject(parent), ctx_(std::move(context)) {}

    // Identifies the register of channel k when no job or dump runs and the
    // program is not closing; closes the serial port afterwards (serial mode).
    void RunDumpRequest(std::int16_t k);
    void Qarnocx21_DoDumpConf();
    void Qarnocx21_EvDumpConfDone(const QByteArray& cRxdMesg, std::int16_t sResult);
    // SR_MATR.00n of iCurrentCom, and the number into Text8.
    void WriteMatrFile(const QByteArray& number);
    // The tray double click: refreshes the four dump states and shows the window.
    void ShowDumpStatus();

    // The register of `channel` did not answer the reset: nothing was identified.
    std::function<void(int channel)> onRegisterSilent;
    // The identity answer told the register's last receipt number.
    std::function<void(int channel, int number)> onReceiptNumber;

signals:
    // The window should come back from the tray (normal state, shown).
    void showWindowRequested();

private:
    DumpContext ctx_;
};

} // namespace velmar
