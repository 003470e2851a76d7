// A thousand jobs in virtual time on several channels, against a register
// that misbehaves at random (seeded), with a well-behaved host:
// writes SR_DATI then SR_START, starts every receipt by voiding whatever an
// earlier failed job left open, waits for the answer, never resends a failed
// job. Afterwards the accounting must balance: every job has exactly one
// answer, every receipt answered FINESCO was printed exactly once, and no
// receipt of a failed job is gone.
//
// VELMAR_SOAK_SEED chooses the seed (it is printed with every failure);
// VELMAR_SOAK_JOBS the number of jobs (1000).

#include "JobCycleFixture.h"

#include <QHash>

#include <algorithm>
#include <random>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// Per command: faults the link rides out (a late echo within the wait, a
// short stall, and, where the dialogue waits per character, junk or changed
// echoes) and faults that fail the receipt (no echo, a refusal, a dead line, a
// stall beyond the XON wait).
const QStringList kFaults = u"no-echo%0.004 wrong-echo%0.003 late-echo:500%0.003 "
                            u"late-echo:4000%0.002 xoff-stall:2000%0.002 xoff-stall:25000%0.001 "
                            u"drop:6000%0.002 refuse%0.003 garble%0.003"_s.split(' ');

// Over TCP the register acknowledges nothing but a receipt's last payment, so
// only a line that dies is a fault the driver can notice there.
const QStringList kTcpFaults{u"drop%0.01"_s};

struct Round {
    QList<int> channels;
    int family;
    bool tcp;
};
// Each round is one run of the program, from start-up to shut-down.
const QList<Round> kRounds{{{1, 2}, 0, false},
                           {{2, 3, 4}, 5, false},
                           {{1, 4}, 6, false},
                           {{1, 2, 3, 4}, 2, false},
                           {{1, 3}, 5, true}};

const QByteArray kE504 = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n";
const QByteArray kE504Voided =
    "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr (scontrino annullato)\r\n";
const QByteArray kE510 =
    "E510: Esito sconosciuto: controllare sull'Ecr se lo scontrino e' stato stampato\r\n";
const QByteArray kConversion = "ERRORE DI CONVERSIONE \r\n";

QByteArray marker(int id) {
    return "JOB " + QByteArray::number(id).rightJustified(6, '0');
}

struct Outcome {
    bool finesco = false;
    QByteArray error; // the SR_ERR line
};

// The host of one channel.
struct HostChannel {
    enum State { Idle, DataWritten, Waiting, Pause };
    explicit HostChannel(int channel = 0) : n(channel) {}
    int n;
    State state = Idle;
    int id = -1;
    QByteArray receipt;
    std::int64_t nextAtMs = 0;
    int lastFailed = -1; // the last failed job, whose receipt must still be there
    int jobs = 0;
};

class Soak {
public:
    Soak(std::uint64_t seed, int jobs) : seed_(seed), jobs_(jobs), rng_(seed) {}

    void run() {
        int from = 0;
        for (int r = 0; r < kRounds.size() && violations.isEmpty(); ++r) {
            const int quota = (jobs_ * (r + 1)) / int(kRounds.size()) - from;
            runRound(r, quota);
            from += quota;
        }
    }

    QStringList violations;
    QHash<int, Outcome> outcomes;
    QHash<QString, int> printed; // marker -> receipts that carry it
    int issued = 0;

private:
    QByteArray makeReceipt(int id) {
        QByteArray r = "FUNC,N25;\r\nPRNT,:" + marker(id) + ";\r\n";
        const int items = int(rng_() % 3) + 1;
        for (int i = 1; i <= items; ++i) {
            r += "PLUD,:ART " + QByteArray::number(i) + ",P" +
                 QByteArray::number(100 + rng_() % 900) + ",N" +
                 QByteArray::number(1 + rng_() % 5) + ";\r\n";
        }
        if (rng_() % 4 == 0) {
            r += "DISC,%10;\r\n";
        }
        if (rng_() % 50 == 0) {
            r += "BOGUS;\r\n"; // now and then a receipt the converter refuses
        }
        return r + "CASH;\r\n";
    }

    // Records a broken rule unless `holds`.
    template <typename... Args> void expect(bool holds, const char* format, Args... args) {
        if (!holds && violations.size() < 20) {
            violations << QString::asprintf(format, args...);
        }
    }

    // One step of every channel's host; called every 50 ms of virtual time,
    // inside the program's waits as well.
    void hostStep(CycleFixture& fx, QList<HostChannel>& hosts, int& left) {
        const std::int64_t now = fx.rt.nowMs();
        for (HostChannel& h : hosts) {
            if (now < h.nextAtMs) {
                continue;
            }
            switch (h.state) {
            case HostChannel::Idle:
                if (left > 0 && fx.exists("SR_MATR", h.n)) {
                    expect(h.lastFailed < 0 || fx.read("SR_DATI", h.n) == h.receipt,
                           "job %d: the receipt of the failed job is gone", h.lastFailed);
                    --left;
                    h.id = issued++;
                    ++h.jobs;
                    h.receipt = makeReceipt(h.id);
                    fx.put("SR_DATI", h.n, h.receipt);
                    h.state = HostChannel::DataWritten;
                    h.nextAtMs = now + std::int64_t(rng_() % 60);
                }
                break;
            case HostChannel::DataWritten:
                fx.put("SR_START", h.n, "1\r\n");
                h.state = HostChannel::Waiting;
                break;
            case HostChannel::Waiting: {
                if (fx.exists("SR_START", h.n)) {
                    break;
                }
                Outcome o;
                o.finesco = fx.exists("FINESCO", h.n);
                const bool err = fx.exists("SR_ERR", h.n);
                expect(o.finesco != err, "job %d on channel %d: FINESCO %d, SR_ERR %d", h.id, h.n,
                       o.finesco, err);
                if (o.finesco) {
                    expect(fx.read("FINESCO", h.n) == "finesco", "job %d: FINESCO holds %s", h.id,
                           fx.read("FINESCO", h.n).constData());
                    expect(!fx.exists("SR_DATI", h.n), "job %d: printed, but its SR_DATI is still there",
                           h.id);
                    h.lastFailed = -1;
                } else {
                    o.error = fx.read("SR_ERR", h.n);
                    h.lastFailed = h.id;
                    expect(QByteArrayList{kE504, kE504Voided, kE510, kConversion}.contains(o.error),
                           "job %d: SR_ERR holds %s", h.id, o.error.constData());
                    expect(fx.read("SR_DATI", h.n) == h.receipt,
                           "job %d: failed (%s) and its SR_DATI is gone", h.id,
                           o.error.trimmed().constData());
                }
                expect(!outcomes.contains(h.id), "job %d answered twice", h.id);
                outcomes.insert(h.id, o);
                for (const char* answer : {"FINESCO", "SR_ERR", "SR_OUT"}) { // the host collects
                    fx.remove(answer, h.n);
                }
                h.state = HostChannel::Pause;
                // The next customer: the more channels, the longer each waits.
                h.nextAtMs = now + std::int64_t(rng_() % std::uint64_t(2500 * hosts.size()));
                break;
            }
            case HostChannel::Pause:
                h.state = HostChannel::Idle;
                break;
            }
        }
    }

    void runRound(int r, int quota) {
        const Round& round = kRounds.at(r);
        QByteArray ticks = "0000";
        QList<HostChannel> hosts;
        for (int n : round.channels) {
            ticks[n - 1] = '1';
            hosts << HostChannel(n);
        }
        CycleFixture fx({.ticks = ticks,
                         .family = round.family,
                         .tcp = round.tcp,
                         .faults = round.tcp ? kTcpFaults : kFaults,
                         .seed = seed_ + std::uint64_t(r)});
        if (!fx.start() || !fx.bringIntoService(round.channels, 3600 * 1000)) {
            return expect(false, "round %d: the channels could not be identified (messages %s)", r,
                          qPrintable(fx.ui.texts().join('|')));
        }
        for (int n : round.channels) {
            fx.remove("SR_ERR", n); // what failed dumps left
        }
        int left = quota;
        bool stop = false;
        fx.every(50, [&] {
            if (!stop) {
                hostStep(fx, hosts, left);
            }
            return !stop;
        });
        const auto allAnswered = [&] {
            return left == 0 && std::all_of(hosts.begin(), hosts.end(), [](const HostChannel& h) {
                       return h.state != HostChannel::DataWritten &&
                              h.state != HostChannel::Waiting;
                   });
        };
        const bool allEnded = fx.runUntil(allAnswered, quota * 120 * 1000);
        expect(allEnded, "round %d: the jobs did not all end (%d left, program ended %d)", r, left,
               fx.ended);
        stop = true;
        expect(fx.close(), "round %d: the idle program refused to close", r);
        fx.rt.runUntilUs(fx.rt.nowUs() + 10 * 1000 * 1000); // the register settles its last footer
        for (const HostChannel& h : hosts) {
            // Shut-down keeps the receipt of a failed job.
            expect(h.lastFailed < 0 || fx.read("SR_DATI", h.n) == h.receipt,
                   "job %d: its SR_DATI is gone after shut-down", h.lastFailed);
            expect(h.jobs > 0, "round %d: channel %d was never served", r, h.n);
        }
        for (const QJsonObject& receipt : fx.documents("receipt")) {
            for (const QString& line : printedLines(receipt)) {
                if (line.startsWith(u"JOB "_s)) {
                    ++printed[line];
                }
            }
        }
    }

    std::uint64_t seed_;
    int jobs_;
    std::mt19937_64 rng_;
};

// ---- the fault matrix --------------------------------------------------------
//
// One receipt per cell: every register family, over serial and TCP, with one
// fault at one command of the job (counted from the job's first command),
// and the host's natural reaction to each answer: done after FINESCO, a
// resend (with the attempt's own marker) after an error that invites one,
// nothing after "not known". Then the register's journal must agree with
// every answer, and nothing may stay open on the register.

struct Killed {}; // the driver is killed where it stands

// The kinds of fault, as the register's rule at the struck command (%1); the
// crash has none: the driver is killed there.
const QList<std::pair<const char*, QString>> kCellFaults{
    {"silence", u"hang:6000@%1"_s},        {"answer lost", u"lost-answer@%1"_s},
    {"wrong echo", u"wrong-echo@%1"_s},    {"disconnect", u"drop:4000@%1"_s},
    {"power cycle", u"power-cycle:4000@%1"_s}, {"crash", QString()}};

constexpr int kPositions = 10; // the job's commands: KK, text, two sales, discount, two payments...

QByteArray matrixReceipt(int attempt, bool functionKeyOne) {
    QByteArray r = "PRNT,:MATRICE A" + QByteArray::number(attempt) +
                   ";\r\nPLUD,:PANE,P150,N1;\r\nPLUD,:LATTE,P120,Q2,N2;\r\nDISC,%10;\r\n"
                   "CHEQ,V100;\r\nCASH;\r\n";
    return functionKeyOne ? r + "FUNC,N1;\r\n" : r; // family 1 then tells the receipt (Y)
}

// What the cells found, for the summary.
struct MatrixTally {
    int cells = 0;
    int printed = 0;
    int notPrinted = 0;
    int unknown = 0;
    int resends = 0;
};
MatrixTally tally;

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void thousandJobs() {
        bool ok = false;
        const qulonglong s = qEnvironmentVariable("VELMAR_SOAK_SEED").toULongLong(&ok);
        const std::uint64_t seed = ok ? s : 20261206;
        const int n = qEnvironmentVariableIntValue("VELMAR_SOAK_JOBS", &ok);
        const int jobCount = ok && n > 0 ? n : 1000;
        const QString tag = u"VELMAR_SOAK_SEED=%1: "_s.arg(seed);
        Soak soak(seed, jobCount);
        soak.run();

        QVERIFY2(soak.violations.isEmpty(), qPrintable(tag + soak.violations.join("; ")));
        QVERIFY2(soak.issued == jobCount, qPrintable(tag + u"%1 jobs issued"_s.arg(soak.issued)));
        QVERIFY2(soak.outcomes.size() == jobCount,
                 qPrintable(tag + u"%1 answers"_s.arg(soak.outcomes.size())));

        int finesco = 0;
        QStringList wrong;
        for (auto it = soak.outcomes.cbegin(); it != soak.outcomes.cend(); ++it) {
            const int times = soak.printed.value(QString::fromLatin1(marker(it.key())));
            // FINESCO: printed once. "Not known": printed or not, never twice.
            // An answer that invites a resend: only when nothing printed.
            const int least = it->finesco ? 1 : 0;
            const int most = it->finesco || it->error == kE510 ? 1 : 0;
            finesco += least;
            if (times < least || times > most) {
                wrong << u"job %1 answered %2, printed %3 times"_s.arg(it.key())
                             .arg(it->finesco ? u"FINESCO"_s : QString::fromLatin1(it->error.trimmed()))
                             .arg(times);
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(tag + wrong.mid(0, 20).join("; ")));
        // The faults must have struck, and most jobs must still get through.
        QVERIFY2(finesco < jobCount && finesco * 2 > jobCount,
                 qPrintable(tag + u"%1 of %2 printed"_s.arg(finesco).arg(jobCount)));
    }
private slots:
    void faultMatrix_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("at");
        for (int family = 0; family <= 6; ++family) {
            for (bool tcp : {false, true}) {
                for (const auto& [name, rule] : kCellFaults) {
                    if (tcp && rule.startsWith(u"wrong-echo"_s)) {
                        continue; // no echo over TCP
                    }
                    for (int at = 1; at <= kPositions; ++at) {
                        QTest::addRow("family %d %s, %s at %d", family, tcp ? "tcp" : "serial",
                                      name, at)
                            << family << tcp << rule << at;
                    }
                }
            }
        }
    }
    void faultMatrix() {
        QFETCH(int, family);
        QFETCH(bool, tcp);
        QFETCH(QString, rule);
        QFETCH(int, at);
        const bool functionKeyOne = family == 1 && !tcp;
        // The shop printed a receipt before (so Velmar knows the register's
        // count); the job's command `at` is then the register's `first + at`.
        const auto warmUp = [&](CycleFixture& f) {
            QVERIFY(f.start() && f.bringIntoService({1}));
            f.writeJob(1, matrixReceipt(0, functionKeyOne));
            QVERIFY(f.runUntil([&] { return f.exists("FINESCO", 1); }, 60000));
            for (const char* answer : {"FINESCO", "SR_OUT"}) {
                f.remove(answer, 1);
            }
            f.runFor(6000); // its closing answer settled
        };
        CycleFixture probe({.family = family, .tcp = tcp});
        warmUp(probe);
        const int first = probe.model.commandsReceived();

        CycleFixture fx({.family = family, .tcp = tcp,
                         .faults = rule.isEmpty() ? QStringList{} : QStringList{rule.arg(first + at)}});
        warmUp(fx);
        QCOMPARE(fx.model.commandsReceived(), first);
        bool armed = rule.isEmpty(); // the crash
        const auto onWrite = [&] {
            if (!armed) {
                return;
            }
            // Killed once the register has begun the command.
            fx.rt.callLater(5, [&] {
                if (armed && fx.model.commandsReceived() >= first + at) {
                    armed = false;
                    throw Killed{};
                }
            });
        };
        fx.serial.onWrite = onWrite;
        fx.socket.onWrite = onWrite;
        // Runs until `done`; a killed driver is started again on what it left.
        const auto runThrough = [&](const std::function<bool()>& done, int ms) {
            for (;;) {
                try {
                    return fx.runUntil(done, ms);
                } catch (const Killed&) {
                    fx.crash();
                    fx.runFor(1000);
                    if (!fx.restart()) {
                        return false;
                    }
                }
            }
        };

        QStringList answers; // per attempt: "printed", "not printed", "not known"
        for (int attempt = 1; attempt <= 3; ++attempt) {
            if (attempt == 1) {
                fx.put("SR_DATI", 1, matrixReceipt(attempt, functionKeyOne));
            } else { // the same sale again, marked as this attempt
                QCOMPARE(fx.exists("SR_DATI", 1), true); // kept for the host to decide
                fx.put("SR_DATI", 1, matrixReceipt(attempt, functionKeyOne));
                ++tally.resends;
            }
            fx.put("SR_START", 1, "1\r\n");
            QVERIFY2(runThrough([&] { return fx.answered(1); }, 600000), "the host got no answer");
            if (fx.exists("FINESCO", 1)) {
                QVERIFY(!fx.exists("SR_ERR", 1));
                QVERIFY(!fx.exists("SR_DATI", 1)); // taken: printed
                answers << u"printed"_s;
            } else {
                const QByteArray err = fx.read("SR_ERR", 1);
                answers << (err.startsWith("E510") ? u"not known"_s : u"not printed"_s);
                QVERIFY2(err.startsWith("E504") || err.startsWith("E510") ||
                             err.startsWith("E50") || err.startsWith("Errore generico"),
                         err.constData());
            }
            for (const char* answer : {"FINESCO", "SR_ERR", "SR_OUT"}) {
                fx.remove(answer, 1); // the host collects
            }
            if (answers.last() != u"not printed"_s) {
                break;
            }
        }
        runThrough([] { return false; }, 90000); // the register settles, owed cancels go out

        // The journal: each attempt printed as its answer says, never twice,
        // never two attempts in one receipt, nothing left open.
        QHash<QString, int> printedOf;
        int sales = 0;
        for (const QJsonObject& r : fx.documents("receipt")) {
            const QStringList lines = printedLines(r);
            if (lines == QStringList{u"MATRICE A0"_s}) {
                continue; // the shop's earlier receipt
            }
            QCOMPARE(lines.size(), 1); // one attempt's marker: never merged
            QCOMPARE(r.value(u"items"_s).toArray().size(), 2);
            ++printedOf[lines.first()];
            ++sales;
        }
        QVERIFY2(sales <= 1, qPrintable(answers.join(u", "_s)));
        for (int i = 0; i < answers.size(); ++i) {
            const int times = printedOf.value(u"MATRICE A%1"_s.arg(i + 1));
            if (answers[i] == u"printed"_s) {
                QVERIFY2(times == 1, qPrintable(answers.join(u", "_s)));
            } else if (answers[i] == u"not printed"_s) {
                QVERIFY2(times == 0, qPrintable(answers.join(u", "_s)));
            }
        }
        QVERIFY(!fx.model.receiptOpen());
        // A family that can be asked for its count never leaves the host in doubt.
        if (family == 1 || family == 3 || family == 6) {
            QVERIFY2(!answers.contains(u"not known"_s), qPrintable(answers.join(u", "_s)));
        }
        ++tally.cells;
        const QString last = answers.last();
        (last == u"printed"_s ? tally.printed : last == u"not known"_s ? tally.unknown
                                                                       : tally.notPrinted)++;
    }
    void faultMatrixSummary() {
        qInfo("fault matrix: %d cells, last answers: %d printed, %d not printed, %d not known; "
              "%d resends",
              tally.cells, tally.printed, tally.notPrinted, tally.unknown, tally.resends);
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
