// The job cycle as a host sees it, in virtual time against the register model:
// the channel scan, the dump before the first job, the answer files of every
// result, the poll and settle ticks, and the shut-down cases.

#include "JobCycleFixture.h"

#include "common/CaseTable.h"

#include "ident/WorkstationId.h"

#include <QDirIterator>
#include <QSignalSpy>

#include <sys/stat.h>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kE504 = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr";
const QByteArray kE510 = "E510: Esito sconosciuto: controllare sull'Ecr se lo scontrino e' stato stampato";
const QByteArray kE506 = "E506: Trasmissione non avvenuta: file di input non presente";
const QByteArray kE503 = "E503: Trasmissione non avvenuta: impossibile scrivere nella cartella dati";
const QByteArray kConversion = "ERRORE DI CONVERSIONE ";
const QByteArray kDumpFailed = "Errore generico sull'Ecr, verificare sul manuale del registratore";
const QByteArray kStaleErr = "E999: errore di un lavoro precedente\r\n";

// A receipt without the leading void: its first command is the sale, the
// 7th command the register hears after a dump (KK KK) and the job's KK.
const QByteArray kPlain = "PLUD,:PANE,P150,N1;\r\nCASH;\r\n";

// Every file under `folder` with its bytes, and every folder: to tell that
// nothing there changed.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> seen;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        seen.insert(path, QFileInfo(path).isDir() ? "<folder>"_ba : readFile(path));
    }
    return seen;
}

// The permission bits of a file (not of what a link points to).
mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Whether a line the job cycle logged holds `text`.
bool logged(const QSignalSpy& log, const QString& text) {
    return std::any_of(log.begin(), log.end(), [&](const QList<QVariant>& line) {
        return line.first().toString().contains(text);
    });
}

int receiptsWith(CycleFixture& fx, const QString& marker) {
    int found = 0;
    for (const QJsonObject& r : fx.documents("receipt")) {
        found += int(printedLines(r).count(marker));
    }
    return found;
}

} // namespace

class TestJobCycle : public QObject {
    Q_OBJECT

private slots:
    // Start files on channels 2 and 3 at one scan: channel 2 is served, channel
    // 3 waits for a later scan, whatever order the host wrote them in.
    void lowerChannelWins() {
        CycleFixture fx({.ticks = "0110"});
        QVERIFY(fx.start() && fx.bringIntoService({2, 3}));

        fx.writeJob(3, CycleFixture::receipt("JOB 3"));
        fx.writeJob(2, CycleFixture::receipt("JOB 2"));
        QVERIFY(fx.runUntil([&] { return !fx.jobEnds.isEmpty(); }, 30000));
        QCOMPARE(fx.jobStarts.first().channel, 2);
        QCOMPARE(fx.read("FINESCO", 2), "finesco"_ba);
        QCOMPARE(fx.present(3), (QStringList{"SR_START", "SR_DATI", "SR_MATR"})); // untouched

        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 3); }, 30000));
        QCOMPARE(fx.jobStarts.size(), 2);
        QCOMPARE(fx.jobStarts.at(1).channel, 3);
        // The next scan after a job: the settle tick, then one poll interval.
        QCOMPARE(fx.jobStarts.at(1).atMs - fx.jobEnds.at(0).atMs, std::int64_t(1000 + 1000));
        QCOMPARE(fx.documents("receipt").size(), 2);
        QVERIFY(receiptsWith(fx, u"JOB 2"_s) == 1 && receiptsWith(fx, u"JOB 3"_s) == 1);
    }

    // Start-up clears a previous run's registration and start files (which
    // files stay is tst_startup's afterLoad); the receipt stays. The first
    // scan identifies the register, and only a later scan runs the job.
    void firstScanIdentifiesTheRegister() {
        CycleFixture fx;
        const QByteArray receipt = CycleFixture::receipt("JOB 1");
        fx.put("SR_MATR", 1, "OLD\r\n");
        fx.writeJob(1, receipt);
        QVERIFY(fx.start());
        QCOMPARE(fx.present(1), QStringList{"SR_DATI"});
        QCOMPARE(fx.read("SR_DATI", 1), receipt);

        std::int64_t identifiedAt = -1;
        QObject::connect(&fx.panel().Text8, &TextControl::changed, &fx.panel().Text8,
                         [&] { identifiedAt = fx.rt.nowMs(); });
        fx.put("SR_START", 1, "1\r\n"); // the host starts the job it left behind
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));

        QCOMPARE(fx.scans.first(), std::int64_t(1000)); // one poll interval after start-up
        QVERIFY(identifiedAt >= fx.scans.at(0));
        QVERIFY(identifiedAt < fx.scans.at(1));
        QCOMPARE(fx.jobStarts.size(), 1);
        QCOMPARE(fx.jobStarts.first().atMs, fx.scans.at(1));
        QCOMPARE(fx.read("SR_MATR", 1),
                 workstationIdentifier() +
                     "\r\nStato: RT\r\nDriverType: Xon-Xoff\r\nVersione: 2.0.0.2\r\nFW: \r\n");
        QCOMPARE(receiptsWith(fx, "JOB 1"), 1);
        QVERIFY(!fx.exists("SR_DATI", 1));
    }

    // A start file waiting on a channel whose register cannot be identified.
    void dumpFails_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("dumpRan"); // the register answered the request's reset
        // The line is dead: the request's reset is not answered, so no dump
        // runs; the waiting job is answered E504 at once (nothing of it was
        // sent), and the register is asked again less and less often.
        QTest::newRow("register silent") << 0 << QStringList{u"drop"_s} << false;
        // The request's reset is answered, the dump's own reset is not.
        QTest::newRow("silent after the request") << 0 << QStringList{u"drop@3"_s} << true;
        // The identity request of family 6 is refused.
        QTest::newRow("family 6, 89F refused") << 6 << QStringList{u"refuse@5"_s} << true;
    }
    void dumpFails() {
        QFETCH(int, family);
        QFETCH(QStringList, faults);
        QFETCH(bool, dumpRan);
        CycleFixture fx({.family = family, .faults = faults});
        QVERIFY(fx.start());
        const QByteArray receipt = CycleFixture::receipt("JOB 1");
        fx.writeJob(1, receipt);
        if (dumpRan) { // the waiting job is dropped
            QVERIFY(fx.runUntil([&] { return fx.exists("SR_ERR", 1); }, 20000));
            QCOMPARE(fx.present(1), (QStringList{"SR_DATI", "SR_ERR"}));
            QCOMPARE(fx.read("SR_ERR", 1), kDumpFailed + "\r\n");
            QCOMPARE(fx.panel().Text4.text(), u"-1 : DUMP NON ESEGUITO"_s);
        } else { // the register is still asked, the host is told
            fx.runFor(40000);
            QCOMPARE(fx.present(1), (QStringList{"SR_DATI", "SR_ERR"}));
            QCOMPARE(fx.read("SR_ERR", 1), kE504 + "\r\n");
            // Tries at 0 s, then after pauses of 2, 4 and 8 s, each 3.8 s long.
            QCOMPARE(fx.serial.written, "KK"_ba.repeated(4));
            QVERIFY(fx.scans.size() > 10);
        }
        QCOMPARE(fx.read("SR_DATI", 1), receipt);
        QVERIFY(fx.job().bDumpConf[1]);
        QVERIFY(!fx.job().bDumpInProgress);
        QCOMPARE(fx.panel().Check1.value(), 1); // the channel stays in the scan
        QVERIFY(fx.jobStarts.isEmpty());
        QVERIFY(fx.documents("receipt").isEmpty());
    }

    // A start file without its receipt: E506 after one scan, nothing sent, and
    // polling goes on.
    void startWithoutReceipt() {
        CycleFixture fx;
        QVERIFY(fx.start() && fx.bringIntoService({1}));
        const QByteArray written = fx.serial.written;
        fx.put("SR_START", 1, "1\r\n");
        const qsizetype scansBefore = fx.scans.size();
        QVERIFY(fx.runUntil([&] { return fx.scans.size() > scansBefore; }, 5000));
        QCOMPARE(fx.read("SR_ERR", 1), kE506 + "\r\n");
        QCOMPARE(fx.present(1), (QStringList{"SR_MATR", "SR_ERR"}));
        QVERIFY(fx.jobStarts.isEmpty());
        QCOMPARE(fx.serial.written, written);

        fx.writeJob(1, CycleFixture::receipt("JOB 2"));
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 10000));
        QVERIFY(!fx.exists("SR_ERR", 1));
        QCOMPARE(receiptsWith(fx, "JOB 2"), 1);
    }

    // The answer files of each result, and the status texts.
    void jobResults_data() {
        addCaseRows(u"jobs/results.txt"_s, {"channelText", "fault", "receipt", "hook", "showStatus",
                                            "errText", "status", "printed"});
    }
    void jobResults() {
        QFETCH(QByteArray, channelText);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, hook);
        QFETCH(QByteArray, showStatus);
        QFETCH(QByteArray, errText);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, printed);
        const int channel = channelText.toInt();
        QByteArray ticks = "0000";
        ticks[channel - 1] = '1';
        CycleFixture fx({.ticks = ticks,
                         .faults = fault.isEmpty() ? QStringList{} : QStringList{QString::fromLatin1(fault)}});
        QVERIFY(fx.start() && fx.bringIntoService({channel}));
        QCOMPARE(fx.model.commandsReceived(), 4); // the fault numbers count on it

        if (showStatus == "1") {
            fx.program->handlers.trayDoubleClicked(); // the window comes back
        } else {
            fx.program->handlers.windowMinimised();
        }
        fx.panel().Text1.setText(u"prima 1"_s);
        fx.panel().Text2.setText(u"prima 2"_s);
        fx.text2.clear();
        // The previous job's answer, left by the host.
        fx.put("SR_ERR", channel, kStaleErr);
        fx.put("SR_OUT", channel, "vecchio\r\n");
        fx.put("FINESCO", channel, "finesco");
        QObject hooks;
        if (hook == "port gone") {
            fx.serial.existingPorts.remove(channel);
        } else if (hook == "receipt withdrawn") {
            // The host takes its receipt back just as the job begins.
            QObject::connect(&fx.panel().tray, &TrayControl::changed, &hooks, [&] {
                if (fx.panel().tray.icon() == TrayControl::Icon::Busy) {
                    fx.remove("SR_DATI", channel);
                }
            });
        }

        fx.writeJob(channel, receipt);
        QVERIFY(fx.runUntil([&] { return !fx.exists("SR_START", channel); }, 60000));
        QCOMPARE(fx.jobStarts.size(), 1);
        QCOMPARE(fx.jobStarts.first().channel, channel);
        QVERIFY(fx.read("SR_OUT", channel) != "vecchio\r\n");
        if (errText.isEmpty()) {
            QCOMPARE(fx.present(channel), (QStringList{"SR_MATR", "SR_OUT", "FINESCO"}));
            QCOMPARE(fx.read("FINESCO", channel), "finesco"_ba);
            QCOMPARE(fx.read("SR_OUT", channel), QByteArray()); // family 0 tells no time or number
            QCOMPARE(fx.documents("receipt").size(), 1);
        } else {
            QCOMPARE(fx.read("SR_ERR", channel), errText + "\r\n");
            QVERIFY(!fx.exists("FINESCO", channel));
            if (hook != "receipt withdrawn") {
                QCOMPARE(fx.read("SR_DATI", channel), receipt);
            }
            QCOMPARE(fx.documents("receipt").size(), printed.toInt());
            QVERIFY(!fx.model.receiptOpen()); // nothing left for the next receipt to land in
        }

        if (showStatus == "1") {
            QCOMPARE(fx.text2.size(), 2);
            QCOMPARE(fx.text2.at(0), u"TRASMISSIONE VELMAR IN CORSO .."_s);
            if (status.isEmpty()) {
                QVERIFY(fx.text2.at(1).startsWith(u"VELMAR TERMINATO : "_s));
            } else {
                QCOMPARE(fx.text2.at(1), u"VELMAR TERMINATO : "_s + QString::fromLatin1(status));
            }
            QCOMPARE(fx.panel().Text1.text(), errText.isEmpty() ? QString() : u"prima 1"_s);
        } else {
            QVERIFY(fx.text2.isEmpty());
            QCOMPARE(fx.panel().Text2.text(), u"prima 2"_s);
            QCOMPARE(fx.panel().Text1.text(), u"prima 1"_s);
        }
    }

    // What the host or the operator does while a receipt is being printed,
    // right after the job's reset: a receipt replaced is printed on its own
    // at the next scan, after the one taken; the operator's cancel waits for
    // the receipt (its "Kk" would land inside an item); a job whose SR_OUT
    // cannot be created sends nothing; a close request while the receipt is
    // being transmitted is refused, and the program keeps polling.
    void duringTheJob_data() {
        QTest::addColumn<int>("what");
        QTest::newRow("the host replaces the receipt") << int(ReplaceReceipt);
        QTest::newRow("the operator presses Annulla Sco.") << int(CancelPressed);
        QTest::newRow("SR_OUT cannot be created") << int(OutputFolder);
        QTest::newRow("a close request") << int(CloseRequested);
    }
    void duringTheJob() {
        QFETCH(int, what);
        CycleFixture fx;
        QVERIFY(fx.start() && fx.bringIntoService({1}));
        const qsizetype before = fx.serial.written.size();
        bool struck = false;
        bool closeRefused = false;
        fx.serial.onWrite = [&] {
            if (struck) {
                return;
            }
            struck = true;
            if (what == ReplaceReceipt) {
                fx.put("SR_DATI", 1, CycleFixture::receipt("SECONDO"));
            } else if (what == CancelPressed) {
                fx.panel().AnnullaSco.click();
            } else if (what == CloseRequested) {
                closeRefused = fx.engine().link.TransmitBusy && !fx.program->requestClose();
            }
        };
        if (what == OutputFolder) {
            QVERIFY(QDir(fx.dataDir.path()).mkdir(u"SR_OUT.001"_s));
        }
        fx.writeJob(1, CycleFixture::receipt("PRIMO"));
        QVERIFY(fx.runUntil([&] { return !fx.exists("SR_START", 1); }, 120000));
        fx.runFor(3000);
        const QByteArray sent = fx.serial.written.mid(before);
        if (what == OutputFolder) {
            QCOMPARE(fx.read("SR_ERR", 1), kE503 + "\r\n");
            QCOMPARE(fx.read("SR_DATI", 1), CycleFixture::receipt("PRIMO"));
            QVERIFY(sent.isEmpty()); // not even the reset
            QVERIFY(fx.documents("receipt").isEmpty());
            return;
        }
        QCOMPARE(fx.read("FINESCO", 1), "finesco"_ba);
        QVERIFY(!fx.exists("SR_DATI", 1));
        QCOMPARE(receiptsWith(fx, u"PRIMO"_s), 1);
        QCOMPARE(receiptsWith(fx, u"SECONDO"_s), what == ReplaceReceipt ? 1 : 0);
        for (const QJsonObject& r : fx.documents("receipt")) {
            QCOMPARE(printedLines(r).size(), 1); // never two receipts in one
        }
        QCOMPARE(fx.jobStarts.size(), what == ReplaceReceipt ? 2 : 1);
        if (what == CancelPressed) {
            QVERIFY(!sent.contains("Kk"));
            QVERIFY(fx.ui.texts().join(u'|').contains(u"Stampa in corso"_s));
        }
        if (what == CloseRequested) {
            QVERIFY(closeRefused);
            QVERIFY(!fx.ended && !fx.job().bClosing && fx.panel().tray.visible());
            fx.remove("FINESCO", 1); // the host collects it: polling goes on
            fx.writeJob(1, CycleFixture::receipt("TERZO"));
            QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));
            QVERIFY(fx.close() && fx.ended);
        }
    }

    // After a job or a dump the next tick comes 1000 ms later and only restores
    // the poll interval: the next scan is 1000 ms + the interval after the end.
    // Then scan after scan, nothing: an identified channel without a start
    // file is left alone.
    void settleTick_data() {
        QTest::addColumn<bool>("afterJob");
        QTest::newRow("after a dump") << false;
        QTest::newRow("after a job") << true;
    }
    void settleTick() {
        QFETCH(bool, afterJob);
        CycleFixture fx({.interval = "5"});
        QVERIFY(fx.start());
        QCOMPARE(fx.job().nPollInterval, 5000);
        std::int64_t endedAt = -1;
        QObject::connect(&fx.panel().Text8, &TextControl::changed, &fx.panel().Text8,
                         [&] { endedAt = fx.rt.nowMs(); }); // the dump's registration number
        QVERIFY(fx.bringIntoService({1}));
        QCOMPARE(fx.scans.first(), std::int64_t(5000));
        if (afterJob) {
            fx.writeJob(1, CycleFixture::receipt("JOB 1"));
            QVERIFY(fx.runUntil([&] { return !fx.jobEnds.isEmpty(); }, 30000));
            endedAt = fx.jobEnds.first().atMs;
            QCOMPARE(fx.read("FINESCO", 1), "finesco"_ba);
        }
        QVERIFY(endedAt > 0);
        const qsizetype scansAtEnd = fx.scans.size();
        const std::int16_t count = fx.job().iTickCount;
        QCOMPARE(fx.engine().Timer21->interval(), 1000);
        QVERIFY(fx.engine().Timer21->isActive());

        // The settle tick: the interval comes back, nothing is scanned.
        fx.rt.runUntilUs((endedAt + 1000 + 1) * 1000);
        QCOMPARE(fx.scans.size(), scansAtEnd);
        QCOMPARE(fx.job().iTickCount, count);
        QCOMPARE(fx.job().iSettleTicks, std::int16_t(0));
        QCOMPARE(fx.engine().Timer21->interval(), 5000);
        QVERIFY(fx.engine().Timer21->isActive());
        const QByteArray written = fx.serial.written;
        const QByteArray matr = fx.read("SR_MATR", 1);

        QVERIFY(fx.runUntil([&] { return fx.scans.size() == scansAtEnd + 3; }, 20000));
        QCOMPARE(fx.scans.at(scansAtEnd) - endedAt, std::int64_t(1000 + 5000));
        // Idle scans then follow at the poll interval.
        QCOMPARE(fx.scans.at(scansAtEnd + 1) - fx.scans.at(scansAtEnd), std::int64_t(5000));
        QCOMPARE(fx.scans.at(scansAtEnd + 2) - fx.scans.at(scansAtEnd + 1), std::int64_t(5000));
        QCOMPARE(fx.serial.written, written);
        QCOMPARE(fx.read("SR_MATR", 1), matr);
        QCOMPARE(fx.present(1), afterJob ? (QStringList{"SR_MATR", "SR_OUT", "FINESCO"})
                                         : (QStringList{"SR_MATR"}));
    }

    // Poll ticks while a dump runs (the operator ticking a box re-arms the
    // timer in the middle of it) change nothing, not even the tick counter.
    void tickDuringDump() {
        // The register answers the request's reset 2.5 s late: a long dump.
        CycleFixture fx({.faults = {u"late-echo:2500@1"_s}});
        QVERIFY(fx.start());
        int ticksInDump = 0;
        QObject::connect(&fx.engine(), &Engine::pollTick, &fx.engine(), [&] {
            if (fx.job().bDumpInProgress) {
                ++ticksInDump;
            }
        });
        // A tick in the middle of the dump: the count, its text, the timer armed.
        const auto state = [&] {
            return u"%1 %2 %3"_s.arg(fx.job().iTickCount)
                .arg(fx.panel().txtTimer.text())
                .arg(fx.engine().Timer21->isActive() ? "armed" : "stopped");
        };
        QString before, after;
        fx.every(10, [&] {
            if (!fx.job().bDumpInProgress) {
                return true;
            }
            fx.tick(2); // service mode: the poll timer is armed again
            before = state();
            fx.program->cycle.Timer21_Timer();
            after = state();
            return false;
        });
        QVERIFY(fx.runUntil([&] { return fx.exists("SR_MATR", 1); }, 20000));
        QVERIFY2(before.endsWith(" armed"), qPrintable(before));
        QCOMPARE(after, before);
        QVERIFY2(ticksInDump >= 2, qPrintable(QString::number(ticksInDump)));
        QCOMPARE(fx.job().iTickCount, std::int16_t(1)); // the first scan requested the dump
        QCOMPARE(fx.scans.size(), 1);
    }

    // Closing while idle: the registration files go, nothing else. The
    // answers of finished jobs stay until the host collects them, and a job
    // not taken yet keeps its files. (The settings it writes are
    // tst_startup's afterLoad and save.)
    void closeWhenIdle() {
        CycleFixture fx({.ticks = "1100"});
        fx.serial.existingPorts.remove(4);
        QVERIFY(fx.start() && fx.bringIntoService({1, 2}));
        fx.writeJob(1, CycleFixture::receipt("JOB 1"));
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));
        const QByteArray sr_out = fx.read("SR_OUT", 1);
        QVERIFY(sr_out.startsWith("TIME,") || sr_out.isEmpty());
        fx.writeJob(2, "BOGUS;\r\n");
        QVERIFY(fx.runUntil([&] { return fx.exists("SR_ERR", 2); }, 30000));
        QCOMPARE(fx.read("SR_ERR", 2), kConversion + "\r\n");
        fx.put("SR_ERR", 3, kStaleErr);
        QSignalSpy notice(&fx.panel().Form1, &PanelControl::visibleChanged);
        fx.runFor(3000);
        fx.remove("SR_ERR", 2);                          // collected
        fx.writeJob(2, CycleFixture::receipt("JOB 2")); // not taken before the close

        const std::int64_t closeAt = fx.rt.nowMs();
        QVERIFY(fx.close());
        QVERIFY(fx.ended);
        QCOMPARE(fx.endedAtMs - closeAt, std::int64_t(1000 + 3 * 1000)); // three ports to close
        QCOMPARE(fx.present(1), (QStringList{"SR_OUT", "FINESCO"}));
        QCOMPARE(fx.read("SR_OUT", 1), sr_out);
        QCOMPARE(fx.present(2), (QStringList{"SR_START", "SR_DATI"}));
        QCOMPARE(fx.read("SR_DATI", 2), CycleFixture::receipt("JOB 2"));
        QCOMPARE(fx.read("SR_ERR", 3), kStaleErr);
        QCOMPARE(receiptsWith(fx, "JOB 1"), 1);
        QCOMPARE(receiptsWith(fx, "JOB 2"), 0);
        QVERIFY(!fx.panel().tray.visible());
        QCOMPARE(notice.size(), 2); // the closing notice came and went
        QVERIFY(!fx.panel().Form1.visible());
    }

    // Closing while a dump or a job is under way.
    void closeDuringWork_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("moment");
        QTest::newRow("dump request waiting for the reset")
            << QStringList{u"late-echo:2500@1"_s} << int(InDumpRequest);
        QTest::newRow("job on a port another program holds") << QStringList{} << int(InJob);
        QTest::newRow("inside the dump exchange")
            << QStringList{u"late-echo:2500@3"_s} << int(InDumpExchange);
    }
    void closeDuringWork() {
        QFETCH(QStringList, faults);
        QFETCH(int, moment);
        // Inside the dump exchange: the ordinary shut-down (a second per port
        // closed). Outside it: the waits are cut short, the files stay.
        const bool cutShort = moment != InDumpExchange;
        CycleFixture fx({.faults = faults});
        QVERIFY(fx.start());
        if (moment == InJob) {
            QVERIFY(fx.bringIntoService({1}));
            fx.serial.busyPorts << 1;
        }
        const QByteArray receipt = CycleFixture::receipt("JOB 1");
        fx.writeJob(1, receipt);
        fx.put("SR_ERR", 1, kStaleErr);
        for (const char* name : {"VMCHKCOM.TXT", "VMChkBd.txt", "VMCHKSCO.TXT"}) {
            QFile::remove(fx.settingPath(name)); // the shut-down writes them anew
        }

        std::int64_t closeAt = -1;
        bool waitsCut = false;
        fx.program->cycle.saveSettings = [&] {
            waitsCut = fx.engine().link.ReplyTimedOut;
            fx.program->settings.SaveSettings();
        };
        fx.every(10, [&] {
            const JobState& j = fx.job();
            const bool now = moment == InDumpRequest ? j.bDumpInProgress && !j.bDumpConfActive
                             : moment == InDumpExchange
                                 ? j.bDumpConfActive
                                 : j.bJobRunning && !fx.engine().link.TransmitBusy;
            if (!now) {
                return true;
            }
            closeAt = fx.rt.nowMs();
            fx.program->requestClose(); // the program ends inside
            return false;
        });
        QVERIFY(!fx.runUntil([] { return false; }, 30000));
        QVERIFY(fx.ended);
        QVERIFY(closeAt > 0);
        QCOMPARE(fx.endedAtMs - closeAt, std::int64_t(cutShort ? 1000 + 2000 : 1000 + 4 * 1000));
        QCOMPARE(fx.readSetting("VMCHKCOM.TXT"), "1000\r\n"_ba); // the settings were saved
        QVERIFY(!fx.exists("FINESCO", 1));
        QCOMPARE(fx.read("SR_DATI", 1), receipt);
        // Whatever the moment, nothing tells the host that a driver still serves.
        QVERIFY(!fx.exists("SR_MATR", 1));
        QVERIFY(fx.exists("SR_START", 1));
        QCOMPARE(fx.read("SR_ERR", 1), kStaleErr);
        if (cutShort) {
            QVERIFY(waitsCut);
        }
        QVERIFY(fx.documents("receipt").isEmpty());
    }

    // Dumps in channel order: the first channel identified takes the others
    // out of service; one that fails leaves the scan to the next channel.
    void dumpOrder_data() {
        QTest::addColumn<QByteArray>("ticks");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("identified"); // after channel 1, when its dump failed
        QTest::newRow("channels 1 and 3") << "1010"_ba << QStringList{} << 1;
        // The dump's own reset on channel 1 is not answered (the 3rd command).
        QTest::newRow("channel 1 fails, channel 2 next") << "1100"_ba << QStringList{u"no-echo@3"_s} << 2;
    }
    void dumpOrder() {
        QFETCH(QByteArray, ticks);
        QFETCH(QStringList, faults);
        QFETCH(int, identified);
        const bool firstFailed = identified != 1;
        CycleFixture fx({.ticks = ticks, .faults = faults});
        QVERIFY(fx.start());
        QVERIFY(fx.runUntil([&] { return fx.exists("SR_MATR", identified); }, 20000));
        QCOMPARE(fx.scans.size(), 1); // all in the first scan
        fx.runFor(10000);
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(fx.exists("SR_MATR", n), n == identified);
            QCOMPARE(fx.panel().check(n).value(), n == identified ? 1 : 0);
            QCOMPARE(fx.panel().check(n).enabled(), n == identified);
            QCOMPARE(fx.panel().portLamp(n).fillColor(),
                     n == identified ? LampControl::kGreen : LampControl::kRed);
        }
        QCOMPARE(fx.read("SR_ERR", 1), firstFailed ? kDumpFailed + "\r\n" : "<missing>"_ba);
        // Two resets per dump: no channel was asked twice, none after the success.
        QCOMPARE(fx.serial.written, "KKKK"_ba.repeated(firstFailed ? 2 : 1));
    }

    // Network mode with the register switched off: the unanswered reset
    // leaves the dump pending and polling idle until the operator resets the
    // connection while it is up; then the register is identified and the
    // waiting job runs.
    void networkDumpWaitsForReset() {
        CycleFixture fx({.family = 5, .tcp = true});
        fx.socket.registerOn = false;
        QVERIFY(fx.start());
        fx.writeJob(1, CycleFixture::receipt("JOB 1"));
        fx.runFor(30000);
        QVERIFY(fx.job().bDumpInProgress);
        QCOMPARE(fx.scans.size(), 1); // every later tick did nothing
        QVERIFY(!fx.exists("SR_MATR", 1));
        // No dump ran; the host is not left waiting: nothing of its job was sent.
        QCOMPARE(fx.read("SR_ERR", 1), kE504 + "\r\n");
        QVERIFY(!fx.exists("SR_START", 1));
        fx.remove("SR_ERR", 1);
        fx.put("SR_START", 1, "1\r\n"); // the host sends it again

        // The register is back. A reset while the connection is closed only
        // connects; the pending dump is released by a reset that finds the
        // connection up.
        fx.socket.registerOn = true;
        fx.panel().cmdResetConn.click();
        fx.runFor(5000);
        QCOMPARE(fx.socket.state(), int(SocketControl::Connected));
        QVERIFY(fx.job().bDumpInProgress);
        QCOMPARE(fx.scans.size(), 1);
        fx.panel().cmdResetConn.click();
        QVERIFY(!fx.job().bDumpInProgress);
        QVERIFY(fx.runUntil([&] { return fx.exists("SR_MATR", 1); }, 10000));

        QVERIFY(fx.runUntil([&] { return !fx.exists("SR_START", 1); }, 30000));
        fx.runFor(1000);
        QCOMPARE(receiptsWith(fx, "JOB 1"), 1);
        QCOMPARE(fx.read("FINESCO", 1), "finesco"_ba);
        QVERIFY(fx.exists("SR_ERR", 1) != fx.exists("FINESCO", 1)); // one answer, whichever
    }

    // A register that stalled (XOFF) during a failed job sends its XON when
    // the stall ends. If that XON lands while the next job waits for the echo
    // of a payment the register refused, it must not count as the echo: the
    // receipt was not closed, so the host must not get FINESCO.
    void leftoverXonIsNoEcho() {
        // Commands: the dump 1-4; job A: KK 5-6, the sale 7 (XOFF, no XON for
        // 28.5 s, so job A fails before its payment's T), the payment's "1"
        // and the K that ends it 8; job B: K 9, the cancel A left owed (K k)
        // 10-11, 25F 12, its text line 13, the sale 14, the payment 15, refused
        // without an answer: to Velmar an answer lost after the payment ran.
        CycleFixture fx({.faults = {u"xoff-stall:28500@7"_s, u"refuse@15"_s}});
        QVERIFY(fx.start() && fx.bringIntoService({1}));
        fx.writeJob(1, kPlain);
        QVERIFY(fx.runUntil([&] { return !fx.exists("SR_START", 1); }, 60000));
        QCOMPARE(fx.read("SR_ERR", 1), kE504 + "\r\n"); // the register held XOFF: no cancel sent
        fx.remove("SR_ERR", 1); // the host collects the answer
        fx.writeJob(1, CycleFixture::receipt("JOB B"));
        QVERIFY(fx.runUntil([&] { return !fx.exists("SR_START", 1); }, 60000));
        fx.runFor(1000);

        const QList<QJsonObject> refused = fx.documents("refused");
        QVERIFY(std::any_of(refused.begin(), refused.end(), // the payment
                            [](const QJsonObject& o) { return o.value(u"command"_s) == u"1T"_s; }));
        QVERIFY(fx.documents("receipt").isEmpty()); // nothing was printed
        QCOMPARE(fx.documents("void").size(), 2);   // job A's receipt, then job B's
        QVERIFY(!fx.exists("FINESCO", 1));
        // An unanswered payment may have run: family 0 cannot be asked.
        QCOMPARE(fx.read("SR_ERR", 1), kE510 + "\r\n");
    }

    // A hostile host (or anyone who can write the data directory): links,
    // pipes and folders in the places of Velmar's files, and jobs on a
    // channel not in service. Afterwards nothing outside the data directory
    // changed, the register printed what the host meant or nothing, the host
    // got its answer (or, where none can be written, the job waits and the
    // log says why), the files with receipt contents are for Velmar's user
    // and group only, and the next receipt prints.
    void hostileHost_data() {
        addCaseRows(u"jobs/hostile.txt"_s,
                    {"place", "kind", "channelText", "receipt", "answer", "printedText"});
    }
    void hostileHost() {
        QFETCH(QByteArray, place);
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, channelText);
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, printedText);
        QString name = QString::fromLatin1(place);
        const int channel = channelText.toInt();
        const int printed = printedText.toInt();
        const mode_t umaskBefore = ::umask(022); // others could read everything without the rule
        CycleFixture fx({.ticks = "1100", .family = 5});
        QVERIFY(fx.start() && fx.bringIntoService({1, 2}));
        QSignalSpy log(&fx.program->cycle, &JobCycle::logLine);
        fx.panel().chbTrace.setValue(1);

        QTemporaryDir outside;
        const QString target = QDir(outside.path()).filePath(u"target.txt"_s);
        QVERIFY(writeFile(target, CycleFixture::receipt("OUTSIDE")));
        QVERIFY(QDir(outside.path()).mkdir(u"folder"_s));
        if (name == u"TRACE_"_s) {
            name += fx.rt.currentDateTime().toLocalTime().toString(u"yyyyMM"_s);
        }
        const QString placed = QDir(fx.dataDir.path()).filePath(name);
        if (kind == "link") {
            const bool folder = name.startsWith(u"TRACE_"_s);
            QVERIFY(QFile::link(folder ? QDir(outside.path()).filePath(u"folder"_s) : target, placed));
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(placed).constData(), 0666), 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(placed));
        }
        const QMap<QString, QByteArray> before = snapshot(outside.path());
        if (name.startsWith(u"SR_DATI"_s)) {
            fx.put("SR_START", channel, "1\r\n"); // the receipt is what was put there
        } else {
            fx.writeJob(channel, receipt);
        }
        if (kind == "folder") {
            fx.writeJob(2, CycleFixture::receipt("CHANNEL 2"));
        }
        if (kind == "late folder") {
            fx.every(10, [&] { return !fx.engine().link.TransmitBusy || !QDir().mkdir(placed); });
            QVERIFY(fx.runUntil([&] { return logged(log, u"risposta all'host non scritta"_s); }, 30000));
            fx.runFor(5000); // more scans: the job waits, it is not sent again
            QVERIFY(QFileInfo(placed).isDir() && !fx.exists("SR_ERR", channel));
            QCOMPARE(receiptsWith(fx, u"MEANT"_s), 1);
            QVERIFY(QDir().rmdir(placed));
        }
        const bool answered =
            fx.runUntil([&] { return fx.answered(channel); }, answer.isEmpty() ? 20000 : 30000);
        QCOMPARE(answered, !answer.isEmpty());
        fx.runFor(3000); // the register's last answers
        QCOMPARE(snapshot(outside.path()), before);
        QCOMPARE(receiptsWith(fx, u"OUTSIDE"_s), 0);
        QCOMPARE(receiptsWith(fx, u"MEANT"_s), printed);
        if (answer == "finesco") {
            QCOMPARE(fx.read("FINESCO", channel), answer);
            QVERIFY(!fx.exists("SR_ERR", channel));
        } else if (!answer.isEmpty()) {
            QCOMPARE(fx.read("SR_ERR", channel), answer + "\r\n");
            QVERIFY(!fx.exists("FINESCO", channel));
        } else {
            // No answer can be written: the job waits, the log says why, and
            // the other channel is served.
            QVERIFY(fx.exists("SR_START", channel));
            QCOMPARE(fx.read("FINESCO", 2), "finesco"_ba);
            QCOMPARE(receiptsWith(fx, u"CHANNEL 2"_s), 1);
            QVERIFY(logged(log, name + u" è una cartella"_s));
            QVERIFY(QDir().rmdir(placed)); // the host mends it: the job is served
            QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", channel); }, 30000));
            QCOMPARE(receiptsWith(fx, u"MEANT"_s), 1);
        }
        // Velmar's own files are files of its own, not links, and what holds
        // receipt contents is not for others.
        for (const char* own : {"XON.txt", "VMJOB.001", "SR_OUT.001", "SR_ERR.001", "FINESCO.001"}) {
            QVERIFY2(!QFileInfo(fx.dataDir.filePath(QLatin1String(own))).isSymLink(), own);
        }
        QCOMPARE(modeOf(fx.dataDir.filePath(u"VMJOB.001"_s)) & 0007, mode_t(0));
        if (QFileInfo::exists(fx.dataDir.filePath(u"XON.txt"_s))) {
            QCOMPARE(modeOf(fx.dataDir.filePath(u"XON.txt"_s)), mode_t(0640));
        }

        // The next receipt prints, once the host has mended the folder.
        if (kind == "folder" && QFileInfo(placed).isDir()) {
            QVERIFY(QDir().rmdir(placed));
        }
        for (const char* base : {"SR_DATI", "SR_ERR", "FINESCO", "SR_OUT"}) {
            fx.remove(base, 1);
        }
        fx.writeJob(1, CycleFixture::receipt("NEXT"));
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));
        QCOMPARE(receiptsWith(fx, u"NEXT"_s), 1);
        QCOMPARE(snapshot(outside.path()), before);
        QDirIterator traces(fx.dataDir.path(), {u"TRACE_*.TXT"_s}, QDir::Files, QDirIterator::Subdirectories);
        bool sentTraced = false; // at least the next receipt's, from its reset on
        while (traces.hasNext()) {
            const QString trace = traces.next();
            QCOMPARE(modeOf(trace), mode_t(0640));
            sentTraced = sentTraced || readFile(trace).contains(" <-->  --> KK");
        }
        QVERIFY(sentTraced);
        ::umask(umaskBefore);
    }

    // The same cycle over a serial line and over TCP: dump, then two jobs.
    void wholeCycle_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("tcp") << true;
    }
    void wholeCycle() {
        QFETCH(bool, tcp);
        CycleFixture fx({.family = 5, .tcp = tcp});
        QVERIFY(fx.start());
        QCOMPARE(fx.panel().OptionRete.value(), tcp);
        fx.writeJob(1, CycleFixture::receipt("JOB 1"));
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));
        QVERIFY(fx.read("SR_MATR", 1).startsWith(workstationIdentifier() + "\r\nStato: RT\r\n"));
        fx.runFor(6000); // the register settles the footer's acknowledgement
        QList<QJsonObject> receipts = fx.documents("receipt");
        QCOMPARE(receipts.size(), 1);
        // The register's clock starts at 09:15 on 6 December 2026, its count at 1.
        QCOMPARE(fx.read("SR_OUT", 1), "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                       "DATE,06/12/26  SCONTR. N.0001 ,E,A1;\r\n"_ba);

        fx.remove("FINESCO", 1);
        fx.writeJob(1, CycleFixture::receipt("JOB 2"));
        QVERIFY(fx.runUntil([&] { return fx.exists("FINESCO", 1); }, 30000));
        fx.runFor(6000);
        receipts = fx.documents("receipt");
        QCOMPARE(receipts.size(), 2);
        QVERIFY(printedLines(receipts.at(1)).contains(u"JOB 2"_s));
        QCOMPARE(fx.read("SR_OUT", 1), "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                       "DATE,06/12/26  SCONTR. N.0002 ,E,A1;\r\n"_ba);
        QVERIFY(!fx.exists("SR_ERR", 1));
        QVERIFY(!fx.exists("SR_DATI", 1));
        QVERIFY(QDir(fx.dataDir.path()).entryList({u"TRACE_*"_s}).isEmpty()); // tracing is off
        if (tcp) {
            QVERIFY(fx.socket.connects >= 1);
            QVERIFY(fx.socket.written.startsWith("KKKK")); // the dump's two resets
            QVERIFY(fx.socket.written.contains("\"JOB 2\"@"));
            QVERIFY(fx.serial.written.isEmpty());
        } else {
            QVERIFY(fx.serial.written.startsWith("KKKK"));
            QVERIFY(fx.socket.written.isEmpty());
            QVERIFY(receipts.at(1).value(u"ack"_s).toBool());
        }
    }

private:
    enum During { ReplaceReceipt, CancelPressed, OutputFolder, CloseRequested };
    enum Moment { InDumpRequest, InDumpExchange, InJob };
};

QTEST_GUILESS_MAIN(TestJobCycle)
#include "tst_jobcycle.moc"
