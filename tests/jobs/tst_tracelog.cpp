// The channel files: the end-of-job rules, the error file, and deletions that
// the host blocks (retried every 500 ms, 20 failures per call, then logged in
// LOGFILE.TXT and skipped). And the trace of a job or dump: names in local
// time, line stamps in UTC, when lines are written, and where the files go.
//
// A deletion is made to fail, even for root, by a non-empty folder standing
// where the file should be.

#include "app/ProgramFixture.h"
#include "common/CaseTable.h"
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

QDateTime local(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
}

// The channel files and the trace log on the virtual clock, started at a
// local time (by default 6 December 2026, 09:15), on channel 3, tracing ticked.
struct FilesFixture {
    explicit FilesFixture(const QDateTime& start = local(2026, 12, 6, 9, 15, 0)) : rt(start) {
        job.DataDir = dir.path();
        job.iCurrentCom = 3;
        panel.chbTrace.setValue(1);
    }
    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    void put(const QString& name, const QByteArray& bytes = "x") { writeFile(path(name), bytes); }
    // A deletion is made to fail by a non-empty folder in the file's place.
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
    ChannelFiles files{rt, job, trace};
};

} // namespace

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
        addCaseRows(u"jobs/deletions.txt"_s, {"kill", "base", "setup", "elapsedMs", "logs"});
    }
    void deletion() {
        QFETCH(QByteArray, kill);
        QFETCH(QByteArray, base);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, elapsedMs);
        QFETCH(QByteArray, logs);
        const QHash<QByteArray, void (ChannelFiles::*)()> kills{
            {"SubKillErrFile", &ChannelFiles::SubKillErrFile},
            {"SubKillFileOut", &ChannelFiles::SubKillFileOut},
            {"SubKillDatiFile", &ChannelFiles::SubKillDatiFile},
            {"SubKillStartFile", &ChannelFiles::SubKillStartFile}};
        QVERIFY2(kill == "verify" || kills.contains(kill), kill.constData());
        FilesFixture f;
        const QString mine = QString::fromLatin1(base) + u".003"_s;
        const QStringList others{QString::fromLatin1(base) + u".001"_s,
                                 QString::fromLatin1(base) + u".004"_s};
        for (const QString& other : others) {
            f.put(other);
        }
        if (setup == "file") {
            f.put(mine);
        } else if (setup != "absent") {
            f.block(mine);
        }
        if (setup == "freed") {
            f.freeAt(1200, mine);
        }
        for (int call = 0; call < 2; ++call) {
            kill == "verify" ? f.files.VerifyExistenceAndKill(QLatin1Char('\\') + mine)
                             : (f.files.*kills.value(kill))();
        }
        QCOMPARE(f.elapsedMs(), elapsedMs.toInt());
        QCOMPARE(f.exists(mine), setup == "blocked"); // skipped, not forced
        QVERIFY(f.exists(others[0]) && f.exists(others[1]));
        const QByteArray logged = "Errore nella Kill di " + base;
        QCOMPARE(f.log(),
                 logs == "1" ? f.logLine(logged, QTime(9, 15, 9)) + f.logLine(logged, QTime(9, 15, 19))
                      : QByteArray());
        if (kill == "SubKillStartFile") { // no error file, so the end marker
            QCOMPARE(readFile(f.path(u"FINESCO.003"_s)), "finesco"_ba);
        }
    }

    // The end of every job: the start file goes, and the end marker, seven
    // bytes, comes only when no error file is there.
    void subKillStartFile_data() {
        addCaseRows(u"jobs/endofjob.txt"_s, {"start", "error", "oldMarker", "marker"});
    }
    void subKillStartFile() {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, error);
        QFETCH(QByteArray, oldMarker);
        QFETCH(QByteArray, marker);
        FilesFixture f;
        f.put(u"SR_START.001"_s);
        if (start == "1") {
            f.put(u"SR_START.003"_s);
        }
        if (error == "1") {
            f.put(u"SR_ERR.003"_s, "E999\r\n");
        }
        if (!oldMarker.isNull()) {
            f.put(u"FINESCO.003"_s, oldMarker);
        }
        f.files.SubKillStartFile();
        QVERIFY(!f.exists(u"SR_START.003"_s) && f.exists(u"SR_START.001"_s));
        QCOMPARE(f.exists(u"SR_ERR.003"_s), error == "1");
        QCOMPARE(readFile(f.path(u"FINESCO.003"_s)), marker);
        QCOMPARE(f.elapsedMs(), 0);
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
        addCaseRows(u"jobs/tracenames.txt"_s, {"opened", "path", "stamp"});
    }
    void namesAndStamps() {
        QFETCH(QByteArray, opened);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, stamp);
        FilesFixture f(QDateTime::fromString(QString::fromLatin1(opened), Qt::ISODateWithMs));
        f.trace.openTrace();
        f.rt.sleepBlind(800);
        f.trace.line(" --> 1T");
        f.trace.closeTrace();
        const QString folder = QString::fromLatin1(path.split('/').first());
        QCOMPARE(f.entries(), QStringList{folder});
        QCOMPARE(folder + QLatin1Char('/') + f.entries(folder).join(QLatin1Char(',')),
                 QString::fromLatin1(path));
        QCOMPARE(readFile(f.path(QString::fromLatin1(path))), stamp + " --> 1T\r\n");
    }

    // Two traces within one second: the second replaces the first.
    void sameSecondReplaces() {
        FilesFixture f;
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
        FilesFixture f;
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
};

QTEST_GUILESS_MAIN(TestTraceLog)
#include "tst_tracelog.moc"
