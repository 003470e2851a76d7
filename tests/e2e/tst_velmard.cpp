// The real velmard against ecrsim, as a shop's host program meets them: a
// portable copy of the program with its settings files beside it (so the
// program folder is also the data directory), ecrsim on a pseudo-terminal or
// on loopback TCP, receipts dropped into the data directory and answers
// collected from it. Each case has its own folders, setting store and runtime
// folder (where the one-instance lock lives), so several velmard run at once.
// Every wait is bounded; the poll interval is 0.1 s to keep the cases quick.

#include "support/TestSupport.h"

#include <fcntl.h>
#include <functional>
#include <memory>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <stdlib.h>
#include <unistd.h>

using namespace velmar::test;

namespace {

const QByteArray kE504 = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n";
const QByteArray kConversionError = "ERRORE DI CONVERSIONE \r\n";

// The register's clock and first receipt number are set, so its closing
// answer, and the SR_OUT lines made of it, are known to the byte (a case
// takes seconds, far from the next minute).
const QStringList kRegister = {QStringLiteral("--clock"), QStringLiteral("2026-12-06T09:15:00"),
                               QStringLiteral("--first-receipt"), QStringLiteral("42")};

// Family 5, description length 30, no trace, serial link; the other lines
// empty and the TCP reply time-out 3500 ms.
const QByteArray kSerialOptions = " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n";
// The same with the trace on.
const QByteArray kTracedOptions = " 5 \r\n30\r\n1\r\n0\r\n\r\n\r\n\r\n3500\r\n";
// The same on the network: line 4 "1", line 5 the register's address.
const QByteArray kNetworkOptions = " 5 \r\n30\r\n0\r\n1\r\n127.0.0.1\r\n\r\n\r\n3500\r\n";

// Two items, a printed line and cash: 2 x 150 + 120 = 420 cents. In family 5
// it is four register commands; each job begins with the reset "KK" (two
// more), and the configuration dump at start-up sends "KK" twice (four).
const QByteArray kReceipt = "PLUD,:Pane,P150,Q2,N1;\r\nPLUD,:Latte,P120,N2;\r\n"
                            "PRNT,:Grazie e arrivederci;\r\nCASH;\r\n";
constexpr int kReceiptTotal = 420;

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Serves events until `done` or `ms` passed; true when done.
bool waitUntil(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

// SR_OUT as the register's answer to receipt `number` makes it, with the
// register's clock of kRegister.
QByteArray outLines(int number) {
    return "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\nDATE,06/12/26  SCONTR. N." +
           QByteArray::number(number).rightJustified(4, '0') + " ,E,A1;\r\n";
}

// A pseudo-terminal nobody talks to: a serial device for COM1 in network
// mode, where the channel still needs a port that can be set up.
class SparePty {
public:
    SparePty() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0) {
            path_ = QString::fromLocal8Bit(ptsname(fd_));
        }
    }
    ~SparePty() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SparePty(const SparePty&) = delete;
    SparePty& operator=(const SparePty&) = delete;
    const QString& path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};

// One installation: a portable copy of velmard with its settings files, its
// own setting store and runtime folder, and the register simulator it talks to.
class Rig {
public:
    explicit Rig(const QByteArray& options = kSerialOptions) {
        if (qEnvironmentVariableIsSet("VELMAR_E2E_KEEP")) { // to look at a failure afterwards
            dir.setAutoRemove(false);
            qInfo("kept: %s", qPrintable(dir.path()));
        }
        const QDir root(dir.path());
        prog = root.filePath(QStringLiteral("velmar"));
        runtime = root.filePath(QStringLiteral("run"));
        link = root.filePath(QStringLiteral("ecr"));
        journal = root.filePath(QStringLiteral("journal.jsonl"));
        root.mkpath(QStringLiteral("velmar"));
        root.mkpath(QStringLiteral("config/Qarnwerk"));
        root.mkpath(QStringLiteral("run"));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        installed = install(prog, options) && setSerialDevice(link);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    }
    ~Rig() {
        if (QTest::currentTestFailed()) {
            qInfo("velmard's log (%s):\n%s", qPrintable(prog), log().constData());
            qInfo("ecrsim: %s", (ecrsimSaid + ecrsim.readAllStandardError()).constData());
        }
        if (velmard.state() != QProcess::NotRunning) {
            velmard.kill();
            velmard.waitForFinished(5000);
        }
        ecrsim.terminate();
        if (!ecrsim.waitForFinished(5000)) {
            ecrsim.kill();
            ecrsim.waitForFinished(2000);
        }
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // The program, its conversion library and its settings files in `folder`.
    static bool install(const QString& folder, const QByteArray& options) {
        const QDir to(folder);
        for (const char* name : {"velmard", "libqarn_slm1.so"}) {
            if (!QFile::copy(binDir() + QLatin1Char('/') + QLatin1String(name),
                             to.filePath(QLatin1String(name)))) {
                return false;
            }
        }
        return writeFile(to.filePath(QStringLiteral("VMCHKCOM.TXT")), "1000\r\n") && // COM1 only
               writeFile(to.filePath(QStringLiteral("VMTIMER1.TXT")), "0.1\r\n") &&  // 100 ms
               writeFile(to.filePath(QStringLiteral("VMCHKSCO.TXT")), options);
    }

    bool setSerialDevice(const QString& device) {
        return writeFile(
            QDir(dir.path()).filePath(QStringLiteral("config/Qarnwerk/QARNVELMAR.conf")),
            "[SerialPorts]\nCOM1=" + device.toLocal8Bit() + "\n");
    }

    // Starts ecrsim (family 5) and waits for its ready line; `where` is
    // {"--pty", link} by default.
    bool startEcrsim(const QStringList& extra = {}, QStringList where = {}) {
        if (where.isEmpty()) {
            where = {QStringLiteral("--pty"), link};
        }
        ecrsim.setReadChannel(QProcess::StandardError);
        ecrsim.start(binDir() + QStringLiteral("/ecrsim"),
                     QStringList{QStringLiteral("--family"), QStringLiteral("5"),
                                 QStringLiteral("--journal"), journal, QStringLiteral("--quiet")} +
                         where + kRegister + extra);
        const QDeadlineTimer deadline(10000);
        while (!ecrsimSaid.contains('\n') && !deadline.hasExpired() &&
               ecrsim.state() != QProcess::NotRunning) {
            ecrsim.waitForReadyRead(100);
            ecrsimSaid += ecrsim.readAllStandardError();
        }
        return ecrsimSaid.contains(" listening on ");
    }

    // Starts velmard from the portable copy (its log goes to a file).
    bool startVelmard() {
        velmard.setProcessEnvironment(env);
        velmard.setStandardErrorFile(QDir(dir.path()).filePath(QStringLiteral("velmard.err")));
        velmard.setStandardOutputFile(QProcess::nullDevice());
        velmard.start(QDir(prog).filePath(QStringLiteral("velmard")), {});
        return velmard.waitForStarted(5000);
    }

    // velmard up and the register identified: the channel is ready for jobs.
    bool startIdentified(int ms = 15000) {
        return startVelmard() && waitUntil([this] { return exists("SR_MATR"); }, ms);
    }

    QString file(const char* base) const {
        return QDir(prog).filePath(QLatin1String(base) + QStringLiteral(".001"));
    }
    bool exists(const char* base) const { return QFileInfo::exists(file(base)); }
    QByteArray read(const char* base) const { return readFile(file(base)); }
    QByteArray log() const {
        return readFile(QDir(dir.path()).filePath(QStringLiteral("velmard.err")));
    }

    // As a host: collects the last answer, writes the receipt, then the start file.
    bool drop(const QByteArray& receipt) {
        QFile::remove(file("SR_ERR"));
        return writeFile(file("SR_DATI"), receipt) && writeFile(file("SR_START"), "00000000\r\n");
    }

    // The job is answered: its start file is gone and an answer is there.
    bool answered() const { return !exists("SR_START") && (exists("FINESCO") || exists("SR_ERR")); }

    // The journal's documents of one kind.
    QList<QJsonObject> documents(const QString& kind) const {
        QList<QJsonObject> out;
        for (const QByteArray& line : readFile(journal).split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value(QStringLiteral("kind")).toString() == kind) {
                out << o;
            }
        }
        return out;
    }

    QTemporaryDir dir;
    QString prog, runtime, link, journal;
    bool installed = false;
    QProcessEnvironment env;
    QProcess ecrsim;
    QByteArray ecrsimSaid;
    QProcess velmard;
};

QStringList printedLines(const QJsonObject& document) {
    QStringList lines;
    for (const QJsonValue& v : document.value(QStringLiteral("lines")).toArray()) {
        lines << v.toString();
    }
    return lines;
}

} // namespace

class TestVelmard : public QObject {
    Q_OBJECT

private slots:
    // A receipt end to end: the register prints it once, and the host finds
    // SR_OUT with the register's time, date and receipt number, and FINESCO;
    // its receipt and start files are gone.
    void receipt_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("pseudo-terminal") << false;
        QTest::newRow("loopback TCP") << true;
    }
    void receipt() {
        QFETCH(bool, tcp);
        SparePty spare;
        std::unique_ptr<Rig> rig;
        if (tcp) {
            // Start-up always sets the register's TCP port to 6660.
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 6660)) {
                QSKIP("127.0.0.1:6660 is in use: velmard always connects there in network mode");
            }
            probe.close();
            rig = std::make_unique<Rig>(kNetworkOptions);
            QVERIFY(!spare.path().isEmpty());
            QVERIFY(rig->setSerialDevice(spare.path()));
            if (!rig->startEcrsim({}, {QStringLiteral("--tcp"), QStringLiteral("6660")})) {
                QSKIP("ecrsim could not listen on 127.0.0.1:6660 (taken meanwhile?)");
            }
        } else {
            rig = std::make_unique<Rig>();
            QVERIFY2(rig->startEcrsim(), rig->ecrsimSaid.constData());
        }
        QVERIFY(rig->installed);
        QVERIFY(rig->startIdentified());
        QVERIFY(rig->drop(kReceipt));
        QVERIFY(waitUntil([&] { return rig->answered(); }, 20000));

        QCOMPARE(rig->read("FINESCO"), QByteArray("finesco"));
        QVERIFY(!rig->exists("SR_ERR"));
        QVERIFY(!rig->exists("SR_DATI"));
        QVERIFY(!rig->exists("SR_START"));
        QCOMPARE(rig->read("SR_OUT"), outLines(42));
        QTRY_COMPARE_WITH_TIMEOUT(rig->documents(QStringLiteral("receipt")).size(), 1, 5000);
        const QJsonObject printed = rig->documents(QStringLiteral("receipt")).first();
        QCOMPARE(printed.value(QStringLiteral("number")).toInt(), 42);
        QCOMPARE(printed.value(QStringLiteral("total")).toInt(), kReceiptTotal);
        QCOMPARE(printed.value(QStringLiteral("items")).toArray().size(), 2);
        QCOMPARE(printedLines(printed), QStringList{QStringLiteral("GRAZIE E ARRIVEDERCI")});
        QVERIFY(rig->documents(QStringLiteral("refused")).isEmpty());
    }

    // The register stops answering in the middle of the receipt (no echo of
    // its second item, the 8th command since ecrsim started): the host gets
    // E504, keeps its receipt, and gets no FINESCO.
    void registerStopsAnswering() {
        Rig rig;
        QVERIFY(rig.installed);
        QVERIFY(rig.startEcrsim({QStringLiteral("--fault"), QStringLiteral("no-echo@8")}));
        QVERIFY(rig.startIdentified());
        QVERIFY(rig.drop(kReceipt));
        QVERIFY(waitUntil([&] { return rig.answered(); }, 30000));

        QCOMPARE(rig.read("SR_ERR"), kE504);
        QCOMPARE(rig.read("SR_DATI"), kReceipt);
        QVERIFY(!rig.exists("FINESCO"));
        QVERIFY(!rig.exists("SR_START"));
        QVERIFY(rig.documents(QStringLiteral("receipt")).isEmpty());
    }

    // A receipt with a line the conversion library cannot convert: nothing is
    // printed, the host gets the conversion error (its trailing blank
    // included) and keeps its receipt.
    void receiptRefusedByTheConverter() {
        Rig rig;
        QVERIFY(rig.installed);
        QVERIFY(rig.startEcrsim());
        QVERIFY(rig.startIdentified());
        const QByteArray refused = "PLUD,:Pane,P150,N1;\r\nFOOB,X1;\r\nCASH;\r\n";
        QVERIFY(rig.drop(refused));
        QVERIFY(waitUntil([&] { return rig.answered(); }, 20000));

        QCOMPARE(rig.read("SR_ERR"), kConversionError);
        QCOMPARE(rig.read("SR_DATI"), refused);
        QVERIFY(!rig.exists("FINESCO"));
        QVERIFY(!rig.exists("SR_START"));
        QTest::qWait(500); // anything sent would reach the journal by now
        QVERIFY(rig.documents(QStringLiteral("receipt")).isEmpty());
    }

    // The command line: help and version only, which start nothing; anything
    // else is a usage error.
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                                << QStringLiteral(
                                       "^Usage: velmard \\[--help \\| --version\\]\n.*SIGTERM")
                                << QStringLiteral("^$");
        QTest::newRow("--version")
            << QStringList{QStringLiteral("--version")} << 0
            << QStringLiteral("^velmard \\d+(\\.\\d+)+\n$") << QStringLiteral("^$");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--foreground")} << 2
                                        << QStringLiteral("^$") << QStringLiteral("velmard --help");
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        Rig rig;
        QVERIFY(rig.installed);
        QProcess p;
        p.setProcessEnvironment(rig.env);
        p.start(QDir(rig.prog).filePath(QStringLiteral("velmard")), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status);
        const QRegularExpression::PatternOption dotAll =
            QRegularExpression::DotMatchesEverythingOption;
        QVERIFY2(QRegularExpression(out, dotAll)
                     .match(QString::fromLocal8Bit(p.readAllStandardOutput()))
                     .hasMatch(),
                 qPrintable(out));
        QVERIFY2(QRegularExpression(err, dotAll)
                     .match(QString::fromLocal8Bit(p.readAllStandardError()))
                     .hasMatch(),
                 qPrintable(err));
        QVERIFY(!QFileInfo::exists(QDir(rig.prog).filePath(QStringLiteral("VELMARD.LOG"))));
    }

    // A second velmard with the same runtime folder ends at once with status
    // 0 and touches nothing of its own copy; the first one goes on serving.
    // --version tells the version the running program logs.
    void secondInstance() {
        Rig rig;
        QVERIFY(rig.installed);
        QVERIFY(rig.startEcrsim());
        QVERIFY(rig.startIdentified());

        QTemporaryDir otherCopy;
        QVERIFY(Rig::install(otherCopy.path(), kSerialOptions));
        const QStringList before = QDir(otherCopy.path()).entryList(QDir::Files);
        QProcess second;
        second.setProcessEnvironment(rig.env); // the same runtime folder
        second.start(QDir(otherCopy.path()).filePath(QStringLiteral("velmard")), {});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(QDir(otherCopy.path()).entryList(QDir::Files), before);
        QCOMPARE(readFile(QDir(otherCopy.path()).filePath(QStringLiteral("VMTIMER1.TXT"))),
                 QByteArray("0.1\r\n"));
        QCOMPARE(rig.velmard.state(), QProcess::Running);

        QVERIFY(rig.drop(kReceipt)); // the first one still serves its host
        QVERIFY(waitUntil([&] { return rig.answered(); }, 20000));
        QCOMPARE(rig.read("FINESCO"), QByteArray("finesco"));

        QProcess version;
        version.start(QDir(rig.prog).filePath(QStringLiteral("velmard")),
                      {QStringLiteral("--version")});
        QVERIFY(version.waitForFinished(5000));
        const QByteArray told = version.readAllStandardOutput().trimmed(); // "velmard X.Y.Z.W"
        QVERIFY(told.startsWith("velmard "));
        QVERIFY2(rig.log().contains(" " + told + ": data directory "), told.constData());
    }

    // SIGTERM while idle: a clean exit that deletes the channel files the
    // host has not collected and the registration file, keeps the host's
    // receipt file, and writes the settings files back whole.
    void sigtermWhileIdle() {
        Rig rig(" 5 \r\n"); // only the family: the rest from the defaults
        QVERIFY(rig.installed);
        QVERIFY(rig.startEcrsim());
        QVERIFY(rig.startIdentified());
        const QByteArray matricola = rig.read("SR_MATR").split('\r').first();
        QVERIFY(!matricola.isEmpty());
        // Answers of an earlier job not collected, and a receipt being
        // prepared (no start file yet).
        QVERIFY(writeFile(rig.file("SR_OUT"), "TIME,CASS. 1 09:00 CASSA   1 ,E,A1;\r\n"));
        QVERIFY(writeFile(rig.file("FINESCO"), "finesco"));
        QVERIFY(writeFile(rig.file("SR_ERR"), kE504));
        QVERIFY(writeFile(rig.file("SR_DATI"), kReceipt));
        QTest::qWait(300); // a few idle scans: none of these starts anything

        rig.velmard.terminate();
        QVERIFY(rig.velmard.waitForFinished(10000));
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        for (const char* base : {"SR_MATR", "SR_START", "SR_ERR", "SR_OUT", "FINESCO"}) {
            QVERIFY2(!rig.exists(base), base);
        }
        QCOMPARE(rig.read("SR_DATI"), kReceipt);
        const QByteArray options =
            readFile(QDir(rig.prog).filePath(QStringLiteral("VMCHKSCO.TXT")));
        QCOMPARE(options, " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n" + matricola + "\r\n3500\r\n");
        QCOMPARE(readFile(QDir(rig.prog).filePath(QStringLiteral("VMCHKCOM.TXT"))),
                 QByteArray("1000\r\n"));
        QCOMPARE(readFile(QDir(rig.prog).filePath(QStringLiteral("VMChkBd.txt"))),
                 QByteArray("9600\r\n"));
        QVERIFY(rig.documents(QStringLiteral("receipt")).isEmpty());
    }

    // SIGTERM while a receipt is being printed: velmard finishes the job, the
    // host gets its FINESCO, and then it shuts down (which deletes the
    // channel's answers like any shut-down).
    void sigtermDuringJob() {
        Rig rig;
        QVERIFY(rig.installed);
        QVERIFY(rig.startEcrsim());
        QVERIFY(rig.startIdentified());
        // Fifteen items, some 330 characters: at 9600 baud, each echoed, the
        // items take about 0.7 s after the reset's 0.3 s.
        QByteArray receipt;
        for (int i = 1; i <= 15; ++i) {
            receipt += "PLUD,:Articolo " + QByteArray::number(i) + ",P100,N1;\r\n";
        }
        receipt += "CASH;\r\n";
        QVERIFY(rig.drop(receipt));
        QVERIFY(
            waitUntil([&] { return rig.log().contains("stato: Velmar in esecuzione..."); }, 10000));
        QTest::qWait(500); // in the middle of the items: cutting the job short would fail it
        QVERIFY(!rig.answered());
        rig.velmard.terminate();

        bool finesco = false;
        bool error = false;
        QVERIFY(waitUntil(
            [&] {
                finesco = finesco || rig.read("FINESCO") == "finesco";
                error = error || rig.exists("SR_ERR");
                return rig.velmard.state() == QProcess::NotRunning;
            },
            20000));
        QVERIFY(finesco);
        QVERIFY(!error);
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        QVERIFY(!rig.exists("SR_DATI")); // printed: the host's receipt was taken
        const QList<QJsonObject> printed = rig.documents(QStringLiteral("receipt"));
        QCOMPARE(printed.size(), 1);
        QStringList items; // every item whole and in order: nothing cut or paused mid-line
        for (const QJsonValue& item : printed.first().value(QStringLiteral("items")).toArray()) {
            items << item.toObject().value(QStringLiteral("text")).toString();
        }
        QStringList expected;
        for (int i = 1; i <= 15; ++i) {
            expected << QStringLiteral("ARTICOLO %1").arg(i);
        }
        QCOMPARE(items, expected);
        QCOMPARE(printed.first().value(QStringLiteral("total")).toInt(), 1500);
        QVERIFY(rig.documents(QStringLiteral("refused")).isEmpty());
        // The signal came before the job's end, the shut-down after it.
        const QByteArray log = rig.log();
        const qsizetype signal = log.indexOf("signal 15");
        const qsizetype done = log.indexOf("VELMAR TERMINATO : TUTTO OK");
        QVERIFY(signal >= 0);
        QVERIFY(done > signal);
    }

    // About ten real jobs on two installations at once, each register with
    // seeded random faults (and one sure fault each), every job voiding what
    // an earlier failed one left open. Afterwards: every job has exactly one
    // answer; a job answered with FINESCO was printed exactly once, with the
    // number its SR_OUT tells; a failed job keeps its SR_DATI and was printed
    // at most once.
    void soak() {
        constexpr int kJobs = 6;
        quint32 seed = 20261206;
        if (qEnvironmentVariableIsSet("VELMAR_SOAK_SEED")) {
            seed = qEnvironmentVariable("VELMAR_SOAK_SEED").toUInt();
        }
        qInfo("soak seed %u (set VELMAR_SOAK_SEED to repeat another)", seed);
        const QString s = QString::number(seed);
        const QString t = QString::number(seed + 1);
        // Per job: KK, 25F, two items, the JOB line and cash, 7 commands;
        // the dump takes the first 4. The sure faults land in job 2 (its
        // first item) and job 4 (its JOB line) when no other fault cut a job short.
        const QList<QStringList> faults = {
            {QStringLiteral("--fault"), QStringLiteral("no-echo@15"), QStringLiteral("--fault"),
             QStringLiteral("no-echo%0.02"), QStringLiteral("--fault"),
             QStringLiteral("late-echo:400%0.04"), QStringLiteral("--fault"),
             QStringLiteral("wrong-echo%0.03"), QStringLiteral("--seed"), s},
            {QStringLiteral("--fault"), QStringLiteral("refuse@30"), QStringLiteral("--fault"),
             QStringLiteral("drop:1500%0.02"), QStringLiteral("--fault"),
             QStringLiteral("garble%0.03"), QStringLiteral("--fault"),
             QStringLiteral("xoff-stall:1500%0.02"), QStringLiteral("--seed"), t},
        };
        std::vector<std::unique_ptr<Rig>> rigs;
        for (const QStringList& f : faults) {
            rigs.push_back(std::make_unique<Rig>(kTracedOptions));
            QVERIFY(rigs.back()->installed);
            QVERIFY2(rigs.back()->startEcrsim(f), rigs.back()->ecrsimSaid.constData());
            QVERIFY(rigs.back()->startVelmard());
        }
        for (auto& rig : rigs) {
            QVERIFY(waitUntil([&] { return rig->exists("SR_MATR"); }, 15000));
        }

        struct Outcome {
            QByteArray receipt;
            bool printedOk = false; // FINESCO
            int number = 0;         // the receipt number SR_OUT tells
        };
        std::vector<std::vector<Outcome>> outcomes(rigs.size());
        const QRegularExpression numberInOut(QStringLiteral("SCONTR\\. N\\.(\\d{4}) "));
        for (int job = 1; job <= kJobs; ++job) {
            for (std::size_t r = 0; r < rigs.size(); ++r) {
                Outcome o;
                o.receipt = "FUNC,N25;\r\nPLUD,:Pane,P" + QByteArray::number(100 + job) +
                            ",N1;\r\nPLUD,:Latte,P120,N2;\r\nPRNT,:JOB " + QByteArray::number(job) +
                            ";\r\nCASH;\r\n";
                QVERIFY(rigs[r]->drop(o.receipt));
                outcomes[r].push_back(o);
            }
            for (std::size_t r = 0; r < rigs.size(); ++r) {
                Rig& rig = *rigs[r];
                Outcome& o = outcomes[r].back();
                QVERIFY2(
                    waitUntil([&] { return rig.answered(); }, 40000),
                    qPrintable(
                        QStringLiteral("installation %1, job %2 got no answer").arg(r).arg(job)));
                o.printedOk = rig.exists("FINESCO");
                QVERIFY2(o.printedOk != rig.exists("SR_ERR"), "FINESCO and SR_ERR both");
                if (o.printedOk) {
                    QCOMPARE(rig.read("FINESCO"), QByteArray("finesco"));
                    QVERIFY(!rig.exists("SR_DATI"));
                    const auto m = numberInOut.match(QString::fromLatin1(rig.read("SR_OUT")));
                    QVERIFY2(m.hasMatch(), rig.read("SR_OUT").constData());
                    o.number = m.captured(1).toInt();
                } else {
                    QCOMPARE(rig.read("SR_DATI"), o.receipt);
                    QCOMPARE(rig.read("SR_ERR"), kE504);
                }
            }
        }
        QTest::qWait(500); // the last journal lines
        int failed = 0;
        for (std::size_t r = 0; r < rigs.size(); ++r) {
            QByteArray answers;
            for (const Outcome& o : outcomes[r]) {
                answers += o.printedOk ? " FINESCO" : " SR_ERR";
            }
            qInfo("installation %d:%s", int(r), answers.constData());
            const QList<QJsonObject> receipts = rigs[r]->documents(QStringLiteral("receipt"));
            for (int job = 1; job <= kJobs; ++job) {
                const Outcome& o = outcomes[r][std::size_t(job - 1)];
                QList<QJsonObject> printed;
                for (const QJsonObject& d : receipts) {
                    if (printedLines(d).contains(QStringLiteral("JOB %1").arg(job))) {
                        printed << d;
                    }
                }
                const QString where = QStringLiteral("installation %1, job %2").arg(r).arg(job);
                if (o.printedOk) {
                    QVERIFY2(printed.size() == 1, qPrintable(where));
                    QCOMPARE(printed.first().value(QStringLiteral("number")).toInt(), o.number);
                    QCOMPARE(printed.first().value(QStringLiteral("total")).toInt(),
                             100 + job + 120);
                } else {
                    ++failed;
                    QVERIFY2(printed.size() <= 1, qPrintable(where));
                }
            }
        }
        qInfo("soak: %d of %d jobs failed", failed, int(rigs.size()) * kJobs);
        QVERIFY(failed >= 1);                       // the faults did strike
        QVERIFY(failed < int(rigs.size()) * kJobs); // and receipts did print
    }
};

QTEST_GUILESS_MAIN(TestVelmard)
#include "tst_velmard.moc"
