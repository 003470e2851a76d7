// The converter's file handling, shared link values, READ files and failure
// rules: what the golden receipts do not show.

#include "ConverterFixture.h"
#include "common/Fault.h"

#include <QDir>
#include <QFileInfo>

using namespace velmar;
using namespace velmar::test;

class TestConverter : public QObject {
    Q_OBJECT

private slots:
    void missingInputShowsMessageAndLeavesEverything() {
        ConverterFixture fx;
        fx.writeFile(QStringLiteral("XON.txt"), "old\r\n");
        fx.link.ConvertedFilePath = QStringLiteral("previous");
        const QString missing = fx.dir.filePath(QStringLiteral("SR_DATI.001"));

        QCOMPARE(fx.converter.ConvertSlFile(missing), std::int16_t(0));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::MissingInput);
        QCOMPARE(fx.ui.texts(), QStringList{QStringLiteral("Il file ") + missing +
                                            QStringLiteral(" non esiste")});
        QCOMPARE(fx.ui.boxes.first().buttons, MsgButtons::Ok);
        QCOMPARE(fx.xon(), QByteArray("old\r\n"));
        QCOMPARE(fx.link.ConvertedFilePath, QStringLiteral("previous"));
        QVERIFY(!fx.programExit.requested());
    }

    void emptyInputRemovesOldOutputAndWritesNothing() {
        ConverterFixture fx;
        fx.writeFile(QStringLiteral("XON.txt"), "old\r\n");
        fx.link.ConvertedFilePath = QStringLiteral("previous");
        fx.link.TotalLinesLeft = 5;

        QCOMPARE(fx.convert(QByteArray()), std::int16_t(0));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Empty);
        QVERIFY(!QFileInfo::exists(fx.converter.outputPath()));
        QCOMPARE(fx.link.ConvertedFilePath, QStringLiteral("previous"));
        QCOMPARE(fx.link.TotalLinesLeft, std::int16_t(0));
        QVERIFY(fx.ui.boxes.isEmpty());
    }

    void outputReplacesAnOldFileAndNamesItForTheLink() {
        ConverterFixture fx;
        fx.writeFile(QStringLiteral("XON.txt"), QByteArray(5000, 'x'));
        QCOMPARE(fx.convert("SALE,N1,P1000;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), QByteArray("1000H1R\r\n"));
        QCOMPARE(fx.link.ConvertedFilePath, QDir(fx.dataDir).filePath(QStringLiteral("XON.txt")));
    }

    void lineEndsOfEveryKindAreAccepted_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::newRow("CR LF") << QByteArray("SALE,N1,P100;\r\nCASH;\r\n");
        QTest::newRow("LF") << QByteArray("SALE,N1,P100;\nCASH;\n");
        QTest::newRow("lone CR") << QByteArray("SALE,N1,P100;\rCASH;\r");
        QTest::newRow("no final line end") << QByteArray("SALE,N1,P100;\r\nCASH;");
    }
    void lineEndsOfEveryKindAreAccepted() {
        QFETCH(QByteArray, receipt);
        ConverterFixture fx;
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(fx.xon(), QByteArray("100H1R\r\n1T\r\n"));
    }

    // Payment lines are counted for the link, which waits for the register's
    // answer after the last one; the count starts afresh with every receipt.
    void totalLinesLeftCountsWrittenPaymentLines_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<int>("expected");
        const QByteArray mixed = "SALE,N1,P1000;\r\nDISC,V100;\r\nCHEQ,V400;\r\nCARD;\r\n"
                                 "CRED,T2,V100;\r\nTICK,V100;\r\nTEND,N3;\r\nCASH;\r\n";
        QTest::newRow("family 0") << 0 << mixed << 6;
        QTest::newRow("family 5") << 5 << mixed << 6;
        QTest::newRow("no payment") << 0 << QByteArray("SALE,N1,P100;\r\nOPNF;\r\nCLNF;\r\n") << 0;
        QTest::newRow("deposit") << 1 << QByteArray("DEPO,V500;\r\n") << 1;
        QTest::newRow("dropped payment-like text") << 0 << QByteArray("PRNT,:12345678904;\r\n") << 0;
        QTest::newRow("non-fiscal text ending in T") << 0 << QByteArray("PRNT,:PAGA 1T;\r\n") << 0;
        QTest::newRow("the most a 16-bit count holds")
            << 0 << QByteArray("CHEQ\r\n").repeated(32767) << 32767;
    }
    void totalLinesLeftCountsWrittenPaymentLines() {
        QFETCH(int, family);
        QFETCH(QByteArray, receipt);
        QFETCH(int, expected);
        ConverterFixture fx;
        fx.setFamily(family);
        fx.link.TotalLinesLeft = 9;
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(int(fx.link.TotalLinesLeft), expected);
    }

    void nonFiscalDocumentIsReportedToTheLink() {
        ConverterFixture fx;
        QCOMPARE(fx.convert("SALE,N1,P100;\r\nCASH;\r\n"), std::int16_t(0));
        QVERIFY(!fx.link.NonFiscalOpen);
        QCOMPARE(fx.convert("OPNF;\r\nPRNT,:X;\r\nCLNF;\r\n"), std::int16_t(0));
        QVERIFY(fx.link.NonFiscalOpen);
    }

    // On lines that are not percent lines, a ",%" field still moves the
    // cheque/card payment number in families 0, 3, 4 and 6: its position.
    void percentFieldPositionIsThePaymentNumber() {
        ConverterFixture fx;
        QCOMPARE(fx.convert("CHEQ,%5,V100;\r\nCARD,V200,%1;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), QByteArray("100H5T\r\n200H10T\r\n"));
    }

    void amountMarkInTextsFollowsTheLine_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("item text") << QByteArray("PLUD,:a|b,P100,N1;") << QByteArray("\"AHB\"100H1R\r\n");
        QTest::newRow("percent line") << QByteArray("PRNT,:a|b,%1;") << QByteArray("\"A*B\"@\r\n");
        QTest::newRow("first place") << QByteArray("PRNT,:|x;") << QByteArray("\"HX\"@\r\n");
        // Bar codes keep their bytes: no amount mark is read there.
        QTest::newRow("bar code") << QByteArray("BARC,T1,:a|b;") << QByteArray("\"A|B\"1Z\r\n");
    }
    void amountMarkInTextsFollowsTheLine() {
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, expected);
        ConverterFixture fx;
        fx.setFamily(1);
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(fx.xon(), expected);
    }

    void descriptionLengthComesFromThePanel_data() {
        QTest::addColumn<QString>("maxLen");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("18") << QStringLiteral("18") << QByteArray("\"ABCDEFGHIJKLMNOPQR\"@\r\n");
        QTest::newRow("not numeric: 30") << QStringLiteral("lungo")
                                         << QByteArray("\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\"@\r\n");
        QTest::newRow("32") << QStringLiteral("32")
                            << QByteArray("\"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345\"@\r\n");
    }
    void descriptionLengthComesFromThePanel() {
        QFETCH(QString, maxLen);
        QFETCH(QByteArray, expected);
        ConverterFixture fx;
        fx.panel.cboMaxLenDescr.setText(maxLen);
        QCOMPARE(fx.convert("PRNT,:abcdefghijklmnopqrstuvwxyz0123456789;"), std::int16_t(0));
        QCOMPARE(fx.xon(), expected);
    }

    void readLineNamesItsDataFile_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected"); // "@" stands for the data directory
        QTest::newRow("no name") << QByteArray("READ;") << QStringLiteral("@/DataReceived.txt");
        QTest::newRow("blank name") << QByteArray("READ,:   ;") << QStringLiteral("@/DataReceived.txt");
        QTest::newRow("empty name") << QByteArray("READ,:,N1;") << QStringLiteral("@/DataReceived.txt");
        QTest::newRow("plain name") << QByteArray("READ,:Dati;") << QStringLiteral("@/Dati.002");
        QTest::newRow("any case") << QByteArray("read,:Dati;") << QStringLiteral("@/Dati.002");
        QTest::newRow("with extension") << QByteArray("READ,:dati.txt;") << QStringLiteral("@/dati.txt");
        QTest::newRow("path, no extension") << QByteArray("READ,:/srv/cassa/dati;")
                                            << QStringLiteral("/srv/cassa/dati.002");
        QTest::newRow("windows path") << QByteArray("READ,:C:\\Dati\\r.txt;")
                                      << QStringLiteral("C:\\Dati\\r.txt");
        QTest::newRow("quoted path") << QByteArray("READ,:\"/srv/p.txt\";") << QStringLiteral("/srv/p.txt");
        // Only the path's first and last characters lose their quotes.
        QTest::newRow("quoted plain name") << QByteArray("READ,:\"x.txt\";")
                                           << QStringLiteral("@/\"x.txt");
    }
    void readLineNamesItsDataFile() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        ConverterFixture fx;
        fx.iCurrentCom = 2;
        expected.replace(QLatin1Char('@'), QDir::cleanPath(fx.dataDir));
        QCOMPARE(fx.converter.GetDataReceivedPath(line.toStdString()), expected);
    }

    void readLineCreatesAnEmptyFileAndSendsNothing() {
        ConverterFixture fx;
        fx.iCurrentCom = 3;
        const QString data = fx.writeFile(QStringLiteral("ricevuta.003"), "previous content");
        QCOMPARE(fx.convert("READ,:ricevuta;\r\nSALE,N1,P100;\r\nREAD;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), QByteArray("100H1R\r\n"));
        QVERIFY(QFileInfo::exists(data));
        QCOMPARE(QFileInfo(data).size(), qint64(0));
        QVERIFY(QFileInfo::exists(fx.dir.filePath(QStringLiteral("DataReceived.txt"))));
    }

    // A refusal keeps what was written, keeps the previous XON.txt name for the
    // link, and says which line was refused and why.
    void refusalNamesTheLineAndKeepsTheLinkPath_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("library") << QByteArray("SALE,N1,P100;\r\nXYZW,1;\r\n") << QByteArray("100H1R\r\n")
                                 << QStringLiteral("riga 2 (XYZW,11;)");
        QTest::newRow("NDCR without issuer") << QByteArray("NDCR,D010125,N1;\r\n") << QByteArray()
                                             << QStringLiteral("riga 1");
        QTest::newRow("DELD without date") << QByteArray("PRNT,:x;\r\nDELD,N1;\r\n")
                                           << QByteArray("\"X\"@\r\n") << QStringLiteral("DELD");
        QTest::newRow("no tables for a gift") << QByteArray("PLUD,S3,P100,N2;\r\n") << QByteArray()
                                              << QStringLiteral("omaggio");
        QTest::newRow("voucher") << QByteArray("PLUD,S2,P100,N2;\r\n") << QByteArray()
                                 << QStringLiteral("buono");
    }
    void refusalNamesTheLineAndKeepsTheLinkPath() {
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, written);
        QFETCH(QString, reasonPart);
        ConverterFixture fx;
        fx.link.ConvertedFilePath = QStringLiteral("previous");
        QCOMPARE(fx.convert(receipt), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Refused);
        QCOMPARE(fx.xon(), written);
        QCOMPARE(fx.link.ConvertedFilePath, QStringLiteral("previous"));
        QVERIFY2(fx.converter.lastReason().contains(reasonPart), qPrintable(fx.converter.lastReason()));
        QVERIFY(fx.ui.boxes.isEmpty());
        QVERIFY(!fx.programExit.requested());
    }

    // Unexpected faults show "Errore Conv = ..." and end the program.
    void unexpectedFaultEndsTheProgram_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QString>("message");
        QTest::newRow("payment number beyond 16 bits")
            << QByteArray("TEND,N40000,V100;\r\n") << QStringLiteral("Errore Conv = Overflow");
        QTest::newRow("credit type beyond 16 bits")
            << QByteArray("CRED,T99999;\r\n") << QStringLiteral("Errore Conv = Overflow");
        QTest::newRow("number beyond a double")
            << QByteArray("SALE,N1,P" + QByteArray(400, '9') + ";\r\n")
            << QStringLiteral("Errore Conv = Overflow");
        QTest::newRow("amount beyond 32 bits")
            << QByteArray("PLUD,P99999999.5,Q1000,N1;\r\n") << QStringLiteral("Errore Conv = Overflow");
        QTest::newRow("32768 payment lines")
            << QByteArray("CHEQ\r\n").repeated(32768) << QStringLiteral("Errore Conv = Overflow");
        QTest::newRow("READ naming XON.txt")
            << QByteArray("PRNT,:A;\r\nREAD,:XON.txt;\r\nCASH;\r\n")
            << QStringLiteral("Errore Conv = File già aperto");
        QTest::newRow("READ naming the receipt")
            << QByteArray("READ,:SR_DATI.001;\r\nCASH;\r\n")
            << QStringLiteral("Errore Conv = File già aperto");
        QTest::newRow("READ into a missing folder")
            << QByteArray("READ,:/nonexistent-velmar-folder/x.txt;\r\n")
            << QStringLiteral("Errore Conv = Impossibile trovare il percorso");
    }
    void unexpectedFaultEndsTheProgram() {
        QFETCH(QByteArray, receipt);
        QFETCH(QString, message);
        ConverterFixture fx;
        fx.link.ConvertedFilePath = QStringLiteral("previous");
        QCOMPARE(fx.convert(receipt), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Failed);
        QCOMPARE(fx.ui.texts(), QStringList{message});
        QVERIFY(fx.programExit.requested());
        QCOMPARE(fx.link.ConvertedFilePath, QStringLiteral("previous"));
        QVERIFY(fx.converter.lastReason().startsWith(QStringLiteral("riga ")));
    }

    void departmentBeyondTheTableEndsTheProgram() {
        ConverterFixture fx;
        for (const char* table : {"Tb-Reparti.xml", "Tb-Iva.xml"}) {
            QVERIFY(QFile::copy(testDataDir() + QStringLiteral("/golden/tables/") + QLatin1String(table),
                                fx.dir.filePath(QLatin1String(table))));
        }
        QCOMPARE(fx.convert("PLUD,:X,S3,P100,N60;\r\n"), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Failed);
        QCOMPARE(fx.ui.boxes.size(), 1);
        QVERIFY(fx.ui.texts().first().startsWith(QStringLiteral("Errore Conv = ")));
        QVERIFY2(fx.ui.texts().first().contains(QStringLiteral("60")), qPrintable(fx.ui.texts().first()));
        QVERIFY(fx.programExit.requested());
    }

    void libraryMissingDuringConversionEndsTheProgram() {
        ConverterFixture fx;
        ConversionLibrary none; // never loaded
        SlConverter converter{ConverterContext{fx.panel, fx.tables, none, fx.link, fx.ui, fx.programExit,
                                               fx.dataDir, fx.iCurrentCom}};
        const QString input = fx.writeFile(QStringLiteral("SR_DATI.001"), "PLUD,P1,N1;\r\nCASH;\r\n");
        QCOMPARE(converter.ConvertSlFile(input), std::int16_t(1));
        QCOMPARE(converter.lastOutcome(), ConversionOutcome::Failed);
        QCOMPARE(fx.ui.texts(), QStringList{QStringLiteral("Errore Conv = ") +
                                            QString::fromUtf8(standardFaultDescription(faultno::DllLoad))});
        QVERIFY(fx.programExit.requested());
    }

    // The state of one receipt does not leak into the next.
    void eachConversionStartsAfresh() {
        ConverterFixture fx;
        fx.setFamily(4);
        QCOMPARE(fx.convert("NDCR,D010125,N1,>POS;\r\nPLUD,S1,P1,N2;\r\n"), std::int16_t(0));
        // An N of other than 8 characters adds no number at all.
        QCOMPARE(fx.xon(), QByteArray("\"010125POS\"102M\r\nA\r\n1H2R\r\n"));
        QCOMPARE(fx.convert("PLUD,S1,P1,N2;\r\nPLUD,P1.5,N2;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), QByteArray("A\r\n9M1H2R\r\n\"  1 X 1.5\"@\r\n1*150H2R\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestConverter)
#include "tst_converter.moc"
