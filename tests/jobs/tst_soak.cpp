// A thousand jobs in virtual time on several channels, against a register
// that misbehaves at random (seeded), with a host that plays by the rules:
// writes SR_DATI then SR_START, starts every receipt by voiding whatever an
// earlier failed job left open, waits for the answer, never resends a failed
// job. Afterwards the accounting must balance: every job has exactly one
// answer, every receipt answered FINESCO was printed exactly once, and no
// receipt of a failed job is gone.
//
// VELMAR_SOAK_SEED chooses the seed (it is printed with every failure);
// VELMAR_SOAK_JOBS the number of jobs (1000).

#include "JobCycleFixture.h"

#include <QElapsedTimer>
#include <QHash>

#include <random>

using namespace velmar;
using namespace velmar::test;

namespace {

constexpr std::uint64_t kDefaultSeed = 20261206;

std::uint64_t soakSeed() {
    bool ok = false;
    const qulonglong seed = qEnvironmentVariable("VELMAR_SOAK_SEED").toULongLong(&ok);
    return ok ? seed : kDefaultSeed;
}

int soakJobs() {
    bool ok = false;
    const int jobs = qEnvironmentVariableIntValue("VELMAR_SOAK_JOBS", &ok);
    return ok && jobs > 0 ? jobs : 1000;
}

// Per command: faults the link rides out (a late echo within the wait, a
// short stall, and, where the dialogue waits per character, junk or changed
// echoes) and faults that fail the receipt (no echo, a refusal, a dead line, a
// stall beyond the XON wait).
const QStringList kFaults{
    QStringLiteral("no-echo%0.004"),         QStringLiteral("wrong-echo%0.003"),
    QStringLiteral("late-echo:500%0.003"),   QStringLiteral("late-echo:4000%0.002"),
    QStringLiteral("xoff-stall:2000%0.002"), QStringLiteral("xoff-stall:25000%0.001"),
    QStringLiteral("drop:6000%0.002"),       QStringLiteral("refuse%0.003"),
    QStringLiteral("garble%0.003"),
};

// Over TCP the register acknowledges nothing but a receipt's last payment, so
// only a line that dies is a fault the driver can notice there.
const QStringList kTcpFaults{QStringLiteral("drop%0.01")};

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
const QByteArray kConversion = "ERRORE DI CONVERSIONE \r\n";

QByteArray marker(int id) {
    return "JOB " + QByteArray::number(id).rightJustified(6, '0');
}

struct Outcome {
    int channel = 0;
    bool finesco = false;
    QByteArray error; // the SR_ERR line
};

// The host of one channel.
struct HostChannel {
    enum State { Idle, DataWritten, Waiting, Pause };
    int n = 0;
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
        for (int r = 0; r < kRounds.size(); ++r) {
            const int quota = (jobs_ * (r + 1)) / int(kRounds.size()) - from;
            runRound(r, quota);
            from += quota;
            if (!violations.isEmpty()) {
                return;
            }
        }
    }

    QStringList violations;
    QHash<int, Outcome> outcomes;
    QHash<QString, int> printed; // marker -> receipts that carry it
    int issued = 0;
    QStringList rounds; // what each round did, for the log

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
        r += "CASH;\r\n";
        return r;
    }

    void fail(const QString& what) {
        if (violations.size() < 20) {
            violations << what;
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
                    if (h.lastFailed >= 0 && fx.read("SR_DATI", h.n) != h.receipt) {
                        fail(QStringLiteral("job %1: the receipt of the failed job is gone")
                                 .arg(h.lastFailed));
                    }
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
                o.channel = h.n;
                o.finesco = fx.exists("FINESCO", h.n);
                const bool err = fx.exists("SR_ERR", h.n);
                if (o.finesco == err) {
                    fail(QStringLiteral("job %1 on channel %2: FINESCO %3, SR_ERR %4")
                             .arg(h.id)
                             .arg(h.n)
                             .arg(o.finesco)
                             .arg(err));
                }
                if (o.finesco) {
                    if (fx.read("FINESCO", h.n) != "finesco") {
                        fail(QStringLiteral("job %1: FINESCO holds %2")
                                 .arg(h.id)
                                 .arg(QString::fromLatin1(fx.read("FINESCO", h.n))));
                    }
                    if (fx.exists("SR_DATI", h.n)) {
                        fail(QStringLiteral("job %1: printed, but its SR_DATI is still there")
                                 .arg(h.id));
                    }
                    h.lastFailed = -1;
                } else {
                    o.error = fx.read("SR_ERR", h.n);
                    h.lastFailed = h.id;
                    if (o.error != kE504 && o.error != kConversion) {
                        fail(QStringLiteral("job %1: SR_ERR holds %2")
                                 .arg(h.id)
                                 .arg(QString::fromLatin1(o.error)));
                    }
                    if (fx.read("SR_DATI", h.n) != h.receipt) {
                        fail(QStringLiteral("job %1: failed (%2) and its SR_DATI is gone")
                                 .arg(h.id)
                                 .arg(QString::fromLatin1(o.error.trimmed())));
                    }
                }
                if (outcomes.contains(h.id)) {
                    fail(QStringLiteral("job %1 answered twice").arg(h.id));
                }
                outcomes.insert(h.id, o);
                // The host collects the answer.
                fx.remove("FINESCO", h.n);
                fx.remove("SR_ERR", h.n);
                fx.remove("SR_OUT", h.n);
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
        for (int n : round.channels) {
            ticks[n - 1] = '1';
        }
        CycleFixture fx({.ticks = ticks,
                         .family = round.family,
                         .tcp = round.tcp,
                         .faults = round.tcp ? kTcpFaults : kFaults,
                         .seed = seed_ + std::uint64_t(r)});
        if (!fx.start()) {
            fail(QStringLiteral("round %1: start-up failed").arg(r));
            return;
        }
        if (!fx.bringIntoService(round.channels, 3600 * 1000)) {
            fail(QStringLiteral(
                     "round %1: the channels could not be identified (at %2 ms; ended %3; "
                     "exit %4; messages %5; SR_ERR %6)")
                     .arg(r)
                     .arg(fx.rt.nowMs())
                     .arg(fx.ended)
                     .arg(fx.programExit.reason())
                     .arg(fx.ui.texts().join(QLatin1Char('|')))
                     .arg(QString::fromLatin1(fx.read("SR_ERR", round.channels.first()))));
            return;
        }
        QList<HostChannel> hosts;
        for (int n : round.channels) {
            fx.remove("SR_ERR", n); // what failed dumps left
            HostChannel h;
            h.n = n;
            hosts << h;
        }
        int left = quota;
        bool stop = false;
        fx.every(50, [&] {
            if (stop) {
                return false;
            }
            hostStep(fx, hosts, left);
            return true;
        });
        const auto allAnswered = [&] {
            if (left > 0) {
                return false;
            }
            for (const HostChannel& h : hosts) {
                if (h.state == HostChannel::DataWritten || h.state == HostChannel::Waiting) {
                    return false;
                }
            }
            return true;
        };
        if (!fx.runUntil(allAnswered, quota * 120 * 1000)) {
            fail(QStringLiteral("round %1: the jobs did not all end (%2 left, program ended %3)")
                     .arg(r)
                     .arg(left)
                     .arg(fx.ended));
        }
        stop = true;
        if (!fx.close()) {
            fail(QStringLiteral("round %1: the idle program refused to close").arg(r));
        }
        fx.rt.runUntilUs(fx.rt.nowUs() + 10 * 1000 * 1000); // the register settles its last footer
        // Shut-down keeps the receipt of a failed job.
        for (const HostChannel& h : hosts) {
            if (h.lastFailed >= 0 && fx.read("SR_DATI", h.n) != h.receipt) {
                fail(QStringLiteral("job %1: its SR_DATI is gone after shut-down")
                         .arg(h.lastFailed));
            }
        }
        QString served;
        for (const HostChannel& h : hosts) {
            served += QStringLiteral(" ch%1 %2").arg(h.n).arg(h.jobs);
        }
        rounds << QStringLiteral("round %1 (family %2, %3):%4 jobs, %5 s virtual")
                      .arg(r)
                      .arg(round.family)
                      .arg(round.tcp ? QStringLiteral("tcp") : QStringLiteral("serial"))
                      .arg(served)
                      .arg(fx.rt.nowMs() / 1000);
        for (const HostChannel& h : hosts) {
            if (h.jobs == 0) {
                fail(QStringLiteral("round %1: channel %2 was never served").arg(r).arg(h.n));
            }
        }
        for (const QJsonObject& receipt : fx.documents(QStringLiteral("receipt"))) {
            for (const QString& line : CycleFixture::lines(receipt)) {
                if (line.startsWith(QLatin1String("JOB "))) {
                    ++printed[line];
                }
            }
        }
    }

    std::uint64_t seed_;
    int jobs_;
    std::mt19937_64 rng_;
};

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void thousandJobs() {
        const std::uint64_t seed = soakSeed();
        const int jobs = soakJobs();
        const QString tag = QStringLiteral("VELMAR_SOAK_SEED=%1: ").arg(seed);
        QElapsedTimer clock;
        clock.start();
        Soak soak(seed, jobs);
        soak.run();
        qInfo("soak: %d jobs, seed %llu, %lld ms", jobs, static_cast<unsigned long long>(seed),
              static_cast<long long>(clock.elapsed()));
        for (const QString& round : soak.rounds) {
            qInfo("soak: %s", qPrintable(round));
        }

        QVERIFY2(soak.violations.isEmpty(),
                 qPrintable(tag + soak.violations.join(QStringLiteral("; "))));
        QVERIFY2(
            soak.issued == jobs,
            qPrintable(tag + QStringLiteral("%1 of %2 jobs issued").arg(soak.issued).arg(jobs)));
        QVERIFY2(soak.outcomes.size() == jobs,
                 qPrintable(
                     tag +
                     QStringLiteral("%1 answers for %2 jobs").arg(soak.outcomes.size()).arg(jobs)));

        int finesco = 0;
        int failedButPrinted = 0;
        QHash<QByteArray, int> errors;
        QStringList wrong;
        for (auto it = soak.outcomes.cbegin(); it != soak.outcomes.cend(); ++it) {
            const int times = soak.printed.value(QString::fromLatin1(marker(it.key())));
            if (it->finesco) {
                ++finesco;
                if (times != 1) {
                    wrong << QStringLiteral("job %1 answered FINESCO, printed %2 times")
                                 .arg(it.key())
                                 .arg(times);
                }
            } else {
                ++errors[it->error.trimmed()];
                if (it->error == kConversion && times != 0) {
                    wrong << QStringLiteral("job %1 refused by the converter, printed %2 times")
                                 .arg(it.key())
                                 .arg(times);
                } else if (times == 1) {
                    ++failedButPrinted; // the register took it, its answer was lost
                } else if (times > 1) {
                    wrong << QStringLiteral("job %1 failed, printed %2 times")
                                 .arg(it.key())
                                 .arg(times);
                }
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(tag + wrong.mid(0, 20).join(QStringLiteral("; "))));
        QString summary;
        for (auto it = errors.cbegin(); it != errors.cend(); ++it) {
            summary +=
                QStringLiteral(" [%1 x %2]").arg(it.value()).arg(QString::fromLatin1(it.key()));
        }
        qInfo("soak: %d printed, %d failed (%d of them printed all the same):%s", finesco,
              jobs - finesco, failedButPrinted, qPrintable(summary));
        // The faults must have struck, and most jobs must still get through.
        QVERIFY2(finesco < jobs && finesco * 2 > jobs,
                 qPrintable(tag + QStringLiteral("%1 of %2 printed").arg(finesco).arg(jobs)));
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
