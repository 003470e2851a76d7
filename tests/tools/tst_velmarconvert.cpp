// velmar-convert as an integrator runs it: arguments, exit status, standard
// output and standard error.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar::test;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QStringList& args, const QString& program = binDir() + QStringLiteral("/velmar-convert")) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        qFatal("velmar-convert did not finish");
    }
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
               p.readAllStandardError()};
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestVelmarConvert : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void helpExplainsWithAnExample() {
        const Run r = run({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.startsWith("Usage: velmar-convert"));
        QVERIFY(r.out.contains("Example"));
        QVERIFY(r.out.contains("Exit status"));
    }

    void convertsToTheBytesOfXon_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray receipt = "PLUD,:Pane,P150,N1;\r\nCHEQ,V150;\r\n";
        QTest::newRow("default family 0") << QStringList{} << receipt << QByteArray("\"PANE\"150H1R\r\n150H0T\r\n");
        QTest::newRow("family 1") << QStringList{QStringLiteral("--family"), QStringLiteral("1")} << receipt
                                  << QByteArray("\"PANE\"150H1R\r\n150H2T\r\n");
        QTest::newRow("family 4, = form") << QStringList{QStringLiteral("--family=4")} << receipt
                                          << QByteArray("A\r\n\"PANE\"150H1R\r\n150H0T\r\n");
        QTest::newRow("max length") << QStringList{QStringLiteral("--max-len"), QStringLiteral("2")}
                                    << receipt << QByteArray("\"PA\"150H1R\r\n150H0T\r\n");
        QTest::newRow("matricola") << QStringList{QStringLiteral("--matricola"), QStringLiteral("99MEX012345")}
                                   << QByteArray("NDCR,D010125,N00010002,>99MEX012345;\r\n")
                                   << QByteArray("\"01012500010002\"102M\r\n");
        QTest::newRow("empty file") << QStringList{} << QByteArray() << QByteArray();
        QTest::newRow("bytes kept") << QStringList{} << QByteArray("PRNT,:\xb0\xfe;\r\n")
                                    << QByteArray("\"\xb0\xde\"@\r\n");
    }
    void convertsToTheBytesOfXon() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, expected);
        const QString file = writeFile(dir, QStringLiteral("receipt.txt"), receipt);
        const Run r = run(options << file);
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, expected);
    }

    // With --data-dir the tables are read there and XON.txt and READ files
    // stay there.
    void dataDirectoryAndChannel() {
        QTemporaryDir data;
        for (const char* table : {"Tb-Reparti.xml", "Tb-Iva.xml"}) {
            QVERIFY(QFile::copy(testDataDir() + QStringLiteral("/golden/tables/") + QLatin1String(table),
                                data.filePath(QLatin1String(table))));
        }
        const QString file = writeFile(dir, QStringLiteral("gift.txt"),
                                       "READ,:scontrino;\r\nPLUD,:OMAGGIO,S3,P500,N3;\r\n");
        const Run r = run({QStringLiteral("--data-dir"), data.path(), QStringLiteral("--channel"),
                           QStringLiteral("3"), file});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("\"OMAGGIO\"500H7R\r\n"));
        QCOMPARE(readFile(data.filePath(QStringLiteral("XON.txt"))), r.out);
        QCOMPARE(readFile(data.filePath(QStringLiteral("scontrino.003"))), QByteArray());
    }

    void refusalGivesOneLineReason() {
        const QString file = writeFile(dir, QStringLiteral("bad.txt"), "SALE,N1,P100;\r\nBOGO,X;\r\n");
        const Run r = run({file});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(r.err.contains("riga 2"), r.err.constData());
        QVERIFY2(r.err.contains("BOGO"), r.err.constData());
    }

    void missingInputIsAUsageError() {
        const QString missing = dir.filePath(QStringLiteral("nope.txt"));
        const Run r = run({missing});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QCOMPARE(QString::fromLocal8Bit(r.err).trimmed(),
                 QStringLiteral("Il file ") + missing + QStringLiteral(" non esiste"));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no file") << QStringList{};
        QTest::newRow("two files") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
        QTest::newRow("family 7") << QStringList{QStringLiteral("--family"), QStringLiteral("7"), QStringLiteral("f")};
        QTest::newRow("family text") << QStringList{QStringLiteral("--family=x"), QStringLiteral("f")};
        QTest::newRow("channel 0") << QStringList{QStringLiteral("--channel=0"), QStringLiteral("f")};
        QTest::newRow("channel 5") << QStringList{QStringLiteral("--channel=5"), QStringLiteral("f")};
        QTest::newRow("max length 0") << QStringList{QStringLiteral("--max-len=0"), QStringLiteral("f")};
        QTest::newRow("missing value") << QStringList{QStringLiteral("f"), QStringLiteral("--family")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast"), QStringLiteral("f")};
        QTest::newRow("data dir missing")
            << QStringList{QStringLiteral("--data-dir=/nonexistent-velmar"), QStringLiteral("f")};
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        const Run r = run(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY(r.err.startsWith("velmar-convert: "));
    }

    void unexpectedFailure() {
        const QString file = writeFile(dir, QStringLiteral("huge.txt"), "TEND,N99999,V1;\r\n");
        const Run r = run({file});
        QCOMPARE(r.exitCode, 3);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.startsWith("Errore Conv = Overflow\n"), r.err.constData());
    }

    // A copy of the program without the library beside it: the installation
    // message and exit status 2.
    void missingLibrary() {
        QTemporaryDir alone;
        const QString copy = alone.filePath(QStringLiteral("velmar-convert"));
        QVERIFY(QFile::copy(binDir() + QStringLiteral("/velmar-convert"), copy));
        const QString file = writeFile(dir, QStringLiteral("ok.txt"), "SALE,N1,P1000;\r\n");
        const Run r = run({file}, copy);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.out, QByteArray());
        QVERIFY2(r.err.startsWith("ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare l'installazione\n"),
                 r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestVelmarConvert)
#include "tst_velmarconvert.moc"
