// The channel files: the end-of-job rules, the error file, and deletions that
// the host blocks (retried every 500 ms, 20 failures per call, then logged in
// LOGFILE.TXT and skipped). And the trace of a job or dump: names in local
// time, line stamps in UTC, when lines are written, and where the files go.
//
// A deletion is made to fail, even for root, by a non-empty folder standing
// where the file should be.

#include "app/ProgramFixture.h"
#include "channel/ChannelFiles.h"
#include "channel/TraceLog.h"
#include "common/VirtualRuntime.h"

#include <ctime>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// A deletion of ChannelFiles; null stands for VerifyExistenceAndKill("\<file>").
using Kill = void (ChannelFiles::*)();
// What stands where the file should be; Freed: blocked until 1200 ms, then a file.
enum class Setup { Absent, File, Blocked, Freed };

struct FilesFixture {
    FilesFixture() {
        job.DataDir = dir.path();
        job.iCurrentCom = 3;
    }
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    void put(const QString& name, const QByteArray& bytes = "x") { writeFile(path(name), bytes); }
    void block(const QString& name) {
        QDir(dir.path()).mkpath(name);
        put(name + u"/aperto"_s);
    }
    // The host lets go: the folder goes and a plain file is left in its place.
    void freeAt(int ms, const QString& name) {
        rt.scheduleAtUs(ms * 1000LL, [this, name] {
            QDir(path(name)).removeRecursively();
            put(name);
        });
    }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
    QByteArray log() const { return readFile(path(u"LOGFILE.TXT"_s)); }
    // The local short date and time of the virtual clock, then the message.
    QByteArray logLine(const QByteArray& message, const QTime& at) const {
        const QDate day = rt.currentDateTime().date();
        return QLocale::system().toString(day, QLocale::ShortFormat).toLatin1() + ' ' +
               at.toString(u"HH:mm:ss"_s).toLatin1() + ' ' + message + "\r\n";
    }
    int elapsedMs() const { return static_cast<int>(rt.nowUs() / 1000); }
    void run(Kill kill, const QString& file) {
        kill ? (files.*kill)() : files.VerifyExistenceAndKill(QLatin1Char('\\') + file);
    }

    QTemporaryDir dir;
    VirtualRuntime rt; // starts on 6 December 2026 at 09:15 local time
    OperatorPanel panel;
    JobState job;
    TraceLog trace{rt, [this] { return panel.chbTrace.value() == 1; }, job};
    ChannelFiles files{rt, job, trace};
};

QDateTime local(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::LocalTime);
}

// A trace log on the virtual clock, started at a local time, tracing ticked.
struct TraceFixture {
    explicit TraceFixture(const QDateTime& start = local(2026, 12, 6, 9, 15, 0)) : rt(start) {
        job.DataDir = dir.path();
        panel.chbTrace.setValue(1);
    }
    QString path(const QString& relative) const { return QDir(dir.path()).filePath(relative); }
    QStringList entries(const QString& folder = {}) const {
        return QDir(path(folder))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }
    // Opens a trace, writes one line, closes it.
    void trace1(const QByteArray& payload) {
        trace.openTrace();
        trace.line(payload);
        trace.closeTrace();
    }

    QTemporaryDir dir;
    VirtualRuntime rt;
    OperatorPanel panel;
    JobState job;
    TraceLog trace{rt, [this] { return panel.chbTrace.value() == 1; }, job};
};

} // namespace

Q_DECLARE_METATYPE(Kill)
Q_DECLARE_METATYPE(Setup)

class TestTraceLog : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    // Each deletion takes the file of the current channel (3) only. A blocked
    // one: 20 failures, 19 pauses of 500 ms, one line in LOGFILE.TXT, and the
    // call goes on; freed while the call waits, it goes at the next attempt.
    // The plain deletion never waits. Every call has a budget of its own: each
    // case runs twice.
    void deletion_data() {
        QTest::addColumn<Kill>("kill");
        QTest::addColumn<QString>("base");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<bool>("logs"); // "Errore nella Kill di <base>", once per call
        const Kill err = &ChannelFiles::SubKillErrFile, out = &ChannelFiles::SubKillFileOut,
                   dati = &ChannelFiles::SubKillDatiFile, start = &ChannelFiles::SubKillStartFile,
                   verify = nullptr;
        QTest::newRow("SR_OUT") << out << "SR_OUT" << Setup::File << 0 << false;
        QTest::newRow("SR_OUT absent") << out << "SR_OUT" << Setup::Absent << 0 << false;
        QTest::newRow("verify, leading backslash")
            << verify << "SR_OUT" << Setup::File << 0 << false;
        QTest::newRow("SR_ERR blocked") << err << "SR_ERR" << Setup::Blocked << 19000 << true;
        QTest::newRow("SR_OUT blocked") << out << "SR_OUT" << Setup::Blocked << 19000 << true;
        QTest::newRow("SR_DATI blocked") << dati << "SR_DATI" << Setup::Blocked << 19000 << true;
        QTest::newRow("SR_START blocked") << start << "SR_START" << Setup::Blocked << 19000 << true;
        // Failures at 0, 500 and 1000 ms, freed at 1200 ms.
        QTest::newRow("SR_OUT freed") << out << "SR_OUT" << Setup::Freed << 1500 << false;
        QTest::newRow("SR_START freed") << start << "SR_START" << Setup::Freed << 1500 << false;
        QTest::newRow("verify blocked: no retry")
            << verify << "FINESCO" << Setup::Blocked << 0 << false;
    }
    void deletion() {
        QFETCH(Kill, kill);
        QFETCH(QString, base);
        QFETCH(Setup, setup);
        QFETCH(int, elapsedMs);
        QFETCH(bool, logs);
        FilesFixture f;
        const QString mine = base + u".003"_s;
        const QStringList others{base + u".001"_s, base + u".004"_s};
        for (const QString& other : others) {
            f.put(other);
        }
        if (setup == Setup::File) {
            f.put(mine);
        } else if (setup != Setup::Absent) {
            f.block(mine);
        }
        if (setup == Setup::Freed) {
            f.freeAt(1200, mine);
        }
        f.run(kill, mine);
        f.run(kill, mine);
        QCOMPARE(f.elapsedMs(), elapsedMs);
        QCOMPARE(f.exists(mine), setup == Setup::Blocked); // skipped, not forced
        QVERIFY(f.exists(others[0]) && f.exists(others[1]));
        const QByteArray logged = "Errore nella Kill di " + base.toLatin1();
        QCOMPARE(f.log(),
                 logs ? f.logLine(logged, QTime(9, 15, 9)) + f.logLine(logged, QTime(9, 15, 19))
                      : QByteArray());
        if (kill == &ChannelFiles::SubKillStartFile) { // no error file, so the end marker
            QCOMPARE(readFile(f.path(u"FINESCO.003"_s)), "finesco"_ba);
        }
    }

    // The end of every job: the start file goes, and the end marker, seven
    // bytes, comes only when no error file is there.
    void subKillStartFile_data() {
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QByteArray>("oldMarker"); // null: none
        QTest::addColumn<QByteArray>("marker");    // null: none after the call
        QTest::newRow("success, old marker replaced")
            << true << false << "finesco di prima, molto lungo\r\n"_ba
            << "finesco"_ba;
        QTest::newRow("error file") << true << true << QByteArray() << QByteArray();
        QTest::newRow("no start file: nothing") << false << false << "vecchio"_ba
                                                << "vecchio"_ba;
    }
    void subKillStartFile() {
        QFETCH(bool, start);
        QFETCH(bool, error);
        QFETCH(QByteArray, oldMarker);
        QFETCH(QByteArray, marker);
        FilesFixture f;
        f.put(u"SR_START.001"_s);
        if (start) {
            f.put(u"SR_START.003"_s);
        }
        if (error) {
            f.put(u"SR_ERR.003"_s, "E999\r\n");
        }
        if (!oldMarker.isNull()) {
            f.put(u"FINESCO.003"_s, oldMarker);
        }
        f.files.SubKillStartFile();
        QVERIFY(!f.exists(u"SR_START.003"_s) && f.exists(u"SR_START.001"_s));
        QCOMPARE(f.exists(u"SR_ERR.003"_s), error);
        QCOMPARE(readFile(f.path(u"FINESCO.003"_s)), marker);
        QCOMPARE(f.elapsedMs(), 0);
    }

    // One line, the text and CR LF, replacing what the file held; the channel
    // is the argument's, not the current one.
    void writeErrFile() {
        FilesFixture f;
        const QByteArray e506 = "E506: Trasmissione non avvenuta: file di input non presente"_ba;
        f.files.WriteErrFile(e506, 4);
        QCOMPARE(readFile(f.path(u"SR_ERR.004"_s)), e506 + "\r\n");
        f.files.WriteErrFile("E1", 4);
        QCOMPARE(readFile(f.path(u"SR_ERR.004"_s)), "E1\r\n"_ba);
        QVERIFY(!f.exists(u"SR_ERR.003"_s));
    }

    // SubKillStartFile has one budget for both of its steps: failures on the
    // start file count against the end marker's too, and once it is spent no
    // step waits any more.
    void startFileBudgetShared_data() {
        QTest::addColumn<bool>("freed");
        QTest::newRow("start file freed after 5 failures") << true;
        QTest::newRow("both blocked") << false;
    }
    void startFileBudgetShared() {
        QFETCH(bool, freed);
        FilesFixture f;
        f.block(u"SR_START.003"_s);
        f.block(u"FINESCO.003"_s);
        if (freed) {
            f.freeAt(2200, u"SR_START.003"_s);
        }
        f.files.SubKillStartFile();
        QCOMPARE(f.elapsedMs(), 19 * 500); // not 2500 + 9500
        QCOMPARE(f.exists(u"SR_START.003"_s), !freed);
        QVERIFY(QFileInfo(f.path(u"FINESCO.003"_s)).isDir());
        QVERIFY(f.log().startsWith(f.logLine("Errore nella Kill di SR_START", QTime(9, 15, 9))));
    }

    void initTestCase() {
        // East of UTC: one hour in winter, two in summer.
        qputenv("TZ", "Europe/Rome");
        tzset();
        isolateUserFolders(home_.path());
    }

    // Folder and file named (local time) when the trace opens; the line
    // written 800 ms later, stamped in UTC.
    void namesAndStamps_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QDateTime>("opened");
        QTest::addColumn<QByteArray>("stamp");
        QTest::newRow("new year, local ahead of UTC")
            << "TRACE_202701/TRACE_20270101_003000.TXT" << local(2027, 1, 1, 0, 30, 0)
            << "20261231_233000.800 <--> "_ba;
        QTest::newRow("winter morning")
            << "TRACE_202112/TRACE_20211220_093015.TXT" << local(2021, 12, 20, 9, 30, 15)
            << "20211220_083015.800 <--> "_ba;
        QTest::newRow("summer evening, two hours")
            << "TRACE_202607/TRACE_20260701_210507.TXT" << local(2026, 7, 1, 21, 5, 7)
            << "20260701_190507.800 <--> "_ba;
        QTest::newRow("the year turns while the trace is open")
            << "TRACE_202612/TRACE_20261231_235959.TXT" << local(2026, 12, 31, 23, 59, 59, 500)
            << "20261231_230000.300 <--> "_ba;
    }
    void namesAndStamps() {
        QFETCH(QString, path);
        QFETCH(QDateTime, opened);
        QFETCH(QByteArray, stamp);
        TraceFixture f(opened);
        f.trace.openTrace();
        f.rt.sleepBlind(800);
        f.trace.line(" --> 1T");
        f.trace.closeTrace();
        const QString folder = path.section(QLatin1Char('/'), 0, 0);
        QCOMPARE(f.entries(), QStringList{folder});
        QCOMPARE(folder + QLatin1Char('/') + f.entries(folder).join(QLatin1Char(',')), path);
        QCOMPARE(readFile(f.path(path)), stamp + " --> 1T\r\n");
    }

    // Two traces within one second: the second replaces the first.
    void sameSecondReplaces() {
        TraceFixture f;
        f.trace1(" --> A");
        f.rt.sleepBlind(600);
        f.trace1(" --> B");
        QCOMPARE(f.entries(u"TRACE_202612"_s), QStringList{u"TRACE_20261206_091500.TXT"_s});
        QCOMPARE(readFile(f.path(u"TRACE_202612/TRACE_20261206_091500.TXT"_s)),
                 "20261206_081500.600 <-->  --> B\r\n"_ba);
    }

    // Lines are written only while tracing is ticked and a file is open. When
    // the trace folder cannot be made the trace goes into the data directory.
    void whenLinesAreWritten() {
        TraceFixture f;
        writeFile(f.path(u"TRACE_202612"_s), "a file in the way");
        f.trace.line(" --> before open");
        QCOMPARE(f.entries(), QStringList{u"TRACE_202612"_s}); // nothing made without an open file
        f.trace.openTrace();
        f.trace.line(" --> A");
        f.panel.chbTrace.setValue(0);
        f.trace.line(" --> unticked");
        f.panel.chbTrace.setValue(1);
        f.trace.line(" --> C");
        f.trace.closeTrace();
        f.trace.line(" --> after close");
        QCOMPARE(readFile(f.path(u"TRACE_20261206_091500.TXT"_s)),
                 "20261206_081500.000 <-->  --> A\r\n20261206_081500.000 <-->  --> C\r\n"_ba);
        QCOMPARE(readFile(f.path(u"TRACE_202612"_s)), "a file in the way"_ba);
    }

    // The whole program: a dump request with tracing off makes no trace
    // folder; with tracing on it traces what it sent.
    void programTracesOnlyWhenTicked_data() {
        QTest::addColumn<int>("tracing");
        QTest::newRow("off") << 0;
        QTest::newRow("on") << 1;
    }
    void programTracesOnlyWhenTicked() {
        QFETCH(int, tracing);
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, "1000\r\n");
        f.setting(SettingsFiles::kOptions,
                  "5\r\n30\r\n" + QByteArray::number(tracing) + "\r\n0\r\n");
        QVERIFY(f.start());
        f.rt.runUntilUs(6'000'000); // the first poll tick asks channel 1 for its dump
        QVERIFY(f.serial.written.startsWith("KK")); // the dump request was sent
        const QDir data(f.engine.job.DataDir);
        const QStringList folders = data.entryList({u"TRACE_*"_s}, QDir::AllEntries);
        QCOMPARE(folders.size(), tracing);
        if (tracing == 1) {
            const QDir folder(data.filePath(folders.first()));
            const QStringList files = folder.entryList(QDir::Files);
            QVERIFY(!files.isEmpty());
            QVERIFY(readFile(folder.filePath(files.first())).contains(" <-->  --> KK"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTraceLog)
#include "tst_tracelog.moc"
