#include "ident/ConfigDump.h"

#include "common/Cp1252.h"
#include "common/EcrFamily.h"
#include "common/Fault.h"

#include <QDir>

namespace velmar {

void ConfigDump::RunDumpRequest(std::int16_t k) {
    JobState& job = ctx_.job;
    const bool serial = ctx_.panel.serialMode();
    const auto ignoring = [this](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            ctx_.trace.fault(f, "RunDumpRequest");
        }
    };
    if (!job.bDumpInProgress && !job.bJobRunning && !job.bClosing) {
        ignoring([&] {
            ctx_.Timer21.stop();
            job.bDumpInProgress = true;
            job.iCurrentCom = k;
        });
        ignoring([&] { ctx_.ecr.serialLine.OpenSerialPort(); }); // in both modes
        const bool tracing = ctx_.panel.chbTrace.value() == 1;
        if (tracing) {
            ctx_.trace.openTrace();
        }
        job.iCurrentCom = k;
        if (serial) {
            ignoring([&] { ctx_.ecr.serialLine.OpenSerialPort(); });
        }
        bool answered = false;
        {
            const ExchangeGuard exchange(ctx_.link.ExchangeDepth);
            ignoring([&] { answered = ctx_.ecr.SendString(ctx_.link.ResetString); });
            if (answered) {
                job.bDumpConf[static_cast<std::size_t>(k)] = true;
                ignoring([&] { Qarnocx21_DoDumpConf(); });
                job.bDumpInProgress = false;
            } else if (serial) {
                job.bDumpInProgress = false;
            }
        }
        if (!answered && onRegisterSilent) {
            onRegisterSilent(k);
        }
        // In network mode an unanswered reset keeps the dump pending until the
        // connection is reset (ConnectSocket with progress clears it).
        if (ctx_.panel.chbTrace.value() == 1) {
            ctx_.trace.closeTrace();
        }
    }
    if (serial) {
        ignoring([&] { ctx_.ecr.CloseSerialPort(); });
    }
}

void ConfigDump::Qarnocx21_DoDumpConf() {
    JobState& job = ctx_.job;
    job.bDumpConfActive = true;
    std::int16_t sResult = -1;
    QByteArray cRxdMesg;
    // A fault shows its description and number; the dump goes on.
    const auto step = [this](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            ctx_.ui.message(QString::fromUtf8(f.description()) + QStringLiteral(" - ") +
                            QString::number(f.number()));
        }
    };

    step([&] { sResult = ctx_.ecr.SendString(ctx_.link.ResetString) ? 0 : -1; });
    bool identified = false;
    const QByteArray identityRequest = ecrFamily(ctx_.panel.ecrVariant()).identityRequest;
    if (!identityRequest.isEmpty()) {
        step([&] {
            // Over TCP the answer itself is awaited, not the socket's taking it.
            if (ctx_.ecr.SendRequest(identityRequest)) {
                sResult = 0;
                identified = true;
                // The number follows STX and three more characters.
                const QByteArray& answer = ctx_.link.ReplyBuffer;
                const qsizetype stx = answer.indexOf(char(2));
                if (stx >= 0) {
                    cRxdMesg = answer.mid(stx + 4, 8);
                    const std::optional<int> last = ctx_.ecr.dialogue.numberInAnswer(answer);
                    if (last && onReceiptNumber) {
                        onReceiptNumber(job.iCurrentCom, *last);
                    }
                }
            } else {
                sResult = -1;
            }
        });
    }
    if (!identified) {
        step([&] { cRxdMesg = ctx_.workstationId().left(8); });
    }
    // A register that answered without telling its number does not wipe
    // out the one the operator's settings know.
    if (sResult == 0 && cRxdMesg.isEmpty() && !ctx_.panel.Text8.text().isEmpty()) {
        cRxdMesg = cp1252::encode(ctx_.panel.Text8.text());
    }
    step([&] { Qarnocx21_EvDumpConfDone(cRxdMesg, sResult); });
    job.bDumpConfActive = false;
}

void ConfigDump::Qarnocx21_EvDumpConfDone(const QByteArray& cRxdMesg, std::int16_t sResult) {
    JobState& job = ctx_.job;
    OperatorPanel& p = ctx_.panel;
    const int c = job.iCurrentCom;
    const auto finish = [&] {
        job.bDumpInProgress = false;
        job.iSettleTicks = 1;
        ctx_.Timer21.setInterval(1000);
        ctx_.Timer21.start();
    };
    try {
        if (sResult != 0) {
            ctx_.files.WriteErrFile(kFailureText, c);
            ctx_.files.SubKillStartFile(); // a pending job of the channel is dropped
            ctx_.ecr.CloseSerialPort();
            job.bDumpConf[static_cast<std::size_t>(c)] = true;
            if (job.bShowStatus) {
                p.dumpStatus(c).setText(QString::number(sResult) +
                                        QStringLiteral(" : DUMP NON ESEGUITO"));
            }
        } else {
            job.bDumpConf[static_cast<std::size_t>(c)] = false;
            // This channel is now the only one in service.
            for (int other = 1; other <= 4; ++other) {
                if (other != c) {
                    p.check(other).setValue(0); // runs the tick's handler when it was set
                }
            }
            for (int other = 1; other <= 4; ++other) {
                if (other != c) {
                    p.check(other).setEnabled(false);
                }
            }
            for (int other = 1; other <= 4; ++other) {
                if (other != c) {
                    p.portLamp(other).setColor(LampControl::kRed);
                }
            }
            if (cRxdMesg == "0") {
                job.bShowStatus = true;
            }
            WriteMatrFile(cRxdMesg);
            ctx_.files.SubKillErrFile();
            if (job.bShowStatus) {
                p.Text1.setText(cp1252::decode(cRxdMesg));
                p.dumpStatus(c).setText(QStringLiteral("DUMP ESEGUITO"));
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void ConfigDump::WriteMatrFile(const QByteArray& number) {
    const QString file = ctx_.files.path("SR_MATR", ctx_.job.iCurrentCom);
    ctx_.panel.Text8.setText(cp1252::decode(number));
    const QByteArray bytes = number + "\r\nStato: RT\r\nDriverType: Xon-Xoff\r\nVersione: " +
                             kVersion + "\r\nFW: \r\n";
    if (!writeWholeFile(file, bytes)) {
        throw Fault(QDir(ctx_.job.DataDir).exists() ? faultno::FileAccess : faultno::PathNotFound);
    }
}

void ConfigDump::ShowDumpStatus() {
    JobState& job = ctx_.job;
    for (int k = 1; k <= 4; ++k) {
        if (ctx_.panel.check(k).value() != 1) {
            job.bDumpConf[static_cast<std::size_t>(k)] = true;
        }
    }
    for (int k = 1; k <= 4; ++k) {
        ctx_.panel.dumpStatus(k).setText(job.bDumpConf[static_cast<std::size_t>(k)]
                                             ? QStringLiteral("DUMP NON ESEGUITO")
                                             : QStringLiteral("DUMP ESEGUITO"));
    }
    job.bShowStatus = true;
    emit showWindowRequested();
}

} // namespace velmar
