// The real velmard against ecrsim, as a shop's host program meets them: a
// portable copy of the program with its settings files beside it (so the
// program folder is also the data directory), ecrsim on a pseudo-terminal or
// on loopback TCP, receipts dropped into the data directory and answers
// collected from it. Each case has its own folders, setting store and runtime
// folder (where the one-instance lock lives), so several velmard run at once.
// Every wait is bounded; the poll interval is 0.1 s to keep the cases quick.

#include "support/TestSupport.h"

#include <fcntl.h>
#include <pwd.h>
#include <functional>
#include <memory>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kE504 = "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr\r\n";
// The register's clock and first receipt number are set, so its closing
// answer, and the SR_OUT lines made of it, are known to the byte (a case
// takes seconds, far from the next minute).
const QStringList kRegister = u"--clock 2026-12-06T09:15:00 --first-receipt 42"_s.split(' ');

// VMCHKSCO.TXT: family 5, description length 30, trace (line 3), network
// (line 4) and the register's address (line 5); TCP reply time-out 3500 ms.
const QByteArray kSerialOptions = " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n";
const QByteArray kNetworkOptions = " 5 \r\n30\r\n0\r\n1\r\n127.0.0.1\r\n\r\n\r\n3500\r\n";
// Family 6: the register tells its last receipt number on 89F.
const QByteArray kFamily6Options = " 6 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n";

// Two items, a printed line and cash: 2 x 150 + 120 = 420 cents. In family 5
// it is four register commands; each job begins with the reset "KK" (two
// more), and the configuration dump at start-up sends "KK" twice (four).
const QByteArray kReceipt = "PLUD,:Pane,P150,Q2,N1;\r\nPLUD,:Latte,P120,N2;\r\n"
                            "PRNT,:Grazie e arrivederci;\r\nCASH;\r\n";

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
        prog = root.filePath(u"velmar"_s);
        runtime = root.filePath(u"run"_s);
        link = root.filePath(u"ecr"_s);
        journal = root.filePath(u"journal.jsonl"_s);
        for (const QString& folder : {u"velmar"_s, u"config/Qarnwerk"_s, u"run"_s}) {
            root.mkpath(folder);
        }
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        installed = install(prog, options) && setSerialDevice(link);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, root.filePath(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, root.filePath(u"data"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
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

    // The program, its conversion library and its settings files in `folder`:
    // COM1 only, polled every 100 ms.
    static bool install(const QString& folder, const QByteArray& options) {
        const QDir to(folder);
        for (const char* name : {"velmard", "libqarn_slm1.so"}) {
            if (!QFile::copy(binDir() + '/' + QLatin1String(name),
                             to.filePath(QLatin1String(name)))) {
                return false;
            }
        }
        return writeFile(to.filePath(u"VMCHKCOM.TXT"_s), "1000\r\n") &&
               writeFile(to.filePath(u"VMTIMER1.TXT"_s), "0.1\r\n") &&
               writeFile(to.filePath(u"VMCHKSCO.TXT"_s), options);
    }

    bool setSerialDevice(const QString& device) {
        return writeFile(QDir(dir.path()).filePath(u"config/Qarnwerk/QARNVELMAR.conf"_s),
                         "[SerialPorts]\nCOM1=" + device.toLocal8Bit() + "\n");
    }

    // Starts ecrsim (family 5) and waits for its ready line; `where` is
    // {"--pty", link} by default.
    bool startEcrsim(const QStringList& extra = {}, QStringList where = {}) {
        if (where.isEmpty()) {
            where = {u"--pty"_s, link};
        }        ecrsim.setReadChannel(QProcess::StandardError);
        ecrsim.start(binDir() + u"/ecrsim"_s,
                     QStringList{u"--family"_s, QString::number(family), u"--journal"_s, journal,
                                 u"--quiet"_s} +
                         where + kRegister + extra);
        const QDeadlineTimer deadline(10000);
        while (!ecrsimSaid.contains('\n') && !deadline.hasExpired() &&
               ecrsim.state() != QProcess::NotRunning) {
            ecrsim.waitForReadyRead(100);
            ecrsimSaid += ecrsim.readAllStandardError();
        }
        return ecrsimSaid.contains(" listening on ");
    }

    // Starts velmard from the portable copy (its log goes to a file), as
    // the user nobody when `asNobody` (the test runs as root).
    bool startVelmard() {
        velmard.setProcessEnvironment(env);
        velmard.setStandardErrorFile(QDir(dir.path()).filePath(u"velmard.err"_s),
                                     QIODevice::Append);
        velmard.setStandardOutputFile(QProcess::nullDevice());
        const QString program = QDir(prog).filePath(u"velmard"_s);
        if (asNobody) {
            velmard.start(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s,
                                          u"--clear-groups"_s, program});
        } else {
            velmard.start(program, {});
        }
        return velmard.waitForStarted(5000);
    }
    // Lets the user nobody run the copy, reach the register and use its
    // folders; the data directory is sticky, as a shared folder is. The
    // runtime folder becomes nobody's own: Qt refuses one owned by another
    // user and falls back to a folder every nobody shares, where two cases
    // at once would meet each other's one-instance lock.
    bool openToNobody() {
        const QString device = QFileInfo(link).symLinkTarget();
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(QFile::encodeName(runtime).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            return false;
        }
        for (const QString& path : {dir.path(), QDir(dir.path()).filePath(u"config"_s)}) {
            if (::chmod(QFile::encodeName(path).constData(), 0777) != 0) {
                return false;
            }
        }
        return ::chmod(QFile::encodeName(prog).constData(), 01777) == 0 &&
               ::chmod(QFile::encodeName(device).constData(), 0666) == 0 &&
               ::chmod(QFile::encodeName(QDir(dir.path()).filePath(
                           u"config/Qarnwerk"_s)).constData(), 0777) == 0;
    }

    // Installed, ecrsim and velmard up, the register identified: the channel
    // is ready for jobs.
    bool up(const QStringList& ecrsimArgs = {}) {
        return installed && startEcrsim(ecrsimArgs) && startIdentified();
    }
    bool startIdentified() {
        return startVelmard() && waitUntil([this] { return exists("SR_MATR"); }, 15000);
    }

    QString file(const char* base) const {
        return QDir(prog).filePath(QLatin1String(base) + u".001"_s);
    }
    bool exists(const char* base) const { return QFileInfo::exists(file(base)); }
    QByteArray read(const char* base) const { return readFile(file(base)); }
    QByteArray setting(const char* name) const {
        return readFile(QDir(prog).filePath(QLatin1String(name)));
    }
    QByteArray log() const { return readFile(QDir(dir.path()).filePath(u"velmard.err"_s)); }

    // As a host: collects the last answer, writes the receipt, then the start file.
    bool drop(const QByteArray& receipt) {
        QFile::remove(file("SR_ERR"));
        return writeFile(file("SR_DATI"), receipt) && writeFile(file("SR_START"), "00000000\r\n");
    }

    // The job is answered: its start file is gone and an answer is there.
    bool answered() const { return !exists("SR_START") && (exists("FINESCO") || exists("SR_ERR")); }

    QList<QJsonObject> documents(const QString& kind) const {
        return ofKind(readFile(journal).split('\n'), kind);
    }

    QTemporaryDir dir;
    QString prog, runtime, link, journal;
    int family = 5;
    bool asNobody = false;
    bool installed = false;
    QProcessEnvironment env;
    QProcess ecrsim;
    QByteArray ecrsimSaid;
    QProcess velmard;
};

// The cases of the hostile host that need the real velmard.
enum Hostile { PipeReceipt, LogLink, StraySignals, StderrClosed, SecondDriver, SecondDriverLockDeleted, ReadOnlyFolder, DiskFull };

// A memory file system mounted for one case, unmounted when the case ends
// (after its velmard).
struct SmallDisk {
    QString path;
    bool mount(const QString& where, int kib) {
        const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0777";
        if (::mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0, options.constData()) != 0) {
            return false;
        }
        path = where;
        return true;
    }
    ~SmallDisk() {
        if (!path.isEmpty()) {
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
        }
    }
};

// The setting store of `rig` with a custom data directory.
bool useDataDirectory(Rig& rig, const QString& folder) {
    return writeFile(QDir(rig.dir.path()).filePath(u"config/Qarnwerk/QARNVELMAR.conf"_s),
                     "[General]\nCustomPathDataDir=" + folder.toLocal8Bit() + "\n[SerialPorts]\nCOM1=" +
                         rig.link.toLocal8Bit() + "\n");
}

} // namespace

class TestVelmard : public QObject {
    Q_OBJECT

private slots:
    // A receipt end to end: the register prints it once, and the host finds
    // SR_OUT with the register's time, date and receipt number, and FINESCO;
    // its receipt and start files are gone.
    void receipt() {
        // Over the pseudo-terminal every hostileHost row ends with a receipt;
        // this one goes over loopback TCP. Start-up always sets the
        // register's TCP port to 6660.
        SparePty spare;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 6660)) {
            QSKIP("127.0.0.1:6660 is in use: velmard always connects there in network mode");
        }
        probe.close();
        auto rig = std::make_unique<Rig>(kNetworkOptions);
        QVERIFY(!spare.path().isEmpty());
        QVERIFY(rig->setSerialDevice(spare.path()));
        if (!rig->startEcrsim({}, {u"--tcp"_s, u"6660"_s})) {
            QSKIP("ecrsim could not listen on 127.0.0.1:6660 (taken meanwhile?)");
        }
        QVERIFY(rig->installed);
        QVERIFY(rig->startIdentified());
        QVERIFY(rig->drop(kReceipt));
        QVERIFY(waitUntil([&] { return rig->answered(); }, 20000));

        QCOMPARE(rig->read("FINESCO"), "finesco"_ba);
        QVERIFY(!rig->exists("SR_ERR") && !rig->exists("SR_DATI") && !rig->exists("SR_START"));
        QCOMPARE(rig->read("SR_OUT"), "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                      "DATE,06/12/26  SCONTR. N.0042 ,E,A1;\r\n"_ba);
        QTRY_COMPARE_WITH_TIMEOUT(rig->documents(u"receipt"_s).size(), 1, 5000);
        const QJsonObject printed = rig->documents(u"receipt"_s).first();
        QCOMPARE(printed.value(u"number"_s).toInt(), 42);
        QCOMPARE(printed.value(u"total"_s).toInt(), 420);
        QCOMPARE(printed.value(u"items"_s).toArray().size(), 2);
        QCOMPARE(printedLines(printed), QStringList{u"GRAZIE E ARRIVEDERCI"_s});
        QVERIFY(rig->documents(u"refused"_s).isEmpty());
    }

    // velmard killed where it stands (kill -9, a power cut) after the
    // register closed the receipt but before its answer (the totals take
    // 3 s to print), then started again: the job left in flight is answered
    // from its record and from the register (family 6 is asked its last
    // number): FINESCO, printed exactly once. The other stages are killed in
    // virtual time (tst_soak's fault matrix).
    void killedMidJob() {
        Rig rig(kFamily6Options);
        rig.family = 6;
        QVERIFY(rig.up({u"--closing-print"_s, u"3000"_s}));
        QByteArray receipt;
        for (int i = 1; i <= 8; ++i) {
            receipt += "PLUD,:Articolo " + QByteArray::number(i) + ",P100,N1;\r\n";
        }
        receipt += "CASH;\r\n";
        QVERIFY(rig.drop(receipt));
        const QString record = QDir(rig.prog).filePath(u"VMJOB.001"_s);
        QVERIFY(waitUntil(
            [&] {
                const QByteArray r = readFile(record);
                return r.contains("state=in-flight\n") && r.contains("stage=paying\n");
            },
            20000));
        QTest::qWait(1200);
        rig.velmard.kill();
        QVERIFY(rig.velmard.waitForFinished(5000));
        QVERIFY(rig.exists("SR_START") && !rig.exists("FINESCO") && !rig.exists("SR_ERR"));

        QVERIFY(rig.startVelmard()); // it finds the job in flight and answers it
        QVERIFY(waitUntil([&] { return rig.answered(); }, 40000));
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
        QVERIFY(!rig.exists("SR_DATI"));
        // A receipt's journal line comes once its answer is acknowledged.
        QTRY_COMPARE_WITH_TIMEOUT(rig.documents(u"receipt"_s).size(), 1, 8000);
        QTest::qWait(500);
        QCOMPARE(rig.documents(u"receipt"_s).size(), 1);
        QCOMPARE(rig.documents(u"receipt"_s).first().value(u"items"_s).toArray().size(), 8);
    }

    // Files of the job Velmar cannot handle: it sends nothing it cannot
    // answer for, and never plays a job twice.
    void filesVelmarCannotHandle_data() {
        QTest::addColumn<bool>("hostFilesStay"); // else: SR_OUT cannot be created
        QTest::newRow("SR_OUT cannot be created (a folder in its place)") << false;
        QTest::newRow("the host's files cannot be deleted (a shared folder)") << true;
    }
    void filesVelmarCannotHandle() {
        QFETCH(bool, hostFilesStay);
        Rig rig;
        if (hostFilesStay) {
            // In a sticky folder nobody may delete root's files: velmard runs
            // as nobody, the host as root.
            if (::geteuid() != 0) {
                QSKIP("needs root: velmard runs as another user than the host");
            }
            rig.asNobody = true;
            QVERIFY(rig.installed && rig.startEcrsim());
            QVERIFY(rig.openToNobody());
            QVERIFY(rig.startIdentified());
        } else {
            QVERIFY(rig.up());
            QVERIFY(QDir(rig.prog).mkdir(u"SR_OUT.001"_s));
        }
        QVERIFY(rig.drop(kReceipt));
        QVERIFY(waitUntil([&] { return rig.exists("FINESCO") || rig.exists("SR_ERR"); }, 60000));
        if (!hostFilesStay) {
            QCOMPARE(rig.read("SR_ERR"),
                     "E503: Trasmissione non avvenuta: impossibile scrivere nella cartella dati\r\n"_ba);
            QCOMPARE(rig.read("SR_DATI"), kReceipt);
            QTest::qWait(500);
            QVERIFY(rig.documents(u"receipt"_s).isEmpty()); // nothing was sent
            QVERIFY(QDir(rig.prog).rmdir(u"SR_OUT.001"_s));
            QVERIFY(rig.drop(kReceipt)); // the host sends it again
            QVERIFY(waitUntil([&] { return rig.answered(); }, 20000));
            QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
        } else {
            QCOMPARE(rig.read("FINESCO"), "finesco"_ba); // printed, whatever stays
            QVERIFY(rig.exists("SR_START") && rig.exists("SR_DATI"));
            QFile::remove(rig.file("FINESCO")); // the host collects its answer
            QFile::remove(rig.file("SR_OUT"));
            // The start file still there is the same job: told, not printed again.
            QVERIFY(waitUntil([&] { return rig.exists("SR_ERR"); }, 10000));
            QCOMPARE(rig.read("SR_ERR"),
                     "E511: Lavoro gia' eseguito: Velmar non puo' cancellare SR_START e SR_DATI\r\n"_ba);
            QVERIFY(rig.log().contains("SR_START"));
        }
        QTest::qWait(2000);
        QCOMPARE(rig.documents(u"receipt"_s).size(), 1);
    }

    // The hostile host with the real velmard, for what needs a real process:
    // a pipe that would block open() for good, a log that is a link, stray
    // signals, a closed standard error, a second velmard on the same data
    // directory, a data directory velmard may not write, a full disk.
    // Afterwards nothing outside the data directory changed, the register
    // printed what the host meant or nothing, the host got an answer (once
    // velmard can write one), and velmard serves the next receipt and stops
    // cleanly.
    void hostileHost_data() {
        QTest::addColumn<int>("what");
        QTest::newRow("SR_DATI a pipe") << int(PipeReceipt);
        QTest::newRow("VELMARD.LOG a link to a file outside") << int(LogLink);
        QTest::newRow("SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM") << int(StraySignals);
        QTest::newRow("standard error closed") << int(StderrClosed);
        QTest::newRow("a second velmard on the same data directory") << int(SecondDriver);
        QTest::newRow("a second velmard after VMLOCK.TXT was deleted") << int(SecondDriverLockDeleted);
        QTest::newRow("a data directory velmard may not write") << int(ReadOnlyFolder);
        QTest::newRow("a full disk") << int(DiskFull);
    }
    void hostileHost() {
        QFETCH(int, what);
        SmallDisk disk; // outlives the rig's velmard
        Rig rig;
        QVERIFY(rig.installed);
        QTemporaryDir outside;
        const QString target = QDir(outside.path()).filePath(u"target.txt"_s);
        QVERIFY(writeFile(target, "OUTSIDE\n"));
        QString data = rig.prog; // the portable copy's own folder
        const auto file = [&data](const char* base) {
            return QDir(data).filePath(QLatin1String(base) + u".001"_s);
        };
        const auto answered = [&] {
            return !QFileInfo::exists(file("SR_START")) &&
                   (QFileInfo::exists(file("FINESCO")) || QFileInfo::exists(file("SR_ERR")));
        };
        const auto dropJob = [&](const QByteArray& receipt) {
            for (const char* base : {"SR_ERR", "FINESCO", "SR_OUT"}) {
                QFile::remove(file(base));
            }
            return writeFile(file("SR_DATI"), receipt) && writeFile(file("SR_START"), "1\r\n");
        };
        QString logFile = QDir(rig.dir.path()).filePath(u"velmard.err"_s);
        const auto log = [&logFile] { return readFile(logFile); };
        int printed = 0; // receipts before the next one

        switch (what) {
        case PipeReceipt:
            QVERIFY(rig.up());
            QCOMPARE(::mkfifo(QFile::encodeName(file("SR_DATI")).constData(), 0666), 0);
            QVERIFY(writeFile(file("SR_START"), "1\r\n"));
            QVERIFY(waitUntil(answered, 10000));
            QCOMPARE(readFile(file("SR_ERR")), "ERRORE DI CONVERSIONE \r\n"_ba);
            QVERIFY(log().contains("SR_DATI.001 non è un file normale"));
            QVERIFY(QFile::remove(file("SR_DATI")));
            break;
        case LogLink:
            QVERIFY(QFile::link(target, QDir(rig.prog).filePath(u"VELMARD.LOG"_s)));
            QVERIFY(rig.up());
            break;
        case StraySignals:
            QVERIFY(rig.up());
            for (int signal : {SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM}) {
                QCOMPARE(::kill(pid_t(rig.velmard.processId()), signal), 0);
                QVERIFY(waitUntil([&] { return log().contains(u"signal %1 ignored"_s.arg(signal).toUtf8()); },
                                  5000));
            }
            break;
        case StderrClosed:
            QVERIFY(rig.startEcrsim());
            rig.velmard.setProcessEnvironment(rig.env);
            rig.velmard.setStandardOutputFile(QProcess::nullDevice());
            rig.velmard.start(QDir(rig.prog).filePath(u"velmard"_s), {});
            QVERIFY(rig.velmard.waitForStarted(5000));
            rig.velmard.closeReadChannel(QProcess::StandardError); // every log line meets a broken pipe
            logFile = QDir(rig.prog).filePath(u"VELMARD.LOG"_s);
            QVERIFY(waitUntil([&] { return rig.exists("SR_MATR"); }, 15000));
            break;
        case SecondDriver:
        case SecondDriverLockDeleted: {
            QVERIFY(rig.up());
            if (what == SecondDriverLockDeleted) { // the folder itself stays locked
                QVERIFY(QFile::remove(QDir(rig.prog).filePath(u"VMLOCK.TXT"_s)));
            }
            // Another copy, runtime folder and setting store, the same data
            // directory and register.
            QTemporaryDir other;
            QVERIFY(Rig::install(other.path(), kSerialOptions));
            QDir(other.path()).mkpath(u"config/Qarnwerk"_s);
            QDir(other.path()).mkpath(u"run"_s);
            QVERIFY(writeFile(QDir(other.path()).filePath(u"config/Qarnwerk/QARNVELMAR.conf"_s),
                              "[General]\nCustomPathDataDir=" + rig.prog.toLocal8Bit() +
                                  "\n[SerialPorts]\nCOM1=" + rig.link.toLocal8Bit() + "\n"));
            QProcessEnvironment env = rig.env;
            env.insert(u"XDG_CONFIG_HOME"_s, QDir(other.path()).filePath(u"config"_s));
            env.insert(u"XDG_RUNTIME_DIR"_s, QDir(other.path()).filePath(u"run"_s));
            QProcess second;
            second.setProcessEnvironment(env);
            second.start(QDir(other.path()).filePath(u"velmard"_s), {});
            QVERIFY(second.waitForFinished(10000));
            QCOMPARE(second.exitCode(), 3);
            const QByteArray said = second.readAllStandardError();
            QVERIFY2(said.contains("è già servita da un altro Velmar (") &&
                         said.contains("pid " + QByteArray::number(rig.velmard.processId())),
                     said.constData());
            QVERIFY(rig.exists("SR_MATR")); // the first one's files are left alone
            break;
        }
        case ReadOnlyFolder: {
            data = QDir(rig.dir.path()).filePath(u"data"_s);
            QVERIFY(QDir().mkpath(data));
            QVERIFY(useDataDirectory(rig, data));
            QVERIFY(rig.startEcrsim());
            if (::geteuid() == 0) { // root writes anywhere: velmard runs as nobody
                rig.asNobody = true;
                QVERIFY(rig.openToNobody());
            }
            QVERIFY(dropJob(kReceipt)); // the host's job waits from the start
            QCOMPARE(::chmod(QFile::encodeName(data).constData(), 0555), 0);
            QVERIFY(rig.startVelmard());
            QVERIFY(waitUntil([&] { return log().contains("non scrivibile (permesso negato)"); }, 10000));
            QTest::qWait(1500); // several scans: told once, nothing taken
            QCOMPARE(log().count("non scrivibile (permesso negato)"), 1);
            QVERIFY(log().contains("Text2: CARTELLA DATI NON SCRIVIBILE"));
            QVERIFY(QFileInfo::exists(file("SR_START")) && !QFileInfo::exists(file("SR_MATR")));
            QCOMPARE(::chmod(QFile::encodeName(data).constData(), 0777), 0);
            QVERIFY(waitUntil(answered, 20000));
            QCOMPARE(readFile(file("FINESCO")), "finesco"_ba);
            QVERIFY(log().contains("di nuovo scrivibile"));
            printed = 1;
            break;
        }
        case DiskFull: {
            data = QDir(rig.dir.path()).filePath(u"disk"_s);
            QVERIFY(QDir().mkpath(data));
            if (!disk.mount(data, 512)) {
                QSKIP("mounting a small file system needs root");
            }
            QVERIFY(useDataDirectory(rig, data));
            QVERIFY(rig.startEcrsim());
            QVERIFY(rig.startVelmard());
            QVERIFY(waitUntil([&] { return QFileInfo::exists(file("SR_MATR")); }, 15000));
            // The disk fills up to 12 KiB; the host's job takes 8 of them.
            struct statvfs fs {};
            QCOMPARE(::statvfs(QFile::encodeName(data).constData(), &fs), 0);
            const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_bsize) - 12 * 1024;
            const QString filler = QDir(data).filePath(u"filler"_s);
            QVERIFY(room > 0 && writeFile(filler, QByteArray(room, 'x')));
            QVERIFY(dropJob(kReceipt));
            QVERIFY(waitUntil([&] { return log().contains("non scrivibile (disco pieno)"); }, 10000));
            QTest::qWait(1000);
            QVERIFY(QFileInfo::exists(file("SR_START")));
            QVERIFY(rig.documents(u"receipt"_s).isEmpty()); // not taken: nothing printed
            QVERIFY(QFile::remove(filler));
            QVERIFY(waitUntil(answered, 20000));
            QCOMPARE(readFile(file("FINESCO")), "finesco"_ba);
            QCOMPARE(readFile(file("SR_OUT")), "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                               "DATE,06/12/26  SCONTR. N.0042 ,E,A1;\r\n"_ba);
            printed = 1;
            break;
        }
        }
        QTest::qWait(500); // anything sent would reach the journal by now
        QCOMPARE(rig.documents(u"receipt"_s).size(), printed);

        // velmard goes on: the next receipt prints, and it stops cleanly.
        QVERIFY(dropJob(kReceipt));
        QVERIFY(waitUntil(answered, 20000));
        QCOMPARE(readFile(file("FINESCO")), "finesco"_ba);
        QTRY_COMPARE_WITH_TIMEOUT(rig.documents(u"receipt"_s).size(), printed + 1, 5000);
        QCOMPARE(readFile(target), "OUTSIDE\n"_ba);
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"target.txt"_s});
        rig.velmard.terminate();
        QVERIFY(rig.velmard.waitForFinished(10000));
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(file("SR_MATR")));
        if (what == LogLink) {
            const QFileInfo own(QDir(rig.prog).filePath(u"VELMARD.LOG"_s));
            QVERIFY(!own.isSymLink() && own.size() > 0);
            QCOMPARE(own.permissions() & (QFile::ReadOther | QFile::WriteOther), QFile::Permissions());
        }
    }

    // The command line: help and version only, which start nothing; anything
    // else is a usage error.
    void commandLine_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--help") << u"--help"_s << 0
                                << u"^Usage: velmard \\[--help \\| --version\\]\n.*SIGTERM"_s
                                << u"^$"_s;
        QTest::newRow("--version")
            << u"--version"_s << 0 << u"^velmard \\d+(\\.\\d+)+\n$"_s << u"^$"_s;
        QTest::newRow("unknown option") << u"--foreground"_s << 2 << u"^$"_s << u"velmard --help"_s;
    }
    void commandLine() {
        QFETCH(QString, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        Rig rig;
        QVERIFY(rig.installed);
        QProcess p;
        p.setProcessEnvironment(rig.env);
        p.start(QDir(rig.prog).filePath(u"velmard"_s), {args});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status);
        const auto matches = [](const QString& pattern, const QByteArray& said) {
            return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
                .match(QString::fromLocal8Bit(said))
                .hasMatch();
        };
        QVERIFY2(matches(out, p.readAllStandardOutput()), qPrintable(out));
        QVERIFY2(matches(err, p.readAllStandardError()), qPrintable(err));
        QVERIFY(!QFileInfo::exists(QDir(rig.prog).filePath(u"VELMARD.LOG"_s)));
    }

    // A second velmard with the same runtime folder ends at once with status
    // 0 and touches nothing of its own copy; the first one goes on serving.
    // --version tells the version the running program logs.
    void secondInstance() {
        Rig rig;
        QVERIFY(rig.up());
        QTemporaryDir otherCopy;
        QVERIFY(Rig::install(otherCopy.path(), kSerialOptions));
        const QStringList before = QDir(otherCopy.path()).entryList(QDir::Files);
        QProcess second;
        second.setProcessEnvironment(rig.env); // the same runtime folder
        second.start(QDir(otherCopy.path()).filePath(u"velmard"_s), {});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(QDir(otherCopy.path()).entryList(QDir::Files), before);
        QCOMPARE(readFile(QDir(otherCopy.path()).filePath(u"VMTIMER1.TXT"_s)), "0.1\r\n"_ba);
        QCOMPARE(rig.velmard.state(), QProcess::Running);

        QVERIFY(rig.drop(kReceipt)); // the first one still serves its host
        QVERIFY(waitUntil([&] { return rig.answered(); }, 20000));
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba);

        QProcess version;
        version.start(QDir(rig.prog).filePath(u"velmard"_s), {u"--version"_s});
        QVERIFY(version.waitForFinished(5000));
        const QByteArray told = version.readAllStandardOutput().trimmed(); // "velmard X.Y.Z.W"
        QVERIFY(told.startsWith("velmard "));
        QVERIFY2(rig.log().contains(" " + told + ": data directory "), told.constData());
    }

    // SIGTERM (or SIGHUP) while idle: a clean exit that removes the
    // registration file, keeps the answers the host has not collected and
    // the host's receipt file, and writes the settings files back whole.
    // A fatal fault ends it where it stands, but SR_MATR goes first.
    void sigtermWhileIdle_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("fatal");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
        QTest::newRow("a fault: SIGSEGV") << int(SIGSEGV) << true;
        QTest::newRow("an abort: SIGABRT") << int(SIGABRT) << true;
    }
    void sigtermWhileIdle() {
        Rig rig(" 5 \r\n"); // only the family: the rest from the defaults
        QVERIFY(rig.up());
        const QByteArray matricola = rig.read("SR_MATR").split('\r').first();
        QVERIFY(!matricola.isEmpty());
        // Answers of an earlier job not collected, and a receipt being
        // prepared (no start file yet).
        QVERIFY(writeFile(rig.file("SR_OUT"), "TIME,CASS. 1 09:00 CASSA   1 ,E,A1;\r\n"));
        QVERIFY(writeFile(rig.file("FINESCO"), "finesco"));
        QVERIFY(writeFile(rig.file("SR_ERR"), kE504));
        QVERIFY(writeFile(rig.file("SR_DATI"), kReceipt));
        QTest::qWait(300); // a few idle scans: none of these starts anything

        QFETCH(int, signal);
        QFETCH(bool, fatal);
        ::kill(pid_t(rig.velmard.processId()), signal);
        QVERIFY(rig.velmard.waitForFinished(10000));
        QVERIFY(!rig.exists("SR_MATR") && !rig.exists("SR_START"));
        if (fatal) {
            QCOMPARE(rig.velmard.exitStatus(), QProcess::CrashExit);
            QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
            QCOMPARE(rig.read("SR_DATI"), kReceipt);
            return;
        }
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        QCOMPARE(rig.read("SR_OUT"), "TIME,CASS. 1 09:00 CASSA   1 ,E,A1;\r\n"_ba);
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
        QCOMPARE(rig.read("SR_ERR"), kE504);
        QCOMPARE(rig.read("SR_DATI"), kReceipt);
        QCOMPARE(rig.setting("VMCHKSCO.TXT"),
                 " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n" + matricola + "\r\n3500\r\n");
        QCOMPARE(rig.setting("VMCHKCOM.TXT"), "1000\r\n"_ba);
        QCOMPARE(rig.setting("VMChkBd.txt"), "9600\r\n"_ba);
        QVERIFY(rig.documents(u"receipt"_s).isEmpty());
    }

    // SIGTERM while a receipt is being printed: velmard finishes the job, the
    // host gets its FINESCO, and then it shuts down (which keeps the answers).
    void sigtermDuringJob() {
        Rig rig;
        QVERIFY(rig.up());
        // Fifteen items, some 330 characters: at 9600 baud, each echoed, the
        // items take about 0.7 s after the reset's 0.3 s.
        QByteArray receipt;
        QStringList expected;
        for (int i = 1; i <= 15; ++i) {
            receipt += "PLUD,:Articolo " + QByteArray::number(i) + ",P100,N1;\r\n";
            expected << u"ARTICOLO %1"_s.arg(i);
        }
        QVERIFY(rig.drop(receipt + "CASH;\r\n"));
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
        QVERIFY(finesco && !error);
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        QVERIFY(!rig.exists("SR_DATI")); // printed: the host's receipt was taken
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba); // the answer outlives velmard
        QVERIFY(rig.read("SR_OUT").startsWith("TIME,"));
        QVERIFY(!rig.exists("SR_MATR"));
        const QList<QJsonObject> printed = rig.documents(u"receipt"_s);
        QCOMPARE(printed.size(), 1);
        QStringList items; // every item whole and in order: nothing cut or paused mid-line
        for (const QJsonValue& item : printed.first().value(u"items"_s).toArray()) {
            items << item.toObject().value(u"text"_s).toString();
        }
        QCOMPARE(items, expected);
        QCOMPARE(printed.first().value(u"total"_s).toInt(), 1500);
        QVERIFY(rig.documents(u"refused"_s).isEmpty());
        // The signal came before the job's end, the shut-down after it.
        const QByteArray log = rig.log();
        const qsizetype signal = log.indexOf("signal 15");
        QVERIFY(signal >= 0);
        QVERIFY(log.indexOf("VELMAR TERMINATO : TUTTO OK") > signal);
    }
};

QTEST_GUILESS_MAIN(TestVelmard)
#include "tst_velmard.moc"
