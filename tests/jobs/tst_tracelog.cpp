// The trace of a job or dump and LOGFILE.TXT: names in local time, line
// stamps in UTC, when lines are written, and where the files go.

#include "app/ProgramFixture.h"
#include "common/VirtualRuntime.h"
#include "jobs/TraceLog.h"

#include <ctime>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

// A trace log on the virtual clock, started at a local time.
struct TraceFixture {
    explicit TraceFixture(const QDateTime& start) : rt(start) {
        job.DataDir = dir.path();
        panel.chbTrace.setValue(1);
    }
    QString path(const QString& relative) const { return QDir(dir.path()).filePath(relative); }
    QStringList entries(const QString& folder = {}) const {
        return QDir(folder.isEmpty() ? dir.path() : folder)
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir dir;
    VirtualRuntime rt;
    OperatorPanel panel;
    JobState job;
    TraceLog trace{rt, panel, job};
};

QDateTime local(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
}

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

    void namesAndStamps_data() {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("stamp"); // UTC, 42 ms after the file was made
        QTest::newRow("new year, local ahead of UTC")
            << local(2027, 1, 1, 0, 30, 0) << "TRACE_202701"
            << "TRACE_20270101_003000.TXT" << QByteArray("20261231_233000.042 <--> ");
        QTest::newRow("winter morning")
            << local(2021, 12, 20, 9, 30, 15) << "TRACE_202112"
            << "TRACE_20211220_093015.TXT" << QByteArray("20211220_083015.042 <--> ");
        QTest::newRow("summer time, two hours")
            << local(2026, 7, 1, 1, 15, 0) << "TRACE_202607"
            << "TRACE_20260701_011500.TXT" << QByteArray("20260630_231500.042 <--> ");
        QTest::newRow("24-hour clock")
            << local(2026, 12, 6, 21, 5, 7) << "TRACE_202612"
            << "TRACE_20261206_210507.TXT" << QByteArray("20261206_200507.042 <--> ");
        QTest::newRow("first of March")
            << local(2027, 3, 1, 0, 59, 59) << "TRACE_202703"
            << "TRACE_20270301_005959.TXT" << QByteArray("20270228_235959.042 <--> ");
    }
    void namesAndStamps() {
        QFETCH(QDateTime, start);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QByteArray, stamp);
        TraceFixture f(start);
        f.trace.openTrace();
        QVERIFY(f.trace.isOpen());
        QCOMPARE(f.entries(), QStringList{folder});
        QCOMPARE(f.entries(f.path(folder)), QStringList{file});
        QCOMPARE(QDir::cleanPath(f.trace.fileName()), QDir::cleanPath(f.path(folder + "/" + file)));

        f.rt.sleepBlind(42);
        QCOMPARE(f.trace.CurrDateTime(), stamp);
        f.trace.line(" --> 1T");
        f.trace.line(" <-- 1T , 2");
        f.trace.closeTrace();
        QVERIFY(!f.trace.isOpen());
        QCOMPARE(readAll(f.path(folder + "/" + file)),
                 stamp + " --> 1T\r\n" + stamp + " <-- 1T , 2\r\n");
    }

    void stampCarriesMilliseconds() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.rt.sleepBlind(7);
        QCOMPARE(f.trace.CurrDateTime(), QByteArray("20261206_081500.007 <--> "));
        f.rt.sleepBlind(1993);
        QCOMPARE(f.trace.CurrDateTime(), QByteArray("20261206_081502.000 <--> "));
    }

    // The file name is taken once, when the trace is opened.
    void nameFromOpeningTime() {
        TraceFixture f(local(2026, 12, 31, 23, 59, 59));
        f.rt.sleepBlind(500);
        f.trace.openTrace();
        f.rt.sleepBlind(800); // the next year has begun meanwhile
        f.trace.line(" --> KK");
        f.trace.closeTrace();
        QCOMPARE(f.entries(), QStringList{QStringLiteral("TRACE_202612")});
        QCOMPARE(readAll(f.path(QStringLiteral("TRACE_202612/TRACE_20261231_235959.TXT"))),
                 QByteArray("20261231_230000.300 <-->  --> KK\r\n"));
    }

    // Two traces within one second: the second replaces the first.
    void sameSecondReplaces() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.trace.openTrace();
        f.trace.line(" --> PRIMO");
        f.trace.closeTrace();
        f.rt.sleepBlind(600);
        f.trace.openTrace();
        f.trace.line(" --> 2");
        f.trace.closeTrace();
        QCOMPARE(f.entries(f.path(QStringLiteral("TRACE_202612"))),
                 QStringList{QStringLiteral("TRACE_20261206_091500.TXT")});
        QCOMPARE(readAll(f.path(QStringLiteral("TRACE_202612/TRACE_20261206_091500.TXT"))),
                 QByteArray("20261206_081500.600 <-->  --> 2\r\n"));
    }

    void newFilePerSecond() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.trace.openTrace();
        f.trace.line(" --> A");
        f.trace.closeTrace();
        f.rt.sleepBlind(1000);
        f.trace.openTrace();
        f.trace.line(" --> B");
        f.trace.closeTrace();
        QCOMPARE(f.entries(f.path(QStringLiteral("TRACE_202612"))),
                 (QStringList{QStringLiteral("TRACE_20261206_091500.TXT"),
                              QStringLiteral("TRACE_20261206_091501.TXT")}));
    }

    // Lines are written only while tracing is ticked and a file is open.
    void whenLinesAreWritten() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.trace.line(" --> before open");
        QVERIFY(f.entries().isEmpty()); // nothing made without an open file
        f.trace.openTrace();
        f.trace.line(" --> A");
        f.panel.chbTrace.setValue(0);
        f.trace.line(" --> unticked");
        f.panel.chbTrace.setValue(1);
        f.trace.line(" --> C");
        f.trace.closeTrace();
        f.trace.line(" --> after close");
        QCOMPARE(readAll(f.trace.fileName()), QByteArray("20261206_081500.000 <-->  --> A\r\n"
                                                         "20261206_081500.000 <-->  --> C\r\n"));
    }

    void untickedWritesNothing() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.panel.chbTrace.setValue(0);
        f.trace.openTrace();
        f.trace.line(" --> KK");
        f.trace.closeTrace();
        QCOMPARE(readAll(f.trace.fileName()), QByteArray());
    }

    // An existing trace folder is used as it is; its other files stay.
    void existingFolder() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("TRACE_202612")));
        writeAll(f.path(QStringLiteral("TRACE_202612/TRACE_20261201_080000.TXT")), "vecchio");
        f.trace.openTrace();
        f.trace.closeTrace();
        QCOMPARE(f.entries(f.path(QStringLiteral("TRACE_202612"))),
                 (QStringList{QStringLiteral("TRACE_20261201_080000.TXT"),
                              QStringLiteral("TRACE_20261206_091500.TXT")}));
        QCOMPARE(readAll(f.path(QStringLiteral("TRACE_202612/TRACE_20261201_080000.TXT"))),
                 QByteArray("vecchio"));
    }

    // When the folder cannot be made the trace goes into the data directory.
    void folderCannotBeMade() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        writeAll(f.path(QStringLiteral("TRACE_202612")), "a file in the way");
        f.trace.openTrace();
        f.trace.line(" --> KK");
        f.trace.closeTrace();
        QCOMPARE(readAll(f.path(QStringLiteral("TRACE_20261206_091500.TXT"))),
                 QByteArray("20261206_081500.000 <-->  --> KK\r\n"));
        QCOMPARE(readAll(f.path(QStringLiteral("TRACE_202612"))), QByteArray("a file in the way"));
    }

    // LOGFILE.TXT: appended, one line per event, local date and time first.
    void logFileAppends() {
        TraceFixture f(local(2027, 1, 1, 0, 30, 0));
        writeAll(f.path(QStringLiteral("LOGFILE.TXT")), "riga precedente\r\n");
        f.trace.logLine(QStringLiteral("Errore nella Kill di SR_OUT"));
        f.rt.sleepBlind(2000);
        f.trace.logLine(QStringLiteral("Errore nella Kill di SR_ERR"));
        const QString date = QLocale::system().toString(QDate(2027, 1, 1), QLocale::ShortFormat);
        QCOMPARE(readAll(f.path(QStringLiteral("LOGFILE.TXT"))),
                 "riga precedente\r\n" + date.toLatin1() +
                     " 00:30:00 Errore nella Kill di SR_OUT\r\n" + date.toLatin1() +
                     " 00:30:02 Errore nella Kill di SR_ERR\r\n");
        // The log needs no trace and opens none.
        QVERIFY(!f.trace.isOpen());
        QCOMPARE(f.entries(), QStringList{QStringLiteral("LOGFILE.TXT")});
    }

    void logFileCreated() {
        TraceFixture f(local(2026, 12, 6, 9, 15, 0));
        f.trace.logLine(QStringLiteral("Errore nella Kill di SR_START"));
        const QByteArray log = readAll(f.path(QStringLiteral("LOGFILE.TXT")));
        QVERIFY(log.endsWith(" 09:15:00 Errore nella Kill di SR_START\r\n"));
        QCOMPARE(log.count("\r\n"), 1);
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
        const QStringList traceFolders =
            QDir(f.engine.job.DataDir).entryList({QStringLiteral("TRACE_*")}, QDir::AllEntries);
        if (tracing == 0) {
            QVERIFY2(traceFolders.isEmpty(), qPrintable(traceFolders.join(' ')));
        } else {
            QCOMPARE(traceFolders.size(), 1);
            const QDir folder(QDir(f.engine.job.DataDir).filePath(traceFolders.first()));
            const QStringList files = folder.entryList(QDir::Files);
            QVERIFY(!files.isEmpty());
            QVERIFY(readAll(folder.filePath(files.first())).contains(" <-->  --> KK"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTraceLog)
#include "tst_tracelog.moc"
