// The channel files: their names, the end-of-job rules, the error file, and
// deletions that the host blocks (retried every 500 ms, 20 failures per call,
// then logged and skipped).
//
// A deletion is made to fail, even for root, by a non-empty folder standing
// where the file should be.

#include "app/ProgramFixture.h"
#include "common/VirtualRuntime.h"
#include "jobs/ChannelFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

struct FilesFixture {
    FilesFixture() {
        job.DataDir = dir.path();
        job.iCurrentCom = 1;
    }
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    void put(const QString& name, const QByteArray& bytes = "x") { writeAll(path(name), bytes); }
    // A folder with a file inside where `name` should be: deleting it fails.
    void block(const QString& name) {
        QDir(dir.path()).mkpath(name);
        writeAll(QDir(path(name)).filePath(QStringLiteral("aperto")), "x");
    }
    void unblock(const QString& name, bool leaveFile) {
        QDir(path(name)).removeRecursively();
        if (leaveFile) {
            put(name);
        }
    }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
    bool blocked(const QString& name) const { return QFileInfo(path(name)).isDir(); }
    QByteArray log() const { return readAll(path(QStringLiteral("LOGFILE.TXT"))); }
    QByteArray logLine(const char* message, const QTime& at) const {
        const QDate day = rt.currentDateTime().date();
        return QLocale::system().toString(day, QLocale::ShortFormat).toLatin1() + ' ' +
               at.toString(QStringLiteral("HH:mm:ss")).toLatin1() + ' ' + message + "\r\n";
    }
    int elapsedMs() const { return static_cast<int>(rt.nowUs() / 1000); }

    QTemporaryDir dir;
    VirtualRuntime rt; // starts on 6 December 2026 at 09:15 local time
    OperatorPanel panel;
    JobState job;
    TraceLog trace{rt, panel, job};
    ChannelFiles files{rt, job, trace};
};

enum class Kill { Err, Out, Dati, Start };

void run(ChannelFiles& files, Kill kill) {
    switch (kill) {
    case Kill::Err:
        files.SubKillErrFile();
        break;
    case Kill::Out:
        files.SubKillFileOut();
        break;
    case Kill::Dati:
        files.SubKillDatiFile();
        break;
    case Kill::Start:
        files.SubKillStartFile();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Kill)

class TestChannelFiles : public QObject {
    Q_OBJECT

private slots:
    void names_data() {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("name");
        QTest::newRow("start 1") << QByteArray("SR_START") << 1 << "SR_START.001";
        QTest::newRow("data 2") << QByteArray("SR_DATI") << 2 << "SR_DATI.002";
        QTest::newRow("error 3") << QByteArray("SR_ERR") << 3 << "SR_ERR.003";
        QTest::newRow("output 4") << QByteArray("SR_OUT") << 4 << "SR_OUT.004";
        QTest::newRow("identity 1") << QByteArray("SR_MATR") << 1 << "SR_MATR.001";
        QTest::newRow("end marker 4") << QByteArray("FINESCO") << 4 << "FINESCO.004";
    }
    void names() {
        QFETCH(QByteArray, base);
        QFETCH(int, channel);
        QFETCH(QString, name);
        FilesFixture f;
        QCOMPARE(ChannelFiles::name(base.constData(), channel), name);
        QCOMPARE(f.files.path(base.constData(), channel), f.dir.path() + QLatin1Char('/') + name);
        QVERIFY(!f.files.exists(base.constData(), channel));
        f.put(name);
        QVERIFY(f.files.exists(base.constData(), channel));
    }

    // Each deletion takes the file of the current channel only, if present.
    void subKill_data() {
        QTest::addColumn<Kill>("kill");
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("present");
        QTest::newRow("SR_ERR present") << Kill::Err << "SR_ERR" << true;
        QTest::newRow("SR_ERR absent") << Kill::Err << "SR_ERR" << false;
        QTest::newRow("SR_OUT present") << Kill::Out << "SR_OUT" << true;
        QTest::newRow("SR_OUT absent") << Kill::Out << "SR_OUT" << false;
        QTest::newRow("SR_DATI present") << Kill::Dati << "SR_DATI" << true;
        QTest::newRow("SR_DATI absent") << Kill::Dati << "SR_DATI" << false;
    }
    void subKill() {
        QFETCH(Kill, kill);
        QFETCH(QString, base);
        QFETCH(bool, present);
        FilesFixture f;
        f.job.iCurrentCom = 3;
        const QString mine = base + QStringLiteral(".003");
        if (present) {
            f.put(mine);
        }
        for (const QString& other : {base + QStringLiteral(".001"), base + QStringLiteral(".004"),
                                     QStringLiteral("SR_START.003")}) {
            f.put(other);
        }
        run(f.files, kill);
        QVERIFY(!f.exists(mine));
        QVERIFY(f.exists(base + QStringLiteral(".001")));
        QVERIFY(f.exists(base + QStringLiteral(".004")));
        QVERIFY(f.exists(QStringLiteral("SR_START.003")));
        QCOMPARE(f.elapsedMs(), 0);
        QVERIFY(!f.exists(QStringLiteral("LOGFILE.TXT")));
    }

    // The end of every job: the start file goes, and the end marker comes
    // only when no error file is there.
    void subKillStartFile_data() {
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QByteArray>("oldMarker"); // null: none
        QTest::addColumn<QByteArray>("marker");    // null: none after the call
        QTest::newRow("success") << true << false << QByteArray() << QByteArray("finesco");
        QTest::newRow("error file") << true << true << QByteArray() << QByteArray();
        QTest::newRow("old marker replaced")
            << true << false << QByteArray("finesco di prima, molto lungo\r\n")
            << QByteArray("finesco");
        QTest::newRow("no start file: nothing") << false << false << QByteArray() << QByteArray();
        QTest::newRow("no start file, old marker kept")
            << false << false << QByteArray("vecchio") << QByteArray("vecchio");
    }
    void subKillStartFile() {
        QFETCH(bool, start);
        QFETCH(bool, error);
        QFETCH(QByteArray, oldMarker);
        QFETCH(QByteArray, marker);
        FilesFixture f;
        f.job.iCurrentCom = 2;
        if (start) {
            f.put(QStringLiteral("SR_START.002"));
        }
        if (error) {
            f.put(QStringLiteral("SR_ERR.002"), "E999\r\n");
        }
        if (!oldMarker.isNull()) {
            f.put(QStringLiteral("FINESCO.002"), oldMarker);
        }
        f.put(QStringLiteral("SR_START.001"));
        f.files.SubKillStartFile();
        QVERIFY(!f.exists(QStringLiteral("SR_START.002")));
        QVERIFY(f.exists(QStringLiteral("SR_START.001")));
        QCOMPARE(f.exists(QStringLiteral("SR_ERR.002")), error);
        QCOMPARE(f.exists(QStringLiteral("FINESCO.002")), !marker.isNull());
        if (!marker.isNull()) {
            QCOMPARE(readAll(f.path(QStringLiteral("FINESCO.002"))), marker);
        }
        QVERIFY(!f.exists(QStringLiteral("FINESCO.001")));
        QCOMPARE(f.elapsedMs(), 0);
        // Nothing but the channel files (no temporary left behind).
        QDir dir(f.dir.path());
        for (const QString& name :
             dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            QVERIFY2(name.startsWith(QLatin1String("SR_")) || name == QLatin1String("FINESCO.002"),
                     qPrintable(name));
        }
    }

    // One line, the text and CR LF, whatever the file held before.
    void writeErrFile_data() {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("new file")
            << QByteArray()
            << QByteArray("E506: Trasmissione non avvenuta: file di input non presente");
        QTest::newRow("longer text replaced")
            << QByteArray("E502: Nessuna porta di comunicazione disponibile\r\nseconda riga\r\n")
            << QByteArray("E1");
        QTest::newRow("8-bit text") << QByteArray("x") << QByteArray("Errore: quantit\xE0 errata");
        QTest::newRow("empty text") << QByteArray("E1\r\n") << QByteArray("");
    }
    void writeErrFile() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, message);
        FilesFixture f;
        f.job.iCurrentCom = 1; // the channel is the argument's, not the current one
        if (!before.isNull()) {
            f.put(QStringLiteral("SR_ERR.004"), before);
        }
        f.files.WriteErrFile(message, 4);
        QCOMPARE(readAll(f.path(QStringLiteral("SR_ERR.004"))), message + "\r\n");
        QVERIFY(!f.exists(QStringLiteral("SR_ERR.001")));
    }

    // A file the host keeps blocked: 20 failures, 19 pauses of 500 ms between
    // them, one line in LOGFILE.TXT, and the call goes on.
    void blockedDeletion_data() {
        QTest::addColumn<Kill>("kill");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("SR_ERR") << Kill::Err << "SR_ERR.001"
                                << QByteArray("Errore nella Kill di SR_ERR");
        QTest::newRow("SR_OUT") << Kill::Out << "SR_OUT.001"
                                << QByteArray("Errore nella Kill di SR_OUT");
        QTest::newRow("SR_DATI") << Kill::Dati << "SR_DATI.001"
                                 << QByteArray("Errore nella Kill di SR_DATI");
        QTest::newRow("SR_START") << Kill::Start << "SR_START.001"
                                  << QByteArray("Errore nella Kill di SR_START");
    }
    void blockedDeletion() {
        QFETCH(Kill, kill);
        QFETCH(QString, file);
        QFETCH(QByteArray, message);
        FilesFixture f;
        f.block(file);
        run(f.files, kill);
        QCOMPARE(f.elapsedMs(), 19 * 500);
        QVERIFY(f.blocked(file)); // skipped, not forced
        QCOMPARE(f.log(), f.logLine(message.constData(), QTime(9, 15, 9)));
        if (kill == Kill::Start) {
            // After the skipped step the call goes on: no error file, so the marker.
            QCOMPARE(readAll(f.path(QStringLiteral("FINESCO.001"))), QByteArray("finesco"));
        }
    }

    // A file released while the call waits is deleted at the next attempt.
    void releasedWhileWaiting_data() {
        QTest::addColumn<Kill>("kill");
        QTest::addColumn<QString>("file");
        QTest::newRow("SR_ERR") << Kill::Err << "SR_ERR.001";
        QTest::newRow("SR_OUT") << Kill::Out << "SR_OUT.001";
        QTest::newRow("SR_DATI") << Kill::Dati << "SR_DATI.001";
        QTest::newRow("SR_START") << Kill::Start << "SR_START.001";
    }
    void releasedWhileWaiting() {
        QFETCH(Kill, kill);
        QFETCH(QString, file);
        FilesFixture f;
        f.block(file);
        // Failures at 0, 500 and 1000 ms; the host lets go at 1200 ms.
        f.rt.scheduleAtUs(1'200'000, [&f, file] { f.unblock(file, true); });
        run(f.files, kill);
        QCOMPARE(f.elapsedMs(), 1500);
        QVERIFY(!f.exists(file));
        QVERIFY(!f.exists(QStringLiteral("LOGFILE.TXT")));
    }

    // SubKillStartFile has one budget for both of its steps: failures on the
    // start file count against the end marker's too.
    void startFileBudgetShared() {
        FilesFixture f;
        f.block(QStringLiteral("SR_START.001"));
        f.block(QStringLiteral("FINESCO.001"));
        // Five failures on the start file (0 to 2000 ms), then it goes.
        f.rt.scheduleAtUs(2'200'000, [&f] { f.unblock(QStringLiteral("SR_START.001"), false); });
        f.files.SubKillStartFile();
        QVERIFY(!f.exists(QStringLiteral("SR_START.001")));
        QVERIFY(f.blocked(QStringLiteral("FINESCO.001")));
        QCOMPARE(f.elapsedMs(), 19 * 500); // not 2500 + 9500
        QCOMPARE(f.log(), f.logLine("Errore nella Kill di SR_START", QTime(9, 15, 9)));
    }

    // Both steps blocked: no more pauses once the budget is spent.
    void startFileBothBlocked() {
        FilesFixture f;
        f.block(QStringLiteral("SR_START.001"));
        f.block(QStringLiteral("FINESCO.001"));
        f.files.SubKillStartFile();
        QCOMPARE(f.elapsedMs(), 19 * 500);
        const QList<QByteArray> lines = f.log().split('\n');
        QVERIFY(f.log().startsWith(f.logLine("Errore nella Kill di SR_START", QTime(9, 15, 9))));
        for (const QByteArray& line : lines) {
            QVERIFY(line.isEmpty() || line.endsWith(" Errore nella Kill di SR_START\r"));
        }
    }

    // Every call has a budget of its own.
    void budgetPerCall() {
        FilesFixture f;
        f.block(QStringLiteral("SR_OUT.001"));
        f.files.SubKillFileOut();
        f.files.SubKillFileOut();
        QCOMPARE(f.elapsedMs(), 2 * 19 * 500);
        QCOMPARE(f.log(), f.logLine("Errore nella Kill di SR_OUT", QTime(9, 15, 9)) +
                              f.logLine("Errore nella Kill di SR_OUT", QTime(9, 15, 19)));
    }

    void verifyExistenceAndKill_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("present");
        QTest::newRow("leading backslash") << "\\SR_OUT.002" << true;
        QTest::newRow("plain name") << "SR_OUT.002" << true;
        QTest::newRow("absent, leading backslash") << "\\SR_OUT.002" << false;
        QTest::newRow("absent, plain name") << "SR_OUT.002" << false;
    }
    void verifyExistenceAndKill() {
        QFETCH(QString, argument);
        QFETCH(bool, present);
        FilesFixture f;
        if (present) {
            f.put(QStringLiteral("SR_OUT.002"));
        }
        f.put(QStringLiteral("SR_OUT.001"));
        f.put(QStringLiteral("SR_ERR.002"));
        f.files.VerifyExistenceAndKill(argument);
        QVERIFY(!f.exists(QStringLiteral("SR_OUT.002")));
        QVERIFY(f.exists(QStringLiteral("SR_OUT.001")));
        QVERIFY(f.exists(QStringLiteral("SR_ERR.002")));
    }

    // The plain deletion does not retry.
    void verifyExistenceAndKillDoesNotWait() {
        FilesFixture f;
        f.block(QStringLiteral("FINESCO.003"));
        f.files.VerifyExistenceAndKill(QStringLiteral("\\FINESCO.003"));
        QCOMPARE(f.elapsedMs(), 0);
        QVERIFY(!f.exists(QStringLiteral("LOGFILE.TXT")));
    }
};

QTEST_GUILESS_MAIN(TestChannelFiles)
#include "tst_channelfiles.moc"
