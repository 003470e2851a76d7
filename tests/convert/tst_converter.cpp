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

struct Expectation {
    bool refused = false;
    QByteArrayList commands;
};

struct GoldenCase {
    QByteArray matricola;
    QString maxLen = u"30"_s;
    Expectation byFamily[7];
    bool seen[7] = {};
};

GoldenCase parseGolden(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(path));
    }
    GoldenCase g;
    QList<int> current;
    const QRegularExpression header(u"^\\[([0-6 ]+)\\]\\s*(refused)?\\s*$"_s);
    for (QByteArray line : f.readAll().split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith("matricola: ")) {
            g.matricola = line.mid(11);
            continue;
        }
        if (line.startsWith("max-len: ")) {
            g.maxLen = QString::fromLatin1(line.mid(9));
            continue;
        }
        const auto m = header.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            current.clear();
            for (const QString& n : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const int family = n.toInt();
                if (g.seen[family]) {
                    qFatal("%s: family %d twice", qPrintable(path), family);
                }
                g.seen[family] = true;
                g.byFamily[family].refused = !m.captured(2).isEmpty();
                current << family;
            }
            continue;
        }
        if (current.isEmpty()) {
            qFatal("%s: command before the first [families] header: %s", qPrintable(path),
                   line.constData());
        }
        for (int family : current) {
            g.byFamily[family].commands << line;
        }
    }
    for (int family = 0; family < 7; ++family) {
        if (!g.seen[family]) {
            qFatal("%s: no section for family %d", qPrintable(path), family);
        }
    }
    return g;
}

QByteArray asXon(const QByteArrayList& commands) {
    QByteArray bytes;
    for (const QByteArray& c : commands) {
        bytes += c + "\r\n";
    }
    return bytes;
}

std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
}
QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}

// The published conversion table of the tax code, written out for digits and
// letters separately: value of a character at an odd position (1st, 3rd, ...).
int oddValue(char c) {
    static const int digits[10] = {1, 0, 5, 7, 9, 13, 15, 17, 19, 21};
    static const int letters[26] = {1,  0,  5, 7, 9, 13, 15, 17, 19, 21, 2,  4,  18,
                                    20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};
    return (c >= '0' && c <= '9') ? digits[c - '0'] : letters[c - 'A'];
}

// Value at an even position: digits 0..9 count as themselves, letters A..Z as 0..25.
int evenValue(char c) {
    return (c >= '0' && c <= '9') ? c - '0' : c - 'A';
}

// The check letter for 15 upper-case letters and digits.
char checkLetter(const QByteArray& first15) {
    int sum = 0;
    for (int i = 0; i < 15; ++i) {
        sum += (i % 2 == 0) ? oddValue(first15[i]) : evenValue(first15[i]);
    }
    return char('A' + sum % 26);
}

QByteArray withCheck(const QByteArray& first15) {
    return first15 + checkLetter(first15);
}

// Any other letter than the right one.
QByteArray withWrongCheck(const QByteArray& first15) {
    const char right = checkLetter(first15);
    return first15 + char(right == 'Z' ? 'A' : right + 1);
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

    void lineEndsOfEveryKindAreAccepted_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::newRow("CR LF") << "SALE,N1,P100;\r\nCASH;\r\n"_ba;
        QTest::newRow("LF") << "SALE,N1,P100;\nCASH;\n"_ba;
        QTest::newRow("lone CR") << "SALE,N1,P100;\rCASH;\r"_ba;
        QTest::newRow("no final line end") << "SALE,N1,P100;\r\nCASH;"_ba;
    }
    void lineEndsOfEveryKindAreAccepted() {
        QFETCH(QByteArray, receipt);
        ConverterFixture fx;
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(fx.xon(), "100H1R\r\n1T\r\n"_ba);
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
        QTest::newRow("no payment") << 0 << "SALE,N1,P100;\r\nOPNF;\r\nCLNF;\r\n"_ba << 0;
        QTest::newRow("deposit") << 1 << "DEPO,V500;\r\n"_ba << 1;
        QTest::newRow("dropped payment-like text")
            << 0 << "PRNT,:12345678904;\r\nCLNF;\r\n"_ba << 0;
        QTest::newRow("non-fiscal text ending in T") << 0 << "PRNT,:PAGA 1T;\r\n"_ba << 0;
        QTest::newRow("the most commands a receipt holds")
            << 0 << "CHEQ\r\n"_ba.repeated(int(SlConverter::kMaxCommands))
            << int(SlConverter::kMaxCommands);
    }
    void totalLinesLeftCountsWrittenPaymentLines() {
        QFETCH(int, family);
        QFETCH(QByteArray, receipt);
        QFETCH(int, expected);
        ConverterFixture fx;
        fx.setFamily(family);
        QCOMPARE(fx.convert(receipt), std::int16_t(0));
        QCOMPARE(int(fx.result.paymentLines), expected);
    }

    void nonFiscalDocumentIsReportedToTheLink() {
        ConverterFixture fx;
        QCOMPARE(fx.convert("SALE,N1,P100;\r\nCASH;\r\n"), std::int16_t(0));
        QVERIFY(!fx.result.nonFiscalOpen);
        QCOMPARE(fx.convert("OPNF;\r\nPRNT,:X;\r\nCLNF;\r\n"), std::int16_t(0));
        QVERIFY(fx.result.nonFiscalOpen);
    }

    // On lines that are not percent lines, a ",%" field still moves the
    // cheque/card payment number in families 0, 3, 4 and 6: its position.
    void percentFieldPositionIsThePaymentNumber() {
        ConverterFixture fx;
        QCOMPARE(fx.convert("CHEQ,%5,V100;\r\nCARD,V200,%1;\r\n"), std::int16_t(0));
        QCOMPARE(fx.xon(), "100H5T\r\n200H10T\r\n"_ba);
    }

    void amountMarkInTextsFollowsTheLine_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("item text") << "PLUD,:a|b,P100,N1;"_ba
                                   << "\"AHB\"100H1R\r\n"_ba;
        QTest::newRow("percent line") << "PRNT,:a|b,%1;"_ba
                                      << "\"A*B\"@\r\n"_ba;
        QTest::newRow("first place") << "PRNT,:|x;"_ba
                                     << "\"HX\"@\r\n"_ba;
        // Bar codes keep their bytes: no amount mark is read there.
        QTest::newRow("bar code") << "BARC,T1,:a|b;"_ba
                                  << "\"A|B\"1Z\r\n"_ba;
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
        QTest::newRow("18") << u"18"_s << "\"ABCDEFGHIJKLMNOPQR\"@\r\n"_ba;
        QTest::newRow("not numeric: 30")
            << u"lungo"_s << "\"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\"@\r\n"_ba;
        QTest::newRow("32") << u"32"_s << "\"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345\"@\r\n"_ba;
    }
    void descriptionLengthComesFromThePanel() {
        QFETCH(QString, maxLen);
        QFETCH(QByteArray, expected);
        ConverterFixture fx;
        fx.settings.maxDescrLen = maxLen.toStdString();
        QCOMPARE(fx.convert("PRNT,:abcdefghijklmnopqrstuvwxyz0123456789;"), std::int16_t(0));
        QCOMPARE(fx.xon(), expected);
    }

    // A READ line names a plain file of the data directory; "" when it names
    // anything else.
    void readLineNamesItsDataFile_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected"); // "@" stands for the data directory
        QTest::newRow("no name") << "READ;"_ba << u"@/DataReceived.txt"_s;
        QTest::newRow("blank name") << "READ,:   ;"_ba << u"@/DataReceived.txt"_s;
        QTest::newRow("empty name") << "READ,:,N1;"_ba << u"@/DataReceived.txt"_s;
        QTest::newRow("empty quotes") << "READ,:\"\";"_ba << u"@/DataReceived.txt"_s;
        QTest::newRow("plain name") << "READ,:Dati;"_ba << u"@/Dati.002"_s;
        QTest::newRow("any case") << "read,:Dati;"_ba << u"@/Dati.002"_s;
        QTest::newRow("with extension") << "READ,:dati.txt;"_ba << u"@/dati.txt"_s;
        QTest::newRow("quoted plain name") << "READ,:\"x.txt\";"_ba << u"@/x.txt"_s;
        QTest::newRow("three dots") << "READ,:...;"_ba << u"@/..."_s;
        QTest::newRow("path, no extension") << "READ,:/srv/cassa/dati;"_ba << QString();
        QTest::newRow("windows path") << "READ,:C:\\Dati\\r.txt;"_ba << QString();
        QTest::newRow("quoted path") << "READ,:\"/srv/p.txt\";"_ba << QString();
        QTest::newRow("dot in the path") << "READ,:/etc/./shadow;"_ba << QString();
        QTest::newRow("up and out") << "READ,:../../x.txt;"_ba << QString();
        QTest::newRow("backslash up") << "READ,:..\\x.txt;"_ba << QString();
        QTest::newRow("drive") << "READ,:C:x.txt;"_ba << QString();
        QTest::newRow("parent") << "READ,:..;"_ba << QString();
        QTest::newRow("itself") << "READ,:.;"_ba << QString();
    }
    void readLineNamesItsDataFile() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        ConverterFixture fx;
        fx.iCurrentCom = 2;
        expected.replace(QLatin1Char('@'), QDir::cleanPath(fx.dataDir));
        std::string why;
        QCOMPARE(fx.converter.GetDataReceivedPath(line.toStdString(), why), expected);
        QCOMPARE(why.empty(), !expected.isEmpty());
    }

    // Names of Velmar's own files, in any case, whatever their extension.
    void driverFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("own");
        for (const char* own :
             {"SR_START.001",   "sr_dati.004",      "SR_OUT.002",      "SR_ERR.003",
              "SR_MATR.001",    "FINESCO.001",      "VMJOB.002",       "SR_ERR.001.tmp",
              "XON.txt",        "xon.TXT",          "VELMARD.LOG",     "velmar.log",
              "LOGFILE.TXT",    "VMCHKCOM.TXT",     "VMTIMER1.TXT",    "VMChkBd.txt",
              "vmchksco.txt",   "Tb-Reparti.xml",   "TB-IVA.XML",      "Tb-Reparti.xml.bak",
              "TRACE_202612",   "trace_202612.001", "velmar",          "velmard",
              "velmar-convert", "ecrsim",           "libqarn_slm1.so", "qarn_slm1.dll",
              "velmard.exe",    "manvelmar.pdf",    "VELMARD.LOG ",    "VELMARD.LOG.",
              "QARNVELMAR.conf"}) {
            QTest::newRow(own) << QString::fromLatin1(own) << true;
        }
        for (const char* other : {"DataReceived.txt", "dati.001", "velmar_dati.txt", "SR_DATI2.001",
                                  "xsr_dati.001", "TRACE.txt", "ricevuta.003"}) {
            QTest::newRow(other) << QString::fromLatin1(other) << false;
        }
    }
    void driverFileNames() {
        QFETCH(QString, name);
        QFETCH(bool, own);
        QCOMPARE(SlConverter::isDriverFileName(name), own);
    }

    // A READ line that names one of Velmar's files, a path, a link or
    // anything but a plain file refuses the receipt and touches nothing.
    void readLineRefusals_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("entry"); // what stands at data directory + name beforehand
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("the log") << "VELMARD.LOG"_ba << u"file"_s << u"file di Velmar"_s;
        QTest::newRow("the log, lower case")
            << "velmard.log"_ba << u"file"_s << u"file di Velmar"_s;
        QTest::newRow("the library") << "libqarn_slm1.so"_ba << u"file"_s << u"file di Velmar"_s;
        QTest::newRow("another channel's answer") << "SR_OUT"_ba << u"none"_s << u"SR_OUT.001"_s;
        QTest::newRow("the settings") << "VMCHKCOM.TXT"_ba << u"file"_s << u"file di Velmar"_s;
        QTest::newRow("a trace folder") << "TRACE_202612"_ba << u"none"_s << u"file di Velmar"_s;
        QTest::newRow("a path out") << "../../x.txt"_ba << u"none"_s << u"cartella dati"_s;
        QTest::newRow("an absolute path") << "/etc/./shadow"_ba << u"none"_s << u"cartella dati"_s;
        QTest::newRow("a missing folder")
            << "/nonexistent-velmar-folder/x.txt"_ba << u"none"_s << u"cartella dati"_s;
        QTest::newRow("a symbolic link") << "link.txt"_ba << u"symlink"_s << u"collegamento"_s;
        QTest::newRow("a hard link") << "hard.txt"_ba << u"hardlink"_s << u"collegamento fisso"_s;
        QTest::newRow("a pipe") << "pipe.txt"_ba << u"fifo"_s << u"non è un file normale"_s;
    }
    void readLineRefusals() {
        QFETCH(QByteArray, name);
        QFETCH(QString, entry);
        QFETCH(QString, reasonPart);
        ConverterFixture fx;
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(u"outside.txt"_s);
        QVERIFY(writeFile(outside, "keep me"));
        const QString at = QDir(fx.dataDir).filePath(QString::fromLatin1(name));
        if (entry == u"file"_s) {
            QVERIFY(writeFile(at, "keep me"));
        } else if (entry == u"symlink"_s) {
            QVERIFY(QFile::link(outside, at));
        } else if (entry == u"hardlink"_s) {
            QCOMPARE(
                ::link(QFile::encodeName(outside).constData(), QFile::encodeName(at).constData()),
                0);
        } else if (entry == u"fifo"_s) {
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
        }

        QCOMPARE(fx.convert("PRNT,:A;\r\nREAD,:" + name + ";\r\nCASH;\r\n"), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Refused);
        QCOMPARE(fx.xon(), "\"A\"@\r\n"_ba);
        QVERIFY2(fx.converter.lastReason().startsWith(u"riga 2 (READ,:"_s),
                 qPrintable(fx.converter.lastReason()));
        QVERIFY2(fx.converter.lastReason().contains(reasonPart),
                 qPrintable(fx.converter.lastReason()));
        QCOMPARE(readFile(outside), "keep me"_ba);
        if (entry == u"file"_s) {
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
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("library") << "SALE,N1,P100;\r\nXYZW,1;\r\n"_ba
                                 << "100H1R\r\n"_ba << u"riga 2 (XYZW,11;)"_s;
        QTest::newRow("%2 in the line") << "SALE,N1,P100;\r\nXYZW,%2;\r\n"_ba
                                        << "100H1R\r\n"_ba << u"riga 2 (XYZW,%2;): la libreria"_s;
        QTest::newRow("NDCR without issuer")
            << "NDCR,D010125,N1;\r\n"_ba << QByteArray() << u"riga 1"_s;
        QTest::newRow("DELD without date") << "PRNT,:x;\r\nDELD,N1;\r\n"_ba
                                           << "\"X\"@\r\n"_ba << u"DELD"_s;
        QTest::newRow("no tables for a gift")
            << "PLUD,S3,P100,N2;\r\n"_ba << QByteArray() << u"omaggio"_s;
        QTest::newRow("voucher") << "PLUD,S2,P100,N2;\r\n"_ba << QByteArray() << u"buono"_s;
        QTest::newRow("NUL byte")
            << "PRNT,:x;\r\nCASH,V100;\0\r\n"_ba
            << "\"X\"@\r\n"_ba
            << u"riga 2 (CASH,V100;?): la riga contiene il carattere di controllo 0x00"_s;
        QTest::newRow("escape") << "PRNT,:x\x1b;\r\n"_ba << QByteArray() << u"0x1B"_s;
        QTest::newRow("DEL") << "PRNT,:x\x7f;\r\n"_ba << QByteArray() << u"0x7F"_s;
        QTest::newRow("form feed") << "\fCASH;\r\n"_ba << QByteArray() << u"0x0C"_s;
        QTest::newRow("UTF-16") << "\0C\0A\0S\0H\0;\0\r\0\n"_ba << QByteArray() << u"riga 1"_s;
        QTest::newRow("dropped lines only")
            << "DISP,:Ciao;\r\nPRNT,:12345678904;\r\n"_ba << QByteArray() << u"alcun comando"_s;
        QTest::newRow("READ only") << "READ,:dati;\r\n"_ba << QByteArray() << u"alcun comando"_s;
        QTest::newRow("one command too many")
            << "CHEQ\r\n"_ba.repeated(int(SlConverter::kMaxCommands) + 1)
            << "0T\r\n"_ba.repeated(int(SlConverter::kMaxCommands))
            << u"riga 5001 (CHEQ;): lo scontrino supera i 5000 comandi"_s;
        QTest::newRow("one byte too many")
            << "PRNT,:x;\r\n"_ba.repeated(104857) + "PRNT;\r\n"
            << QByteArray() << u"lo scontrino supera i 1048576 byte"_s;
    }
    void refusalNamesTheLineAndKeepsTheLinkPath() {
        QFETCH(QByteArray, receipt);
        QFETCH(QByteArray, written);
        QFETCH(QString, reasonPart);
        ConverterFixture fx;
        QCOMPARE(fx.convert(receipt), std::int16_t(1));
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Refused);
        QCOMPARE(fx.xon(), written);
        QVERIFY(fx.result.outputPath.isEmpty());
        QVERIFY2(fx.converter.lastReason().contains(reasonPart),
                 qPrintable(fx.converter.lastReason()));
        QVERIFY(fx.ui.boxes.isEmpty());
    }

    // A fault while converting refuses the receipt like any refusal, with the
    // fault in the reason; the next receipt converts as usual.
    void faultRefusesTheReceipt_data() {
        QTest::addColumn<QByteArray>("receipt");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("payment number beyond 16 bits")
            << "TEND,N40000,V100;\r\n"_ba << QString() << u"Errore Conv = Overflow (errore 6)"_s;
        QTest::newRow("TEND,N99999") << "TEND,N99999;\r\n"_ba << QString() << u"Overflow"_s;
        QTest::newRow("credit type beyond 16 bits")
            << "CRED,T99999;\r\n"_ba << QString() << u"Overflow"_s;
        QTest::newRow("309 digits") << QByteArray("SALE,N1,P" + QByteArray(309, '9') + ";\r\n")
                                    << QString() << u"Overflow"_s;
        QTest::newRow("amount beyond 32 bits")
            << "PLUD,P99999999.5,Q1000,N1;\r\n"_ba << QString() << u"Overflow"_s;
        QTest::newRow("gift department beyond the table")
            << "PLUD,:X,S3,P100,N60;\r\n"_ba << u"tables"_s << u"60"_s;
        QTest::newRow("READ naming XON.txt")
            << "PRNT,:A;\r\nREAD,:XON.txt;\r\nCASH;\r\n"_ba << QString()
            << u"riga 2 (READ,:XON.txt;): Errore Conv = File già aperto (errore 55)"_s;
        QTest::newRow("READ naming the receipt")
            << "READ,:SR_DATI.001;\r\nCASH;\r\n"_ba << QString() << u"File già aperto"_s;
        QTest::newRow("READ of a folder")
            << "READ,:cartella.txt;\r\nCASH;\r\n"_ba << u"folder"_s << u"errore 75"_s;
        QTest::newRow("receipt that is a folder")
            << QByteArray() << u"input folder"_s << u"errore 75"_s;
        // Only a regular file is read: never through a link, never waiting on a pipe.
        QTest::newRow("receipt that is a link")
            << QByteArray() << u"input link"_s << u"SR_DATI.001 è un collegamento simbolico"_s;
        QTest::newRow("receipt that is a pipe")
            << QByteArray() << u"input pipe"_s << u"SR_DATI.001 non è un file normale"_s;
    }
    void faultRefusesTheReceipt() {
        QFETCH(QByteArray, receipt);
        QFETCH(QString, setup);
        QFETCH(QString, reasonPart);
        ConverterFixture fx;
        if (setup == u"tables"_s) {
            QVERIFY(copyGoldenTables(fx.dir.path()));
        } else if (setup == u"folder"_s) {
            QVERIFY(QDir(fx.dataDir).mkdir(u"cartella.txt"_s));
        }
        const QString input = fx.dir.filePath(u"SR_DATI.001"_s);
        if (setup == u"input link"_s) {
            QVERIFY(QFile::link(fx.writeFile(u"elsewhere.txt"_s, "CASH;\r\n"), input));
        } else if (setup == u"input pipe"_s) {
            QCOMPARE(::mkfifo(QFile::encodeName(input).constData(), 0666), 0);
        }
        if (setup.startsWith(u"input "_s)) {
            if (setup == u"input folder"_s) {
                QVERIFY(QDir(fx.dataDir).mkdir(u"SR_DATI.001"_s));
            }
            QCOMPARE(fx.convertFile(input), std::int16_t(1));
        } else {
            QCOMPARE(fx.convert(receipt), std::int16_t(1));
        }
        QCOMPARE(fx.converter.lastOutcome(), ConversionOutcome::Failed);
        QVERIFY2(fx.converter.lastReason().contains(reasonPart),
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
        const GoldenCase g = parseGolden(base + u".xon"_s);
        const Expectation& want = g.byFamily[family];

        ConverterFixture fx;
        QVERIFY(copyGoldenTables(fx.dir.path()));
        fx.setFamily(family);
        fx.settings.maxDescrLen = g.maxLen.toStdString();
        fx.settings.registrationNumber = g.matricola.toStdString();

        const std::int16_t result = fx.convert(readFile(base + u".sl"_s));

        QCOMPARE(result, std::int16_t(want.refused ? 1 : 0));
        QCOMPARE(fx.converter.lastOutcome(),
                 want.refused ? ConversionOutcome::Refused : ConversionOutcome::Converted);
        QVERIFY2(fx.ui.boxes.isEmpty(), qPrintable(fx.ui.texts().join(QLatin1Char('|'))));
        QCOMPARE(fx.xon(), asXon(want.commands));
        // Only a conversion that reached the end names XON.txt for the link.
        QCOMPARE(fx.result.outputPath, want.refused ? QString() : fx.converter.outputPath());
    }

    void normalize_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& line, const QByteArray& expected) {
            QTest::newRow(name) << line << expected;
        };

        // Documented examples.
        row("sale with leading zeros", "sale,N1,p001000", "SALE,N1,P1000;");
        row("comma splits description", "PLUD,:BREAD, WHITE,P300,N1;", "PLUD,:BREAD,W1,P300,N1;");
        row("empty line", "", "");

        // Keyword: cut to four, upper-cased, not trimmed; the cut keyword picks the conversion.
        row("keyword cut", "PLUDX,N1", "PLUD,N1;");
        row("keyword lower case", "opnf", "OPNF;");
        row("keyword with ;", "OPNF;", "OPNF;");
        row("long keyword with ;", "clnfx;", "CLNF;");
        row("short keyword", "pl", "PL;");
        row("keyword not trimmed", " plud,N01", " PLU,N1;");
        row("cut keyword selects PLUD C rule", "pludx,c0012", "PLUD,C0012;");
        row("cut keyword selects % rule", "MAGGIORAZIONE,%5.1", "MAGG,%5.10;");

        // Data fields: trimmed and upper-cased, digits and "." kept after the tag.
        row("tag upper-cased", "PLUD,n3,s1", "PLUD,N3,S1;");
        row("blanks inside a number", "PLUD,P 1 5 0 ", "PLUD,P150;");
        row("letters inside a number", "PLUD,p1x5", "PLUD,P15;");
        row("tab inside a number", "PLUD,N\t3", "PLUD,N3;");
        row("R keeps its digits only", "PLUD,R12a", "PLUD,R12;");
        row("S with blank", "PLUD,S 3", "PLUD,S3;");
        row("comma in a quantity makes a new field", "PLUD,Q2,5", "PLUD,Q2,51;");

        // A tag left alone by the filter becomes tag + "1", except R and S.
        row("empty N becomes N1", "PLUD,:A,N,P100", "PLUD,:A,N1,P100;");
        row("N of letters becomes N1", "PLUD,Nabc", "PLUD,N1;");
        row("empty S stays S", "PLUD,:A,S,N1", "PLUD,:A,S,N1;");
        row("empty R stays R", "PLUD,:A,R,N1", "PLUD,:A,R,N1;");
        row("R and S emptied by filter", "PLUD,rx,sy", "PLUD,R,S;");
        row("empty P becomes P1", "PLUD,P", "PLUD,P1;");
        row("empty Q becomes Q1", "PLUD,Q", "PLUD,Q1;");
        row("empty > outside NDCR", "SALE,>", "SALE,>1;");
        row("empty N in NDCR", "NDCR,N", "NDCR,N1;");
        row("empty > in NDCR is exempt", "NDCR,>", "NDCR,>;");
        row("empty N in DELD is exempt", "DELD,N", "DELD,N;");

        // Digit filter exemptions.
        row("PLUD C kept", "PLUD,Cab-12 x,N1", "PLUD,CAB-12 X,N1;");
        row("PLUD C upper case in code page",
            QByteArray("PLUD,C\xE0"
                       "b"),
            QByteArray("PLUD,C\xC0"
                       "B;"));
        row("LOTT C kept", "LOTT,c[ab12cd34]", "LOTT,C[AB12CD34];");
        row("LOTT C y diaeresis", "LOTT,C\xFF", "LOTT,C\x9F;");
        row("SALE C filtered and formed", "SALE,C0012x", "SALE,C12;");
        row("NDCR > kept", "NDCR,>ab-1", "NDCR,>AB-1;");
        row("NDCR all fields", "NDCR,D01/02/23,N0001-0002,>pos", "NDCR,D010223,N00010002,>POS;");
        row("> filtered outside NDCR", "SALE,>ab12", "SALE,>12;");
        row("DELD all fields kept", "dELD,d01/02/23,n0001-0002,>pos",
            "DELD,D01/02/23,N0001-0002,>POS;");
        row("DELD fields trimmed at the ends only", "DELD, D01 02 23 ,N1", "DELD,D01 02 23,N1;");
        row("DELD V no number form", "DELD,V010", "DELD,V010;");
        row("DELD ; kept in field", "DELD,N12;", "DELD,N12;");

        // Number forms: Q, N, P in PLUD and SALE.
        row("PLUD P decimal", "PLUD,P1.50,N01", "PLUD,P1.5,N1;");
        row("PLUD P second point stops number", "PLUD,P1.2.3", "PLUD,P1.2;");
        row("PLUD N with decimal zero", "PLUD,N1.0", "PLUD,N1;");
        row("PLUD Q2.5", "PLUD,:A,Q2.5,N1", "PLUD,:A,Q2.500,N1;");
        row("PLUD Q3 stays", "PLUD,Q3,N1", "PLUD,Q3,N1;");
        row("PLUD Q leading zeros", "PLUD,Q003", "PLUD,Q3;");
        row("PLUD Q cut to three", "PLUD,Q1.23456", "PLUD,Q1.234;");
        row("PLUD Q cut, not rounded", "PLUD,Q1.9999", "PLUD,Q1.999;");
        row("PLUD Q trailing zeros then three", "PLUD,Q2.50", "PLUD,Q2.500;");
        row("SALE Q2.5", "SALE,Q2.5", "SALE,Q2.500;");
        row("SALE P", "SALE,P0100.10", "SALE,P100.1;");
        row("TICK Q only filtered", "TICK,Q02.5", "TICK,Q02.5;");
        row("CHEQ P only filtered", "CHEQ,P01.50", "CHEQ,P01.50;");

        // Percent: two decimals only for MOST, DISC, DOST, MAGG.
        row("DISC %10.5", "DISC,%10.5;", "DISC,%10.50;");
        row("MOST % cut to two", "MOST,%10.555", "MOST,%10.55;");
        row("DOST % integer", "DOST,%007", "DOST,%7;");
        row("MAGG % leading zeros", "magg,%007.1", "MAGG,%7.10;");
        row("DISC % second point", "DISC,%1.2.3", "DISC,%1.20;");
        row("SALE % not formed", "SALE,%10.5", "SALE,%10.5;");
        row("PLUD % not formed", "PLUD,%010.5", "PLUD,%010.5;");

        // V, N, C: plain number except in NDCR, LOTT, DELD, CLER.
        row("CHEQ V", "CHEQ,V0010.50", "CHEQ,V10.5;");
        row("TEND N and V", "TEND,N02,V001000", "TEND,N2,V1000;");
        row("OPEN N", "OPEN,N01", "OPEN,N1;");
        row("FUNC N", "FUNC,N003", "FUNC,N3;");
        row("CRED T not formed", "CRED,t03,V0500", "CRED,T03,V500;");
        row("CLER V N C not formed", "CLER,N007,V010,C003", "CLER,N007,V010,C003;");
        row("LOTT N V not formed", "LOTT,N007,V010", "LOTT,N007,V010;");
        row("NDCR V not formed", "NDCR,V010", "NDCR,V010;");

        // Text fields.
        row("text upper-cased", "PRNT,:Grazie", "PRNT,:GRAZIE;");
        row("text keeps digits and blanks", "PLUD,:ab 12.5x  ", "PLUD,:AB 12.5X  ;");
        row("text cut before first colon", "PRNT, :ciao ", "PRNT,:CIAO ;");
        row("N1:ABC becomes :ABC", "PLUD,N1:ABC,N2", "PLUD,:ABC,N2;");
        row("second colon kept", "PRNT,x:a:b", "PRNT,:A:B;");
        row("colon alone gets a blank", "PRNT,:", "PRNT,: ;");
        row("tag and colon alone", "PRNT,N1:", "PRNT,: ;");
        row("colon and tab", "PRNT,:\t", "PRNT,: ;");
        row("tabs removed", "PRNT,:\tA\tb\t", "PRNT,:AB;");
        row("TOTALE", "PRNT,:TOTALE", "PRNT,:TOT.  ;");
        row("Totale", "PRNT,:Totale 5", "PRNT,:TOT.   5;");
        row("totale", "PRNT,:totale", "PRNT,:TOT.  ;");
        row("mixed-case ToTaLe", "PRNT,:sub ToTaLe", "PRNT,:SUB TOT.  ;");
        row("two TOTALE", "PRNT,:totale TOTALE", "PRNT,:TOT.   TOT.  ;");
        row("accented description", "PLUD,:caff\xE8,N1", "PLUD,:CAFFE,N1;");
        row("ampersand", "PRNT,:a&b", "PRNT,:AeB;");

        // The closing ";".
        row("; already at the end", "SALE,N1,P1000;", "SALE,N1,P1000;");
        row("; inside text, none appended", "PRNT,:Grazie; ciao", "PRNT,:GRAZIE; CIAO");
        row("; inside text before more fields", "PLUD,:a;b,N01", "PLUD,:A;B,N1");
        row("; at end of text", "PRNT,:x;", "PRNT,:X;");
        row("; in number field filtered, appended again", "PLUD,N1;x", "PLUD,N1;");
        row("NDCR > with ;", "NDCR,>pos;", "NDCR,>POS;");

        // Empty and blank fields.
        row("empty field vanishes", "PLUD,N1,,P100", "PLUD,N1,P100;");
        row("blank field vanishes", "PLUD,:A, ,N1", "PLUD,:A,N1;");
        row("trailing comma survives", "PLUD,:BREAD,", "PLUD,:BREAD,;");
        row("trailing blank field", "PLUD,N1, ", "PLUD,N1,;");
    }
    void normalize() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes(NormalizeSlLine(str(line), 30)), expected);
    }
    // Every byte of the replacement table, seen through upper case first.
    void replacement_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("becomes");

        const std::pair<int, const char*> rows[] = {
            // Bytes that upper case leaves alone.
            {128, "E"},
            {130, "e"},
            {133, "a"},
            {135, "c"},
            {136, "e"},
            {138, "e"},
            {141, "i"},
            {149, "o"},
            {151, "u"},
            {192, "A"},
            {193, "A"},
            {195, "E"},
            {200, "E"},
            {201, "E"},
            {204, "I"},
            {205, "I"},
            {210, "O"},
            {211, "O"},
            {217, "U"},
            {218, "U"},
            {196, "AE"},
            {214, "OE"},
            {220, "UE"},
            {'&', "e"},
            {'"', "'"},
            // Small letters: upper-cased first, then replaced when the capital is.
            {224, "A"},
            {225, "A"},
            {227, "E"},
            {232, "E"},
            {233, "E"},
            {236, "I"},
            {237, "I"},
            {242, "O"},
            {243, "O"},
            {249, "U"},
            {250, "U"},
            {228, "AE"},
            {246, "OE"},
            {252, "UE"},
            {154, "e"},
            {'a', "A"},
            // Upper-cased to a byte without replacement.
            {156, "\x8C"},
            {245, "\xD5"},
            {248, "\xD8"},
            {226, "\xC2"},
            {158, "\x8E"},
            {255, "\x9F"},
            // Left alone.
            {140, "\x8C"},
            {213, "\xD5"},
            {247, "\xF7"},
            {'1', "1"}};
        for (const auto& [code, becomes] : rows) {
            QTest::addRow("byte %d", code) << code << QByteArray(becomes);
        }
    }

    void replacement() {
        QFETCH(int, code);
        QFETCH(QByteArray, becomes);
        QByteArray line = "PRNT,:X";
        line += char(code);
        line += "Y";
        const QByteArray expected = "PRNT,:X" + becomes + "Y;";
        QCOMPARE(bytes(NormalizeSlLine(str(line), 30)), expected);
    }
    // The description keeps at most MaxDescrLen characters after the ":", counted
    // after tabs are removed and letters replaced.
    void descriptionLength_data() {
        QTest::addColumn<int>("maxLen");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expectedText");
        const auto row = [](const char* name, int maxLen, const QByteArray& text,
                            const QByteArray& expectedText) {
            QTest::newRow(name) << maxLen << text << expectedText;
        };

        const QByteArray alpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        row("30: 36 cut to 30", 30, alpha, alpha.left(30));
        row("30: exactly 30 kept", 30, alpha.left(30), alpha.left(30));
        row("30: 31 cut", 30, alpha.left(31), alpha.left(30));
        row("18: cut", 18, alpha, alpha.left(18));
        row("32: cut", 32, alpha, alpha.left(32));
        row("18: lower case cut after upper", 18, alpha.toLower(), alpha.left(18));
        row("18: AE lengthens past the limit", 18, alpha.left(17) + "\xE4", alpha.left(17) + "A");
        row("18: AE fills the limit exactly", 18, alpha.left(16) + "\xC4", alpha.left(16) + "AE");
        row("18: tab does not count", 18, alpha.left(9) + "\t" + alpha.mid(9, 9), alpha.left(18));
        row("18: blanks count", 18, QByteArray(20, ' '), QByteArray(18, ' '));
        row("20: TOTALE at the cut", 20, QByteArray(16, 'A') + "totale",
            QByteArray(16, 'A') + "TOT.");
    }
    void descriptionLength() {
        QFETCH(int, maxLen);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expectedText);
        const QByteArray line = "PLUD,:" + text + ",N1";
        const QByteArray expected = "PLUD,:" + expectedText + ",N1;";
        QCOMPARE(bytes(NormalizeSlLine(str(line), std::int16_t(maxLen))), expected);
    }

    void lookup_data() {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("preset");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("value");
        const auto row = [](const char* name, bool atStart, const QByteArray& line,
                            const QByteArray& key, const QByteArray& preset, int result,
                            const QByteArray& value) {
            QTest::newRow(name) << atStart << line << key << preset << result << value;
        };

        const QByteArray plud = "PLUD,:BREAD,P150,N1;";
        // The fields of a plain item line.
        row("keyword PLUD", true, plud, "PLUD", "x", 1, "UD");
        row("colon field", false, plud, ",:", "", 1, "BREAD");
        row("P field", false, plud, ",P", "", 1, "150");
        row("N field stops at ;", false, plud, ",N", "", 1, "1");
        row("last field stops at ;", false, "SALE,N1,P1000;", ",P", "", 1, "1000");
        row("value runs to end of line without ;", false, "PLUD,N12", ",N", "", 1, "12");
        row("text value keeps blanks", false, "PRNT,:A B ;", ",:", "", 1, "A B ");

        // A keyword other than DISP, PRNT and CLER: the value is taken from the 3rd
        // character on, like any other key; it stops at the first comma.
        row("keyword with comma, value from 3rd character", true, "SALE,N1,P1000;", "SALE,", "x", 1,
            "LE");

        // Keyword recognition: case, at-start.
        row("keyword ignores case", true, "plud,n1;", "PLUD", "", 1, "ud");
        row("field key ignores case", false, "plud,n7;", ",N", "", 1, "7");
        row("XPLUD at start: not found", true, "XPLUD,N1;", "PLUD", "keep", 0, "keep");
        row("XPLUD anywhere: found", false, "XPLUD,N1;", "PLUD", "keep", 1, "UD");
        row("SALE; is not SALE,", true, "SALE;", "SALE,", "keep", 0, "keep");
        row("key longer than line", true, "PL", "PLUD", "keep", 0, "keep");
        row("at start, key only later in line", true, "SALE,:PLUD;", "PLUD", "keep", 0, "keep");

        // Not found: the value is left as the caller preset it.
        row("absent key, empty preset", false, plud, ",Q", "", 0, "");
        row("absent key keeps preset", false, plud, ",Q", "3", 0, "3");

        // Found with an empty value.
        row("empty value before comma", false, "PLUD,N,P1;", ",N", "x", 1, "");
        row("empty value before ;", false, "PLUD,P1,N;", ",N", "x", 1, "");
        row("empty value at end of line", false, "PLUD,P1,N", ",N", "x", 1, "");

        // First match wins.
        row("first of two N fields", false, "PLUD,N1,N2;", ",N", "", 1, "1");
        row("key inside a text is not a field", false, "PLUD,:A N5,N2;", ",N", "", 1, "2");

        // ",S" and ",R" keep the tag letter; ",S" also matches ",S1".
        row(",S matches S1, tag kept", false, "PLUD,S1,N3;", ",S", "", 1, "S1");
        row(",S bare", false, "PLUD,:A,S,N3;", ",S", "", 1, "S");
        row(",S first of S3 and S", false, "PLUD,S3,S;", ",S", "", 1, "S3");
        row(",R keeps tag", false, "PLUD,R5,N1;", ",R", "", 1, "R5");
        row(",R empty value is the tag", false, "PLUD,R;", ",R", "", 1, "R");
        row(",S1 value is after the comma and S", false, "PLUD,S1,N3;", ",S1", "", 1, "1");
        row(",S1 absent when only S", false, "PLUD,S,N3;", ",S1", "k", 0, "k");
        row(",S3 does not match S1", false, "PLUD,S1,N3;", ",S3", "k", 0, "k");

        // DISP, PRNT and CLER: the value always starts at the 7th character.
        row("PRNT text", true, "PRNT,:GRAZIE;", "PRNT", "", 1, "GRAZIE");
        row("PRNT lower-case line", true, "prnt,:ciao;", "PRNT", "", 1, "ciao");
        row("DISP text", true, "DISP,:HELLO,N2;", "DISP", "", 1, "HELLO");
        row("DISP with N first", true, "DISP,N2,:X;", "DISP", "", 1, "2");
        row("CLER", true, "CLER,N1;", "CLER", "", 1, "1");
        row("DISP found later, still 7th character", false, "XDISP,:ABCDEF;", "DISP", "", 1,
            ":ABCDEF");
        row("PRNT alone: found, empty value", true, "PRNT", "PRNT", "x", 1, "");
        row("PRNT; short line: found, empty value", true, "PRNT;", "PRNT", "x", 1, "");
        row("OPNF is not a 7th-character key", true, "OPNF;", "OPNF", "x", 1, "NF");
        row("READ keyword value", true, "READ,:F.TXT;", "READ", "", 1, "AD");
    }
    void lookup() {
        QFETCH(bool, atStart);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, preset);
        QFETCH(int, result);
        QFETCH(QByteArray, value);

        bool flag = atStart;
        std::string v = str(preset);
        const std::string l = str(line);
        const std::string k = str(key);
        QCOMPARE(int(GetSlField(flag, v, l, k)), result);
        QCOMPARE(QByteArray::fromStdString(v), value);
        QCOMPARE(flag, atStart);
    }
    // When the key is at the start of the line both ways of asking give the same
    // field.
    void atStartGivesSameValueAsAnywhere_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("key");
        const auto row = [](const char* name, const QByteArray& line, const QByteArray& key) {
            QTest::newRow(name) << line << key;
        };
        row("PRNT", "PRNT,:OK;", "PRNT");
        row("OPEN,", "OPEN,N1;", "OPEN,");
        row("CRED", "cred,T3,V500;", "CRED");
    }
    void atStartGivesSameValueAsAnywhere() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, key);
        std::string a = "a", b = "b";
        bool t = true, f = false;
        QCOMPARE(int(GetSlField(t, a, str(line), str(key))), 1);
        QCOMPARE(int(GetSlField(f, b, str(line), str(key))), 1);
        QCOMPARE(a, b);
    }

    void barFix_data() {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<bool>("percent");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& out, bool percent,
                            const QByteArray& expected) {
            QTest::newRow(name) << out << percent << expected;
        };

        row("amount mark H", "12|3M", false, "12H3M");
        row("amount mark * on percent line", "12|3M", true, "12*3M");
        row("bar first dropped", "|X", false, "X");
        row("bar first dropped, percent", "|X", true, "X");
        row("bar first, lower case", "|x", false, "X");
        row("bar alone", "|", false, "");
        row("upper-cased", "\"abc\"12|3m", false, "\"ABC\"12H3M");
        row("upper-cased in code page", "\"caff\xE8\"1|1r", false, "\"CAFF\xC8\"1H1R");
        row("only the first bar", "1|2|3M", false, "1H2|3M");
        row("only the first bar, percent", "1|2|3M", true, "1*2|3M");
        row("two bars at start", "||x", false, "|X");
        row("bar at end", "12|", false, "12H");
        row("no bar: untouched", "12h3m", false, "12h3m");
        row("no bar, percent: untouched", "1*3m", true, "1*3m");
        row("empty", "", false, "");
    }
    void barFix() {
        QFETCH(QByteArray, out);
        QFETCH(bool, percent);
        QFETCH(QByteArray, expected);
        std::string s = str(out);
        applyBarFix(s, percent);
        QCOMPARE(bytes(s), expected);
    }
    void depositFix_data() {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("variant");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* name, const QByteArray& out, int variant,
                            const QByteArray& expected) {
            QTest::newRow(name) << out << variant << expected;
        };

        const QByteArray depo = "10M500H3T=";
        const QByteArray prel = "11M500H3T=";

        // Family 1.
        row("v1 deposit", depo, 1, "14M500H1T");
        row("v1 withdrawal", prel, 1, "15M500H1T");
        row("v1 without =", "10M500H3T", 1, "14M500H1T");
        row("v1 without T", "10M500H=", 1, "14M500H");
        row("v1 two-digit payment", "11M500H12T=", 1, "15M500H11T");
        row("v1 first T only", "10M5T00H3T=", 1, "14M1T00H3T");
        row("v1 = not at end stays", "10M500H3T=X", 1, "14M500H1T=X");
        row("v1 only one final =", "10M500H3T==", 1, "14M500H1T=");
        row("v1 prefix only", "10M", 1, "14M");
        row("v1 other prefix untouched", "12M500H3T=", 1, "12M500H3T=");
        row("v1 prefix not at start", "510M500H3T=", 1, "510M500H3T=");
        row("v1 1M untouched", "1M500H3T=", 1, "1M500H3T=");
        row("v1 empty", "", 1, "");

        // Family 3: only the final "=".
        row("v3 deposit", depo, 3, "10M500H3T");
        row("v3 withdrawal", prel, 3, "11M500H3T");
        row("v3 other prefix", "12M500H3T=", 3, "12M500H3T");
        row("v3 only one final =", "10M500H3T==", 3, "10M500H3T=");
        row("v3 = not at end", "=10M500H3T", 3, "=10M500H3T");
        row("v3 = alone", "=", 3, "");
        row("v3 empty", "", 3, "");

        // Other families: no change.
        for (int v : {0, 2, 4, 5, 6}) {
            QTest::addRow("v%d deposit", v) << depo << v << depo;
            QTest::addRow("v%d withdrawal", v) << prel << v << prel;
        }
    }
    void depositFix() {
        QFETCH(QByteArray, out);
        QFETCH(int, variant);
        QFETCH(QByteArray, expected);
        std::string s = str(out);
        applyDepositFix(s, variant);
        QCOMPARE(bytes(s), expected);
    }
    void paymentLine_data() {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<bool>("payment");
        const auto row = [](const char* name, const QByteArray& out, bool payment) {
            QTest::newRow(name) << out << payment;
        };

        row("500H1T", "500H1T", true);
        row("1T", "1T", true);
        row("12T", "12T", true);
        row("0T", "0T", true);
        row("1000H10T", "1000H10T", true);
        row("quoted text then payment", "\"BANCA\"500H8T", true);
        row("digit-T earlier, ends with T", "1TAT", true);
        row("T", "T", false);
        row("500H1TX", "500H1TX", false);
        row("ABT", "ABT", false);
        row("HT", "500HT", false);
        row("trailing blank", "500H1T ", false);
        row("item line", "150H1R", false);
        row("digit then blank then T", "1 T", false);
        row("empty", "", false);
    }
    void paymentLine() {
        QFETCH(QByteArray, out);
        QFETCH(bool, payment);
        QCOMPARE(isPaymentLine(str(out)), payment);
    }

    // Sums worked out by hand: RSSMRA80A01H501 adds up to 98 (98 mod 26 = 20, U);
    // BNCGVN75L15F205 to 110 (mod 26 = 6, G); RYSMRA80A01H501 to 104 (A).
    void helperAgreesWithWorkedExamples() {
        QCOMPARE(checkLetter("RSSMRA80A01H501"), 'U');
        QCOMPARE(checkLetter("BNCGVN75L15F205"), 'G');
        QCOMPARE(checkLetter("RYSMRA80A01H501"), 'A');
    }
    void codiceFiscale_data() {
        QTest::addColumn<QByteArray>("code");
        QTest::addColumn<bool>("valid");
        const auto row = [](const char* name, const QByteArray& code, bool valid) {
            QTest::newRow(name) << code << valid;
        };

        row("RSSMRA80A01H501U", "RSSMRA80A01H501U", true);
        row("BNCGVN75L15F205G", "BNCGVN75L15F205G", true);
        row("check A", "RYSMRA80A01H501A", true);
        row("wrong check letter", "RSSMRA80A01H501V", false);
        row("wrong check letter 2", "BNCGVN75L15F205H", false);
        row("digit 0 in place of check A", "RYSMRA80A01H5010", false);
        row("symbol as check", "RSSMRA80A01H501-", false);

        // Whatever the helper computes for a few more codes.
        const QByteArray more[] = {"VRDGPP13M10B293", "ZZZZZZ99Z99Z999", "AAAAAA00A00A000",
                                   "MRTMTT91D08F205", "XXXYYY12T34W567", "0123456789ABCDE"};
        for (const QByteArray& m : more) {
            QTest::addRow("computed %s", m.constData()) << withCheck(m) << true;
            QTest::addRow("computed wrong %s", m.constData()) << withWrongCheck(m) << false;
        }

        // Case.
        row("all lower case", "rssmra80a01h501u", true);
        row("lower-case check letter", "RSSMRA80A01H501u", true);
        row("one lower-case letter", "RSSMRa80A01H501U", true);

        // Digits and letters exchanged: a digit counts as the letter A..J.
        row("letter A written as digit 0", "RSSMR080A01H501U", true);
        row("letter H written as digit 7", "RSSMRA80A017501U", true);
        row("digit 8 written as letter I", "RSSMRAI0A01H501U", true);
        row("digit 1 written as letter B", "RSSMRA80A0BH50BU", true);
        // Substitution letter U for 8 changes the sum (16 instead of 19): check R.
        row("substitution U for 8, check R", "RSSMRAU0A01H501R", true);
        row("substitution U for 8, old check", "RSSMRAU0A01H501U", false);

        // Characters other than letters and digits.
        row("hyphen", "RSSMRA80A01H50-U", false);
        row("blank inside", "RSSMRA 0A01H501U", false);
        row("accented letter",
            QByteArray("RSSMR\xC0"
                       "80A01H501U"),
            false);
        row("small accented letter",
            QByteArray("RSSMR\xE0"
                       "80A01H501U"),
            false);
        row("symbol first", "*SSMRA80A01H501U", false);

        // Length.
        row("empty", "", false);
        row("15 characters", "RSSMRA80A01H501", false);
        row("17 characters", "RSSMRA80A01H501UX", false);
        row("trailing blank", "RSSMRA80A01H501U ", false);
        row("leading blank", " RSSMRA80A01H501U", false);
        row("VAT number", "12345678903", false);
        row("11 characters ending in blank", "1234567890 ", false);
    }
    void codiceFiscale() {
        QFETCH(QByteArray, code);
        QFETCH(bool, valid);
        QCOMPARE(CheckCodiceFiscale(str(code)), valid);
    }
    void partitaIva_data() {
        QTest::addColumn<QByteArray>("number");
        QTest::addColumn<bool>("valid");
        const auto row = [](const char* name, const QByteArray& number, bool valid) {
            QTest::newRow(name) << number << valid;
        };

        // 1+3+5+7+9 = 25; 2,4,6,8,0 doubled give 4+8+(1+2)+(1+6)+0 = 22; 47 -> 3.
        row("12345678903", "12345678903", true);
        row("12345678904", "12345678904", false);
        row("12345678900", "12345678900", false);
        row("00000000000", "00000000000", true);
        row("00000000001", "00000000001", false);
        // 0+2+4+6+8 = 20; 1,3,5,7,9 doubled give 2+6+1+5+9 = 23; 43 -> 7.
        row("01234567897", "01234567897", true);
        row("01234567898", "01234567898", false);
        // 1 + (1+8) = 10: 10 - 0 = 10 becomes 0.
        row("19000000000", "19000000000", true);
        row("19000000001", "19000000001", false);
        // 9 doubled adds 1 + 8 = 9, so the check is 1 (18 counted whole would give 2).
        row("09000000001", "09000000001", true);
        row("09000000002", "09000000002", false);
        // An odd-position digit is not doubled: 5 gives 5 (doubled it would give 9).
        row("50000000005", "50000000005", true);
        row("50000000009", "50000000009", false);

        // Trailing blanks are removed; other blanks are not.
        row("one trailing blank", "12345678903 ", true);
        row("three trailing blanks", "12345678903   ", true);
        row("11 characters ending in blank", "1234567890 ", false);
        row("leading blank", " 12345678903", false);
        row("blank inside", "12345 78903", false);

        // Letters and other characters.
        row("letter last", "1234567890A", false);
        row("letter inside", "12345678A03", false);
        row("hyphen", "1234567-903", false);
        row("superscript two", "1234567890\xB2", false);

        // Length.
        row("empty", "", false);
        row("blanks only", "           ", false);
        row("10 digits", "1234567890", false);
        row("12 digits", "123456789030", false);
        row("tax code", "RSSMRA80A01H501U", false);
    }
    void partitaIva() {
        QFETCH(QByteArray, number);
        QFETCH(bool, valid);
        QCOMPARE(CheckPartitaIva(str(number)), valid);
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
