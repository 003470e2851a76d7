// The trace of a job or dump: names in local time, line stamps in UTC, when
// lines are written, and where the files go. (LOGFILE.TXT is shown with the
// deletions that write it, in tst_channelfiles.)

#include "app/ProgramFixture.h"
#include "common/VirtualRuntime.h"
#include "jobs/TraceLog.h"

#include <ctime>
#include <QTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

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
    TraceLog trace{rt, panel, job};
};

} // namespace

class TestTraceLog : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
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
        QCOMPARE(readAll(f.path(path)), stamp + " --> 1T\r\n");
    }

    // Two traces within one second: the second replaces the first.
    void sameSecondReplaces() {
        TraceFixture f;
        f.trace1(" --> A");
        f.rt.sleepBlind(600);
        f.trace1(" --> B");
        QCOMPARE(f.entries(u"TRACE_202612"_s), QStringList{u"TRACE_20261206_091500.TXT"_s});
        QCOMPARE(readAll(f.path(u"TRACE_202612/TRACE_20261206_091500.TXT"_s)),
                 "20261206_081500.600 <-->  --> B\r\n"_ba);
    }

    // Lines are written only while tracing is ticked and a file is open. When
    // the trace folder cannot be made the trace goes into the data directory.
    void whenLinesAreWritten() {
        TraceFixture f;
        writeAll(f.path(u"TRACE_202612"_s), "a file in the way");
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
        QCOMPARE(readAll(f.path(u"TRACE_20261206_091500.TXT"_s)),
                 "20261206_081500.000 <-->  --> A\r\n20261206_081500.000 <-->  --> C\r\n"_ba);
        QCOMPARE(readAll(f.path(u"TRACE_202612"_s)), "a file in the way"_ba);
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
            QVERIFY(readAll(folder.filePath(files.first())).contains(" <-->  --> KK"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTraceLog)
#include "tst_tracelog.moc"
