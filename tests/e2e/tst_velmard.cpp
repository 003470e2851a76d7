// The real velmard against ecrsim, as a shop's host program meets them: a
// portable copy of the program with its settings files beside it (so the
// program folder is also the data directory), ecrsim on a pseudo-terminal or
// on loopback TCP, receipts dropped into the data directory and answers
// collected from it. Each case has its own folders, setting store and runtime
// folder (where the one-instance lock lives), so several velmard run at once.
// Every wait is bounded; the poll interval is 0.1 s to keep the cases quick.

#include "common/CaseTable.h"
#include "support/TestSupport.h"

#include <pwd.h>
#include <algorithm>
#include <functional>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// The register's clock and first receipt number are set, so its closing
// answer, and the SR_OUT lines made of it, are known to the byte (a case
// takes seconds, far from the next minute).
const QStringList kRegister = u"--clock 2026-12-06T09:15:00 --first-receipt 42"_s.split(' ');

// VMCHKSCO.TXT: family 5, description length 30, trace (line 3), network
// (line 4) and the register's address (line 5); TCP reply time-out 3500 ms.
const QByteArray kSerialOptions = " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n";

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
        data = prog; // the portable copy's own folder
        logFile = root.filePath(u"velmard.err"_s);
        installed = install(prog, options) && useDataDirectory(data);
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

    // The setting store: COM1 is the register's link, `folder` the data
    // directory (made if missing; the copy's own folder needs no setting).
    bool useDataDirectory(const QString& folder) {
        const QByteArray custom = folder == prog ? QByteArray()
                                  : "[General]\nCustomPathDataDir=" + folder.toLocal8Bit() + "\n";
        data = folder;
        return QDir().mkpath(folder) &&
               writeFile(QDir(dir.path()).filePath(u"config/Qarnwerk/QARNVELMAR.conf"_s),
                         custom + "[SerialPorts]\nCOM1=" + link.toLocal8Bit() + "\n");
    }

    // Starts ecrsim (family 5) on a pseudo-terminal and waits for its ready line.
    bool startEcrsim() {
        ecrsim.setReadChannel(QProcess::StandardError);
        ecrsim.start(binDir() + u"/ecrsim"_s, QStringList{u"--family"_s, u"5"_s,
                                                          u"--journal"_s, journal, u"--quiet"_s,
                                                          u"--pty"_s, link} + kRegister);
        waitUntil([this] {
            ecrsimSaid += ecrsim.readAllStandardError();
            return ecrsimSaid.contains('\n') || ecrsim.state() == QProcess::NotRunning;
        }, 10000);
        return ecrsimSaid.contains(" listening on ");
    }

    // Starts velmard from the portable copy (its log goes to a file), as
    // the user nobody when `asNobody` (the test runs as root).
    bool startVelmard() {
        velmard.setProcessEnvironment(env);
        velmard.setStandardErrorFile(logFile, QIODevice::Append);
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
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(QFile::encodeName(runtime).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            return false;
        }
        const QDir root(dir.path());
        const QList<std::pair<QString, mode_t>> modes{
            {root.path(), 0777}, {root.filePath(u"config"_s), 0777},
            {root.filePath(u"config/Qarnwerk"_s), 0777}, {prog, 01777},
            {QFileInfo(link).symLinkTarget(), 0666}};
        return std::all_of(modes.begin(), modes.end(), [](const auto& m) {
            return ::chmod(QFile::encodeName(m.first).constData(), m.second) == 0;
        });
    }

    // Installed, ecrsim and velmard up, the register identified: the channel
    // is ready for jobs.
    bool up() {
        return installed && startEcrsim() && startIdentified();
    }
    bool startIdentified() {
        return startVelmard() && waitUntil([this] { return exists("SR_MATR"); }, 15000);
    }

    QString file(const char* base) const {
        return QDir(data).filePath(QLatin1String(base) + u".001"_s);
    }
    bool exists(const char* base) const { return QFileInfo::exists(file(base)); }
    QByteArray read(const char* base) const { return readFile(file(base)); }
    QByteArray setting(const char* name) const {
        return readFile(QDir(prog).filePath(QLatin1String(name)));
    }
    QByteArray log() const { return readFile(logFile); }

    // As a host: collects the last answers, writes the receipt, then the start file.
    bool drop(const QByteArray& receipt) {
        for (const char* base : {"SR_ERR", "FINESCO", "SR_OUT"}) {
            QFile::remove(file(base));
        }
        return writeFile(file("SR_DATI"), receipt) && writeFile(file("SR_START"), "00000000\r\n");
    }

    // The job is answered: its start file is gone and an answer is there.
    bool answered() const { return !exists("SR_START") && (exists("FINESCO") || exists("SR_ERR")); }

    QList<QJsonObject> documents(const QString& kind) const {
        return ofKind(readFile(journal).split('\n'), kind);
    }

    QTemporaryDir dir;
    QString prog, runtime, link, journal, data, logFile;
    bool asNobody = false;
    bool installed = false;
    QProcessEnvironment env;
    QProcess ecrsim;
    QByteArray ecrsimSaid;
    QProcess velmard;
};

// The cases of the hostile host that need the real velmard.
enum Hostile { LogLink, StraySignals, StderrClosed, SameSession, SecondDriver, SecondDriverLockDeleted, ReadOnlyFolder, DiskFull };

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


} // namespace

class TestVelmard : public QObject {
    Q_OBJECT

private slots:
    // The host's files cannot be deleted (a shared folder): Velmar never
    // plays a job twice. (SR_OUT that cannot be created is tst_jobcycle's.)
    void hostFilesCannotBeDeleted() {
        // In a sticky folder nobody may delete root's files: velmard runs
        // as nobody, the host as root.
        if (::geteuid() != 0) {
            QSKIP("needs root: velmard runs as another user than the host");
        }
        Rig rig;
        rig.asNobody = true;
        QVERIFY(rig.installed && rig.startEcrsim());
        QVERIFY(rig.openToNobody());
        QVERIFY(rig.startIdentified());
        QVERIFY(rig.drop(kReceipt));
        QVERIFY(waitUntil([&] { return rig.exists("FINESCO") || rig.exists("SR_ERR"); }, 60000));
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba); // printed, whatever stays
        QVERIFY(rig.exists("SR_START") && rig.exists("SR_DATI"));
        QFile::remove(rig.file("FINESCO")); // the host collects its answer
        QFile::remove(rig.file("SR_OUT"));
        // The start file still there is the same job: told, not printed again.
        QVERIFY(waitUntil([&] { return rig.exists("SR_ERR"); }, 10000));
        QCOMPARE(rig.read("SR_ERR"),
                 "E511: Lavoro gia' eseguito: Velmar non puo' cancellare SR_START e SR_DATI\r\n"_ba);
        QVERIFY(rig.log().contains("SR_START"));
        QTest::qWait(2000);
        QCOMPARE(rig.documents(u"receipt"_s).size(), 1);
    }

    // The hostile host with the real velmard, for what needs a real process:
    // a log that is a link, stray signals, a closed standard error, a second
    // velmard in the same session or on the same data directory, a data
    // directory velmard may not write, a full disk.
    // Afterwards nothing outside the data directory changed, the register
    // printed what the host meant or nothing, the host got an answer (once
    // velmard can write one), and velmard serves the next receipt and stops
    // cleanly. (SR_DATI a pipe is tst_jobcycle's: the same open() there.)
    void hostileHost_data() {
        QTest::addColumn<int>("what");
        QTest::newRow("VELMARD.LOG a link to a file outside") << int(LogLink);
        QTest::newRow("SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM") << int(StraySignals);
        QTest::newRow("standard error closed") << int(StderrClosed);
        // Started again in the same session (the same runtime folder): it
        // ends at once with status 0 and touches nothing of its own copy.
        QTest::newRow("a second velmard in the same session") << int(SameSession);
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
        const auto answered = [&rig] { return rig.answered(); };
        int printed = 0; // receipts before the next one

        switch (what) {
        case LogLink:
            QVERIFY(QFile::link(target, QDir(rig.prog).filePath(u"VELMARD.LOG"_s)));
            QVERIFY(rig.up());
            break;
        case StraySignals:
            QVERIFY(rig.up());
            for (int signal : {SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM}) {
                QCOMPARE(::kill(pid_t(rig.velmard.processId()), signal), 0);
                QVERIFY(waitUntil([&] { return rig.log().contains(u"signal %1 ignored"_s.arg(signal).toUtf8()); },
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
            rig.logFile = QDir(rig.prog).filePath(u"VELMARD.LOG"_s);
            QVERIFY(waitUntil([&] { return rig.exists("SR_MATR"); }, 15000));
            break;
        case SameSession: {
            QVERIFY(rig.up());
            Rig other;
            other.env = rig.env;
            const QStringList before = QDir(other.prog).entryList(QDir::Files);
            QVERIFY(other.installed && other.startVelmard() && other.velmard.waitForFinished(5000));
            QCOMPARE(other.velmard.exitStatus(), QProcess::NormalExit);
            QCOMPARE(other.velmard.exitCode(), 0);
            QCOMPARE(QDir(other.prog).entryList(QDir::Files), before);
            QCOMPARE(other.setting("VMTIMER1.TXT"), "0.1\r\n"_ba);
            break;
        }
        case SecondDriver:
        case SecondDriverLockDeleted: {
            QVERIFY(rig.up());
            if (what == SecondDriverLockDeleted) { // the folder itself stays locked
                QVERIFY(QFile::remove(QDir(rig.prog).filePath(u"VMLOCK.TXT"_s)));
            }
            // Another copy, runtime folder and setting store, the same data
            // directory and register.
            Rig other;
            other.link = rig.link;
            QVERIFY(other.installed && other.useDataDirectory(rig.prog));
            QVERIFY(other.startVelmard() && other.velmard.waitForFinished(10000));
            QCOMPARE(other.velmard.exitCode(), 3);
            const QByteArray said = other.log();
            QVERIFY2(said.contains("è già servita da un altro Velmar (") &&
                         said.contains("pid " + QByteArray::number(rig.velmard.processId())),
                     said.constData());
            QVERIFY(rig.exists("SR_MATR")); // the first one's files are left alone
            break;
        }
        case ReadOnlyFolder: {
            QVERIFY(rig.useDataDirectory(QDir(rig.dir.path()).filePath(u"data"_s)));
            QVERIFY(rig.startEcrsim());
            if (::geteuid() == 0) { // root writes anywhere: velmard runs as nobody
                rig.asNobody = true;
                QVERIFY(rig.openToNobody());
            }
            QVERIFY(rig.drop(kReceipt)); // the host's job waits from the start
            QCOMPARE(::chmod(QFile::encodeName(rig.data).constData(), 0555), 0);
            QVERIFY(rig.startVelmard());
            QVERIFY(waitUntil([&] { return rig.log().contains("non scrivibile (permesso negato)"); }, 10000));
            QTest::qWait(1500); // several scans: told once, nothing taken
            QCOMPARE(rig.log().count("non scrivibile (permesso negato)"), 1);
            QVERIFY(rig.log().contains("Text2: CARTELLA DATI NON SCRIVIBILE"));
            QVERIFY(rig.exists("SR_START") && !rig.exists("SR_MATR"));
            QCOMPARE(::chmod(QFile::encodeName(rig.data).constData(), 0777), 0);
            QVERIFY(waitUntil(answered, 20000));
            QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
            QVERIFY(rig.log().contains("di nuovo scrivibile"));
            printed = 1;
            break;
        }
        case DiskFull: {
            QVERIFY(rig.useDataDirectory(QDir(rig.dir.path()).filePath(u"disk"_s)));
            if (!disk.mount(rig.data, 512)) {
                QSKIP("mounting a small file system needs root");
            }
            QVERIFY(rig.up());
            // The disk fills up to 12 KiB; the host's job takes 8 of them.
            struct statvfs fs {};
            QCOMPARE(::statvfs(QFile::encodeName(rig.data).constData(), &fs), 0);
            const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_bsize) - 12 * 1024;
            const QString filler = QDir(rig.data).filePath(u"filler"_s);
            QVERIFY(room > 0 && writeFile(filler, QByteArray(room, 'x')));
            QVERIFY(rig.drop(kReceipt));
            QVERIFY(waitUntil([&] { return rig.log().contains("non scrivibile (disco pieno)"); }, 10000));
            QTest::qWait(1000);
            QVERIFY(rig.exists("SR_START"));
            QVERIFY(rig.documents(u"receipt"_s).isEmpty()); // not taken: nothing printed
            QVERIFY(QFile::remove(filler));
            QVERIFY(waitUntil(answered, 20000));
            QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
            QCOMPARE(rig.read("SR_OUT"), "TIME,CASS. 1 09:15 CASSA   1 ,E,A1;\r\n"
                                         "DATE,06/12/26  SCONTR. N.0042 ,E,A1;\r\n"_ba);
            printed = 1;
            break;
        }
        }
        QTest::qWait(500); // anything sent would reach the journal by now
        QCOMPARE(rig.documents(u"receipt"_s).size(), printed);

        // velmard goes on: the next receipt prints, and it stops cleanly.
        QVERIFY(rig.drop(kReceipt));
        QVERIFY(waitUntil(answered, 20000));
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
        QTRY_COMPARE_WITH_TIMEOUT(rig.documents(u"receipt"_s).size(), printed + 1, 5000);
        QCOMPARE(readFile(target), "OUTSIDE\n"_ba);
        QCOMPARE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"target.txt"_s});
        rig.velmard.terminate();
        QVERIFY(rig.velmard.waitForFinished(10000));
        QCOMPARE(rig.velmard.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.velmard.exitCode(), 0);
        QVERIFY(!rig.exists("SR_MATR"));
        if (what == LogLink) {
            const QFileInfo own(QDir(rig.prog).filePath(u"VELMARD.LOG"_s));
            QVERIFY(!own.isSymLink() && own.size() > 0);
            QCOMPARE(own.permissions() & (QFile::ReadOther | QFile::WriteOther), QFile::Permissions());
        }
    }

    // The command line: help and version only, which start nothing; anything
    // else is a usage error.
    void commandLine_data() {
        addCaseRows(u"e2e/commandline.txt"_s, {"args", "status", "out", "err"});
    }
    void commandLine() {
        QFETCH(QByteArray, args);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        Rig rig;
        QVERIFY(rig.installed);
        QProcess p;
        p.setProcessEnvironment(rig.env);
        p.start(QDir(rig.prog).filePath(u"velmard"_s), {QString::fromLatin1(args)});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), status.toInt());
        const auto matches = [](const QByteArray& pattern, const QByteArray& said) {
            return QRegularExpression(QString::fromLatin1(pattern),
                                      QRegularExpression::DotMatchesEverythingOption)
                .match(QString::fromLocal8Bit(said))
                .hasMatch();
        };
        QVERIFY2(matches(out, p.readAllStandardOutput()), out.constData());
        QVERIFY2(matches(err, p.readAllStandardError()), err.constData());
        QVERIFY(!QFileInfo::exists(QDir(rig.prog).filePath(u"VELMARD.LOG"_s)));
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
        // An answer of an earlier job not collected, and a receipt being
        // prepared (no start file yet); the other files a close keeps are
        // tst_jobcycle's closeWhenIdle.
        QVERIFY(writeFile(rig.file("FINESCO"), "finesco"));
        QVERIFY(writeFile(rig.file("SR_DATI"), kReceipt));
        QTest::qWait(300); // a few idle scans: none of these starts anything

        QFETCH(int, signal);
        QFETCH(bool, fatal);
        ::kill(pid_t(rig.velmard.processId()), signal);
        QVERIFY(rig.velmard.waitForFinished(10000));
        QVERIFY(!rig.exists("SR_MATR") && !rig.exists("SR_START"));
        QCOMPARE(rig.read("FINESCO"), "finesco"_ba);
        QCOMPARE(rig.read("SR_DATI"), kReceipt);
        QVERIFY(rig.documents(u"receipt"_s).isEmpty());
        QCOMPARE(rig.velmard.exitStatus(), fatal ? QProcess::CrashExit : QProcess::NormalExit);
        if (!fatal) {
            QCOMPARE(rig.velmard.exitCode(), 0);
            QCOMPARE(rig.setting("VMCHKSCO.TXT"),
                     " 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n" + matricola + "\r\n3500\r\n");
        }
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

        QVERIFY(rig.velmard.waitForFinished(20000));
        QVERIFY(!rig.exists("SR_ERR"));
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
