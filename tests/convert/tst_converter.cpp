// The converter: the golden receipts of tests/data/golden for every family,
// its file handling, shared link values, READ files and failure rules; and its
// receipt-line rules: NormalizeSlLine (keyword, digit filter, number forms,
// description text and the closing ";"), GetSlField (how a keyword or a field
// is found and where its value starts and stops), the rewrites applied to a
// produced command, and the check characters of the Italian tax code and VAT
// number.

#include "common/EcrFamily.h"
#include "common/Fault.h"
#include "convert/CommandFixes.h"
#include "convert/SlField.h"
#include "convert/SlNormalizer.h"
#include "convert/TaxCodeChecks.h"
#include "ConverterFixture.h"
#include "common/CaseTable.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

// What NAME.xon expects of one family: its headers, whether the receipt is
// refused, XON.txt, and how many sections name the family (one belongs).
struct Golden {
    QByteArray matricola;
    QString maxLen = u"30"_s;
    bool refused = false;
    QByteArray xon;
    int sections = 0;
};

Golden golden(const QString& path, int family) {
    Golden g;
    bool mine = false;
    const QRegularExpression header(u"^\\[([0-6 ]+)\\]\\s*(refused)?\\s*$"_s);
    for (QByteArray line : readFile(path).split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith("matricola: ")) {
            g.matricola = line.mid(11);
        } else if (line.startsWith("max-len: ")) {
            g.maxLen = QString::fromLatin1(line.mid(9));
        } else if (const auto m = header.match(QString::fromLatin1(line)); m.hasMatch()) {
            mine = m.captured(1).split(u' ', Qt::SkipEmptyParts).contains(QString::number(family));
            g.sections += mine ? 1 : 0;
            g.refused = mine ? !m.captured(2).isEmpty() : g.refused;
        } else if (mine) {
            g.xon += line + "\r\n";
        }
    }
    return g;
}

std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
}
QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

class TestConverter : public QObject {
    Q_OBJECT

private slots:
    void missingInputShowsMessageAndLeavesEverything() {
        ConverterFixture fx;
        fx.writeFile(u"XON.txt"_s, "old\r\n");
        const QString missing = fx.dir.filePath(u"SR_DATI.001"_s);

        QCOMPARE(fx.convertFile(missing), std::int16_t(0));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::MissingInput);
        QCOMPARE(fx.ui.texts(), QStringList{u"Il file "_s + missing + u" non esiste"_s});
        QCOMPARE(fx.ui.boxes.first().buttons, MsgButtons::Ok);
        QCOMPARE(fx.xon(), "old\r\n"_ba);
        QVERIFY(fx.result.outputPath.isEmpty());
    }

    void emptyInputRemovesOldOutputAndWritesNothing() {
        ConverterFixture fx;
        fx.writeFile(u"XON.txt"_s, "old\r\n");

        QCOMPARE(fx.convert(QByteArray()), std::int16_t(0));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Empty);
        QVERIFY(!QFileInfo::exists(fx.converter.outputPath()));
        QVERIFY(fx.result.outputPath.isEmpty());
        QCOMPARE(fx.result.paymentLines, std::int16_t(0));
        QVERIFY(fx.ui.boxes.isEmpty());
        QVERIFY2(fx.converter.lastReason().contains(u"vuoto"_s),
                 qPrintable(fx.converter.lastReason()));
    }

    void outputReplacesAnOldFileAndNamesItForTheLink() {
        ConverterFixture fx;
        fx.writeFile(u"XON.txt"_s, QByteArray(5000, 'x'));
        QCOMPARE(fx.convert("SALE,N1,P1000;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), "1000H1R\r\n"_ba);
        QCOMPARE(fx.result.outputPath, QDir(fx.dataDir).filePath(u"XON.txt"_s));
    }

    // Payment lines are counted for the link, which waits for the register's
    // answer after the last one; the count starts afresh with every receipt.
    void totalLinesLeftCountsWrittenPaymentLines_data() {
        addCaseRows(u"convert/paymentcounts.txt"_s, {"family", "receipt", "expected"});
        QTest::newRow("the most commands a receipt holds")
            << "0"_ba << "CHEQ\r\n"_ba.repeated(int(SlConverter::kMaxCommands))
            << QByteArray::number(SlConverter::kMaxCommands);
    }
    void totalLinesLeftCountsWrittenPaymentLines() {
        const auto [family, receipt, expected] = caseFields("family", "receipt", "expected");
        ConverterFixture fx;
        fx.setFamily(family.toInt());
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(QByteArray::number(fx.result.paymentLines), expected);
    }

    void nonFiscalDocumentIsReportedToTheLink() {
        ConverterFixture fx;
        QCOMPARE(fx.convert("SALE,N1,P100;\r\nCASH;\r\n"), std::int16_t(0));
        QVERIFY(!fx.result.nonFiscalOpen);
        QCOMPARE(fx.convert("OPNF;\r\nPRNT,:X;\r\nCLNF;\r\n"), std::int16_t(0));
        QVERIFY(fx.result.nonFiscalOpen);
    }

    // A READ line names a plain file of the data directory; "" when it names
    // anything else.
    void readLineNamesItsDataFile_data() {
        addCaseRows(u"convert/readnames.txt"_s, {"line", "expectedPath"});
    }
    void readLineNamesItsDataFile() {
        const auto [line, expectedPath] = caseFields("line", "expectedPath");
        QString expected = QString::fromLatin1(expectedPath);
        ConverterFixture fx;
        fx.iCurrentCom = 2;
        expected.replace(QLatin1Char('@'), QDir::cleanPath(fx.dataDir));
        std::string why;
        QCOMPARE(fx.converter.GetDataReceivedPath(line.toStdString(), why), expected);
        QCOMPARE(why.empty(), !expected.isEmpty());
    }

    // Names of Velmar's own files, in any case, whatever their extension.
    void driverFileNames_data() { addCaseRows(u"convert/drivernames.txt"_s, {"name", "own"}); }
    void driverFileNames() {
        const auto [name, own] = caseFields("name", "own");
        QCOMPARE(SlConverter::isDriverFileName(QString::fromLatin1(name)), own == "1");
    }

    // A READ line that names one of Velmar's files, a path, a link or
    // anything but a plain file refuses the receipt and touches nothing.
    void readLineRefusals_data() {
        addCaseRows(u"convert/readrefusals.txt"_s, {"name", "entry", "reasonPart"});
    }
    void readLineRefusals() {
        const auto [name, entry, reasonPart] = caseFields("name", "entry", "reasonPart");
        ConverterFixture fx;
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(u"outside.txt"_s);
        QVERIFY(writeFile(outside, "keep me"));
        const QString at = QDir(fx.dataDir).filePath(QString::fromLatin1(name));
        if (entry == "file") {
            QVERIFY(writeFile(at, "keep me"));
        } else if (entry == "symlink") {
            QVERIFY(QFile::link(outside, at));
        } else if (entry == "hardlink") {
            QCOMPARE(
                ::link(QFile::encodeName(outside).constData(), QFile::encodeName(at).constData()),
                0);
        } else if (entry == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
        }

        QCOMPARE(fx.convert("PRNT,:A;\r\nREAD,:" + name + ";\r\nCASH;\r\n"), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Refused);
        QCOMPARE(fx.xon(), "\"A\"@\r\n"_ba);
        QVERIFY2(fx.converter.lastReason().startsWith(u"riga 2 (READ,:"_s),
                 qPrintable(fx.converter.lastReason()));
        QVERIFY2(fx.converter.lastReason().contains(QString::fromUtf8(reasonPart)),
                 qPrintable(fx.converter.lastReason()));
        QCOMPARE(readFile(outside), "keep me"_ba);
        if (entry == "file") {
            QCOMPARE(readFile(at), "keep me"_ba);
        }
    }

    void readLineCreatesAnEmptyFileAndSendsNothing() {
        ConverterFixture fx;
        fx.iCurrentCom = 3;
        const QString data = fx.writeFile(u"ricevuta.003"_s, "previous content");
        QCOMPARE(fx.convert("READ,:ricevuta;\r\nSALE,N1,P100;\r\nREAD;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), "100H1R\r\n"_ba);
        QVERIFY(QFileInfo::exists(data));
        QCOMPARE(QFileInfo(data).size(), qint64(0));
        QVERIFY(QFileInfo::exists(fx.dir.filePath(u"DataReceived.txt"_s)));
    }

    // A refusal keeps what was written, keeps the previous XON.txt name for the
    // link, and says which line was refused and why.
    void refusalNamesTheLineAndKeepsTheLinkPath_data() {
        addCaseRows(u"convert/refusals.txt"_s, {"receipt", "written", "reasonPart"});
        QTest::newRow("one command too many")
            << "CHEQ\r\n"_ba.repeated(int(SlConverter::kMaxCommands) + 1)
            << "0T\r\n"_ba.repeated(int(SlConverter::kMaxCommands))
            << "riga 5001 (CHEQ;): lo scontrino supera i 5000 comandi"_ba;
        QTest::newRow("one byte too many")
            << "PRNT,:x;\r\n"_ba.repeated(104857) + "PRNT;\r\n"
            << QByteArray() << "lo scontrino supera i 1048576 byte"_ba;
    }
    void refusalNamesTheLineAndKeepsTheLinkPath() {
        const auto [receipt, written, reasonPart] = caseFields("receipt", "written", "reasonPart");
        ConverterFixture fx;
        QCOMPARE(fx.convert(receipt), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Refused);
        QCOMPARE(fx.xon(), written);
        QVERIFY(fx.result.outputPath.isEmpty());
        QVERIFY2(fx.converter.lastReason().contains(QString::fromUtf8(reasonPart)),
                 qPrintable(fx.converter.lastReason()));
        QVERIFY(fx.ui.boxes.isEmpty());
    }

    // A fault while converting refuses the receipt like any refusal, with the
    // fault in the reason; the next receipt converts as usual.
    void faultRefusesTheReceipt_data() {
        addCaseRows(u"convert/faults.txt"_s, {"receipt", "setup", "reasonPart"});
        QTest::newRow("309 digits") << QByteArray("SALE,N1,P" + QByteArray(309, '9') + ";\r\n")
                                    << QByteArray() << "Overflow"_ba;
    }
    void faultRefusesTheReceipt() {
        const auto [receipt, setup, reasonPart] = caseFields("receipt", "setup", "reasonPart");
        ConverterFixture fx;
        if (setup == "tables") {
            QVERIFY(copyGoldenTables(fx.dir.path()));
        } else if (setup == "folder") {
            QVERIFY(QDir(fx.dataDir).mkdir(u"cartella.txt"_s));
        }
        const QString input = fx.dir.filePath(u"SR_DATI.001"_s);
        if (setup == "input link") {
            QVERIFY(QFile::link(fx.writeFile(u"elsewhere.txt"_s, "CASH;\r\n"), input));
        } else if (setup == "input pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0666), 0);
        }
        if (setup.startsWith("input ")) {
            if (setup == "input folder") {
                QVERIFY(QDir(fx.dataDir).mkdir(u"SR_DATI.001"_s));
            }
            QCOMPARE(fx.convertFile(input), std::int16_t(1));
        } else {
            QCOMPARE(fx.convert(receipt), std::int16_t(1));
        }
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Failed);
        QVERIFY2(fx.converter.lastReason().contains(QString::fromUtf8(reasonPart)),
                 qPrintable(fx.converter.lastReason()));
        QVERIFY(fx.ui.boxes.isEmpty());
        QVERIFY(fx.result.outputPath.isEmpty());

        const QString next = fx.writeFile(u"SR_DATI.002"_s, "CASH;\r\n");
        QCOMPARE(fx.convertFile(next), std::int16_t(0));
        QCOMPARE(fx.xon(), "1T\r\n"_ba);
    }

    void libraryMissingDuringConversionRefusesTheReceipt() {
        ConverterFixture fx;
        ConversionLibrary none; // never loaded
        SlConverter converter{ConverterContext{fx.tables, none, fx.ui, fx.dataDir, fx.iCurrentCom}};
        const QString input = fx.writeFile(u"SR_DATI.001"_s, "PLUD,P1,N1;\r\nCASH;\r\n");
        QCOMPARE(converter.ConvertSlFile(input, fx.settings).code, std::int16_t(1));
        QCOMPARE(converter.lastOutcome(), ConversionOutcome::Failed);
        QVERIFY(fx.ui.boxes.isEmpty());
        QVERIFY2(converter.lastReason().contains(
                     QString::fromUtf8(standardFaultDescription(faultno::DllLoad))),
                 qPrintable(converter.lastReason()));
    }

    // The state of one receipt does not leak into the next.
    void eachConversionStartsAfresh() {
        ConverterFixture fx;
        fx.setFamily(4);
        QCOMPARE(fx.convert("NDCR,D010125,N1,>POS;\r\nPLUD,S1,P1,N2;\r\n"), std::int16_t(0));
        // An N of other than 8 characters adds no number at all.
        QCOMPARE(fx.xon(), "\"010125POS\"102M\r\nA\r\n1H2R\r\n"_ba);
        QCOMPARE(fx.convert("PLUD,S1,P1,N2;\r\nPLUD,P1.5,N2;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), "A\r\n9M1H2R\r\n\"  1 X 1.5\"@\r\n1*150H2R\r\n"_ba);
    }

    // Golden receipts: each tests/data/golden/NAME.sl is converted for every
    // register family and XON.txt is compared byte for byte with NAME.xon.
    //
    // NAME.xon holds optional headers ("matricola: ...", "max-len: ..."), then
    // sections "[families] [refused]" followed by the expected commands, one per
    // line (blank and "#" lines are ignored). Every family 0-6 must appear in
    // exactly one section. The tables in golden/tables/ are in the data directory.
    void receipts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("family");
        const QDir golden(testDataDir() + u"/golden"_s);
        const QStringList cases = golden.entryList({u"*.sl"_s}, QDir::Files, QDir::Name);
        QVERIFY2(cases.size() >= 10, "the golden receipts are missing");
        for (const QString& file : cases) {
            const QString name = file.chopped(3);
            for (int family = 0; family < 7; ++family) {
                QTest::addRow("%s/family%d", qPrintable(name), family) << name << family;
            }
        }
    }

    void receipts() {
        QFETCH(QString, name);
        QFETCH(int, family);
        const QString base = testDataDir() + u"/golden/"_s + name;
        const Golden want = golden(base + u".xon"_s, family);
        QCOMPARE(want.sections, 1);

        ConverterFixture fx;
        QVERIFY(copyGoldenTables(fx.dir.path()));
        fx.setFamily(family);
        fx.settings.maxDescrLen = want.maxLen.toStdString();
        fx.settings.registrationNumber = want.matricola.toStdString();

        const std::int16_t result = fx.convert(readFile(base + u".sl"_s));

        QCOMPARE(result, std::int16_t(want.refused ? 1 : 0));
        QCOMPARE(fx.converter.lastOutcome(),
                 want.refused ? ConversionOutcome::Refused : ConversionOutcome::Converted);
        QVERIFY2(fx.ui.boxes.isEmpty(), qPrintable(fx.ui.texts().join(QLatin1Char('|'))));
        QCOMPARE(fx.xon(), want.xon);
        // Only a conversion that reached the end names XON.txt for the link.
        QCOMPARE(fx.result.outputPath, want.refused ? QString() : fx.converter.outputPath());
    }

    void normalize_data() { addCaseRows(u"convert/normalize.txt"_s, {"line", "expected"}); }
    void normalize() {
        const auto [line, expected] = caseFields("line", "expected");
        QCOMPARE(bytes(NormalizeSlLine(str(line), 30)), expected);
    }
    // Every byte of the replacement table, seen through upper case first.
    void replacement_data() { addCaseRows(u"convert/replacement.txt"_s, {"code", "becomes"}); }
    void replacement() {
        const auto [code, becomes] = caseFields("code", "becomes");
        const QByteArray line = "PRNT,:X" + QByteArray(1, char(code.toInt())) + "Y";
        QCOMPARE(bytes(NormalizeSlLine(str(line), 30)), "PRNT,:X" + becomes + "Y;");
    }
    void descriptionLength_data() {
        addCaseRows(u"convert/descriptionlength.txt"_s, {"maxLen", "text", "expectedText"});
    }
    void descriptionLength() {
        const auto [maxLen, text, expectedText] = caseFields("maxLen", "text", "expectedText");
        const QByteArray line = "PLUD,:" + text + ",N1";
        QCOMPARE(bytes(NormalizeSlLine(str(line), std::int16_t(maxLen.toInt()))),
                 "PLUD,:" + expectedText + ",N1;");
    }

    void lookup_data() {
        addCaseRows(u"convert/slfield.txt"_s,
                    {"atStart", "line", "key", "preset", "result", "value"});
    }
    void lookup() {
        const auto [atStart, line, key, preset, result, value] =
            caseFields("atStart", "line", "key", "preset", "result", "value");
        bool flag = atStart == "1";
        std::string v = str(preset);
        QCOMPARE(QByteArray::number(GetSlField(flag, v, str(line), str(key))), result);
        QCOMPARE(QByteArray::fromStdString(v), value);
        QCOMPARE(flag, atStart == "1");
    }

    void commandFixes_data() {
        addCaseRows(u"convert/commandfixes.txt"_s, {"fix", "out", "argument", "expected"});
    }
    void commandFixes() {
        const auto [fix, out, argument, expected] =
            caseFields("fix", "out", "argument", "expected");
        std::string s = str(out);
        fix == "bar" ? applyBarFix(s, argument == "1") : applyDepositFix(s, argument.toInt());
        QCOMPARE(bytes(s), expected);
    }
    void paymentLine_data() { addCaseRows(u"convert/paymentlines.txt"_s, {"out", "payment"}); }
    void paymentLine() {
        const auto [out, payment] = caseFields("out", "payment");
        QCOMPARE(isPaymentLine(str(out)), payment == "1");
    }

    void taxCodes_data() { addCaseRows(u"convert/taxcodes.txt"_s, {"kind", "code", "valid"}); }
    void taxCodes() {
        const auto [kind, code, valid] = caseFields("kind", "code", "valid");
        QCOMPARE(kind == "cf" ? CheckCodiceFiscale(str(code)) : CheckPartitaIva(str(code)),
                 valid == "1");
    }

    // A family's row must hold together: a row added with a field that needs
    // another one left out would send nothing, or read an answer wrongly.
    void familyRows_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("expectedRow");
        for (int i = 0; i <= 6; ++i) {
            QTest::addRow("family %d", i) << i << i;
        }
        QTest::newRow("below range") << -1 << 0;
        QTest::newRow("above range") << 7 << 0;
    }
    void familyRows() {
        QFETCH(int, index);
        QFETCH(int, expectedRow);
        using Answer = EcrFamily::SerialAnswer;
        const EcrFamily& f = ecrFamily(index);
        QCOMPARE(f.index, expectedRow);
        // The requests the dialogue sends must be there to send.
        if (f.serialAnswer == Answer::AskedAfterClosingKey || f.numberAsInFooter) {
            QVERIFY(!f.numberRequest.isEmpty());
        }
        // The status request's answer is read after "89F".
        if (f.serialAnswer == Answer::StatusAfterReceipt) {
            QCOMPARE(f.numberRequest, QByteArray("89F"));
        }
        QVERIFY(!f.footerWithRt || f.infoLinesFromFooter);
        QVERIFY(!f.cancel.isEmpty());
        QVERIFY(f.defaultTcpPort > 0 && f.defaultTcpPort < 65536);
        // Only CHEQ, CARD and CRED can be chosen by the line.
        QVERIFY(f.payments.bankTransfer >= 0 && f.payments.mealTicket >= 0);
        for (int form : {f.payments.cheque, f.payments.card, f.payments.credit,
                         f.payments.bankTransfer, f.payments.mealTicket}) {
            QVERIFY(form == EcrFamily::kChosenByLine || (form >= 0 && form <= 19));
        }
    }
};

QTEST_GUILESS_MAIN(TestConverter)
#include "tst_converter.moc"
