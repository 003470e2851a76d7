// velmar-convert as an integrator runs it: arguments, exit status, standard
// output and standard error.

#include "common/CaseTable.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QStringList& args, const QString& program = binDir() + u"/velmar-convert"_s) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        qFatal("velmar-convert did not finish");
    }
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
               p.readAllStandardOutput(), p.readAllStandardError()};
}

// Writes a receipt into `dir`; returns its path.
QString receiptFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    if (!writeFile(path, bytes)) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

} // namespace

class TestVelmarConvert : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void helpExplainsWithAnExample() {
        const Run r = run({u"--help"_s});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: velmar-convert"));
        QVERIFY(r.out.contains("Example"));
        QVERIFY(r.out.contains("Exit status"));
    }

    void convertsToTheBytesOfXon_data() {
        addCaseRows(u"tools/converts.txt"_s, {"options", "receipt", "expected"});
    }
    void convertsToTheBytesOfXon() {
        const auto [options, receipt, expected] = caseFields("options", "receipt", "expected");
        const QString file = receiptFile(dir, u"receipt.txt"_s, receipt);
        const Run r = run(QString::fromLatin1(options).split(u' ', Qt::SkipEmptyParts) << file);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, expected);
    }

    // With --data-dir the tables are read there and XON.txt and READ files
    // stay there.
    void dataDirectoryAndChannel() {
        QTemporaryDir data;
        QVERIFY(copyGoldenTables(data.path()));
        const QString file =
            receiptFile(dir, u"gift.txt"_s, "READ,:scontrino;\r\nPLUD,:OMAGGIO,S3,P500,N3;\r\n");
        const Run r = run({u"--data-dir"_s, data.path(), u"--channel"_s, u"3"_s, file});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, "\"OMAGGIO\"500H7R\r\n"_ba);
        QCOMPARE(readFile(data.filePath(u"XON.txt"_s), "<missing>"), r.out);
        QCOMPARE(readFile(data.filePath(u"scontrino.003"_s), "<missing>"), QByteArray());
    }

    void refusalGivesOneLineReason_data() {
        addCaseRows(u"tools/refusals.txt"_s, {"receipt", "exitCode", "reasonPart"});
    }
    void refusalGivesOneLineReason() {
        const auto [receipt, exitCode, reasonPart] =
            caseFields("receipt", "exitCode", "reasonPart");
        const QString file = receiptFile(dir, u"bad.txt"_s, receipt);
        const Run r = run({file});
        QCOMPARE(r.exitCode, exitCode.toInt());
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(r.err.startsWith("velmar-convert: receipt refused, "), r.err.constData());
        QVERIFY2(r.err.contains(reasonPart), r.err.constData());
    }

    void missingInputIsAUsageError() {
        const QString missing = dir.filePath(u"nope.txt"_s);
        const Run r = run({missing});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(QString::fromLocal8Bit(r.err).trimmed(),
                 u"Il file "_s + missing + u" non esiste"_s);
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no file") << QStringList{};
        for (const char* args :
             {"a b", "--family 7 f", "--family=x f", "--channel=0 f", "--channel=5 f",
              "--max-len=0 f", "f --family", "--fast f", "--data-dir=/nonexistent-velmar f"}) {
            QTest::newRow(args) << QString::fromLatin1(args).split(' ');
        }
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        const Run r = run(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(r.err.startsWith("velmar-convert: "));
    }

    // A copy of the program without the library beside it: the installation
    // message and exit status 2.
    void missingLibrary() {
        QTemporaryDir alone;
        const QString copy = alone.filePath(u"velmar-convert"_s);
        QVERIFY(QFile::copy(binDir() + u"/velmar-convert"_s, copy));
        const QString file = receiptFile(dir, u"ok.txt"_s, "SALE,N1,P1000;\r\n");
        const Run r = run({file}, copy);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(
            r.err.startsWith(
                "ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare l'installazione\n"),
            r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestVelmarConvert)
#include "tst_velmarconvert.moc"
