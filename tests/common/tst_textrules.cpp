// The shared text rules: reading numbers from text, rounding and range checks,
// number text, upper case in Windows-1252, case-insensitive search, trimming;
// Windows-1252 for display: bytes to characters and an operator's text back;
// and byte-exact line files: reading with CR LF, LF or lone CR as line ends
// (including a CR LF split between two reads of the reader), writing with CR LF.

#include "common/CaseTable.h"
#include "common/Cp1252.h"
#include "common/Fault.h"
#include "common/LineFile.h"
#include "common/TextRules.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <string>
#include <vector>

using namespace velmar;
using velmar::test::addCaseRows;
using velmar::test::caseFields;
using velmar::test::faultOf;
using namespace Qt::StringLiterals;

namespace {

std::string_view view(const QByteArray& b) {
    return std::string_view(b.constData(), static_cast<std::size_t>(b.size()));
}

QByteArray bytes(std::string_view v) {
    return QByteArray(v.data(), qsizetype(v.size()));
}

// QCOMPARE compares doubles with a tolerance; these rules must be exact. 17
// digits tell any two doubles apart (+ 0.0 makes -0 read as 0, as == has it).
QByteArray exact(double v) {
    return QByteArray::number(v + 0.0, 'g', 17);
}

const QByteArray k400(400, '7');

// The characters of bytes 0x80-0x9F; the five unassigned positions (81, 8D, 8F,
// 90, 9D) keep their value as a C1 control. Every other byte is its Latin-1 self.
const char16_t kHigh[] = u"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160"
                         u"\u2039\u0152\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022"
                         u"\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178";

// The reader takes the file in pieces of this size; line ends that straddle
// a multiple of it are the hard case.
constexpr int kChunk = 64 * 1024;

// Lines as a list QCOMPARE can show: it names the first differing line, shortened.
QByteArrayList list(const std::vector<std::string>& lines) {
    QByteArrayList out;
    for (const auto& l : lines) {
        out << QByteArray::fromStdString(l);
    }
    return out;
}

// Lines as tests/data/common/lineends.txt gives them: each followed by "\n".
QByteArray joinedLines(const QByteArrayList& in) {
    QByteArray out;
    for (const QByteArray& l : in) {
        out += l + '\n';
    }
    return out;
}

QByteArrayList readAll(const QString& path) {
    LineReader reader(path);
    QByteArrayList out;
    for (std::string line; reader.next(line);) {
        out << QByteArray::fromStdString(line);
    }
    return out;
}

} // namespace

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    // leadingNumber reads the number a text starts with (overflow: Fault 6);
    // isNumeric says whether the whole text, blanks trimmed, is such a number.
    void numbers_data() {
        addCaseRows(u"common/numbers.txt"_s, {"text", "value", "numeric"});
        // Long texts; "overflow": leadingNumber throws Fault 6.
        QTest::newRow("1e308") << "1" + QByteArray(308, '0') << "1e308"_ba << "1"_ba;
        QTest::newRow("1e309") << "1" + QByteArray(309, '0') << "overflow"_ba << "0"_ba;
        QTest::newRow("negative huge") << "-" + k400 << "overflow"_ba << "0"_ba;
        QTest::newRow("huge, fraction, unit") << " " + k400 + ".25kg" << "overflow"_ba << "0"_ba;
        QTest::newRow("400 leading zeros") << QByteArray(400, '0') + "1" << "1"_ba << "1"_ba;
        QTest::newRow("tiny reads zero") << "0." + QByteArray(400, '0') + "1" << "0"_ba << "1"_ba;
        QTest::newRow("long fraction") << "1." + QByteArray(400, '3') << "1.3333333333333333"_ba
                                       << "1"_ba;
    }
    void numbers() {
        const auto [text, value, numeric] = caseFields("text", "value", "numeric");
        const bool overflow = value == "overflow";
        double got = -12345;
        QCOMPARE(faultOf([&] { got = text::leadingNumber(view(text)); }),
                 overflow ? faultno::Overflow : 0);
        if (!overflow) {
            QCOMPARE(exact(got), exact(value.toDouble()));
        }
        bool isNum = numeric != "1";
        QCOMPARE(faultOf([&] { isNum = text::isNumeric(view(text)); }), 0);
        QCOMPARE(isNum, numeric == "1");
    }

    // roundHalfEven, and toInt16 / toInt32, which round the same way and fault
    // outside their range.
    void rounding_data() {
        addCaseRows(u"common/rounding.txt"_s, {"value", "rounded", "fits16", "fits32"});
    }
    void rounding() {
        const auto [value, rounded, fits16, fits32] =
            caseFields("value", "rounded", "fits16", "fits32");
        const double v = value.toDouble(), r = rounded.toDouble();
        if (!std::isnan(v)) {
            QCOMPARE(exact(text::roundHalfEven(v)), exact(r));
        }
        std::int16_t got16 = 0;
        std::int32_t got32 = 0;
        QCOMPARE(faultOf([&] { got16 = text::toInt16(v); }), fits16 == "1" ? 0 : faultno::Overflow);
        QCOMPARE(faultOf([&] { got32 = text::toInt32(v); }), fits32 == "1" ? 0 : faultno::Overflow);
        QCOMPARE(exact(got16), exact(fits16 == "1" ? r : 0.0));
        QCOMPARE(exact(got32), exact(fits32 == "1" ? r : 0.0));
    }

    void numberText_data() { addCaseRows(u"common/numbertext.txt"_s, {"value", "expected"}); }
    void numberText() {
        const auto [value, expected] = caseFields("value", "expected");
        QCOMPARE(QByteArray::fromStdString(text::numberText(value.toDouble())), expected);
    }

    // Every byte's capital is the code page's byte for the Unicode capital of
    // its character, when the code page has that capital; otherwise the byte
    // stays. The text forms change every byte of a text, NUL included.
    void upperByte_data() {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("expected");
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const QByteArray up = cp1252::encode(cp1252::decode(std::string_view(&c, 1)).toUpper());
            QTest::addRow("%d", b) << b << (up.size() == 1 && up != "?" ? int(uchar(up[0])) : b);
        }
    }
    void upperByte() {
        QFETCH(int, byte);
        QFETCH(int, expected);
        const char c = static_cast<char>(byte);
        QCOMPARE(int(static_cast<unsigned char>(text::upperByte(c))), expected);
        const QByteArray in = "x"_ba + c + '\0' + c;
        const QByteArray want = "X"_ba + char(expected) + '\0' + char(expected);
        QCOMPARE(bytes(text::toUpper(view(in))), want);
        std::string inPlace = in.toStdString();
        text::toUpperInPlace(inPlace);
        QCOMPARE(QByteArray::fromStdString(inPlace), want);
    }

    // findNoCase; startsWithNoCase must agree with a match at position 1.
    void findNoCase_data() {
        addCaseRows(u"common/findnocase.txt"_s, {"hay", "needle", "start", "expected"});
    }
    void findNoCase() {
        const auto [hay, needle, start, expected] =
            caseFields("hay", "needle", "start", "expected");
        const auto from = std::size_t(start.toInt());
        QCOMPARE(QByteArray::number(text::findNoCase(view(hay), view(needle), from)), expected);
        if (from == 1) {
            QCOMPARE(QByteArray::number(text::findNoCase(view(hay), view(needle))), expected);
            QCOMPARE(text::startsWithNoCase(view(hay), view(needle)), expected == "1");
        }
    }

    // Only spaces are trimmed: tabs, no-break spaces and line ends stay.
    void trimBlanks_data() {
        addCaseRows(u"common/trimblanks.txt"_s, {"text", "both", "left", "right"});
    }
    void trimBlanks() {
        const auto [text, both, left, right] = caseFields("text", "both", "left", "right");
        QCOMPARE(bytes(text::trimBlanks(view(text))), both);
        QCOMPARE(bytes(text::trimLeftBlanks(view(text))), left);
        QCOMPARE(bytes(text::trimRightBlanks(view(text))), right);
    }


    // ---- Windows-1252 for display: bytes to characters and back ----

    // Each byte is its own character, and back.
    void decodeAllBytes() {
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            all += static_cast<char>(b);
        }
        const QString text = cp1252::decode(all);
        QCOMPARE(text.size(), 256);
        for (int b = 0; b < 256; ++b) {
            QCOMPARE(int(text.at(b).unicode()), b >= 0x80 && b < 0xA0 ? int(kHigh[b - 0x80]) : b);
        }
        QCOMPARE(cp1252::encode(text), all);
    }

    void encodeCharacter_data() { addCaseRows(u"common/cp1252encode.txt"_s, {"unicode", "byte"}); }
    void encodeCharacter() {
        const auto [unicode, byte] = caseFields("unicode", "byte");
        const QByteArray out = cp1252::encode(QString(QChar(char16_t(unicode.toInt(nullptr, 16)))));
        QCOMPARE(out.toHex().toUpper(), byte);
    }

    void readsLineEnds_data() {
        addCaseRows(u"common/lineends.txt"_s, {"bytes", "lines"});
        // Every byte but CR and LF is part of a line; lines longer than many reads.
        QByteArray all;
        for (int b = 0; b < 256; ++b) {
            if (b != '\r' && b != '\n') {
                all += char(b);
            }
        }
        const QByteArray huge = all.repeated(4200);
        QTest::newRow("all bytes, megabyte lines")
            << all + "\r\n" + huge + "\n" + QByteArray("\0\0", 2) + "\r" + huge +
                   QByteArray("finesco\0", 8)
            << joinedLines({all, huge, QByteArray("\0\0", 2), huge + QByteArray("finesco\0", 8)});

        // A long line whose end starts at byte `at`, around the first reads' boundaries, then "z".
        for (const char* end : {"\r\n", "\n", "\r"}) {
            for (int at : {kChunk - 2, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 1}) {
                const QByteArray line = huge.left(at - 7);
                QTest::addRow("%s at %d", QByteArray(end).toPercentEncoding().constData(), at)
                    << "first\r\n" + line + end + "z" << joinedLines({"first", line, "z"});
            }
        }
        // A CR LF across each of four boundaries in one file.
        QByteArray four, fourLines;
        for (int k = 1; k <= 4; ++k) {
            const QByteArray line = huge.mid(k, k * kChunk - 1 - four.size());
            four += line + "\r\n\r\nafter\n";
            fourLines += line + "\n\nafter\n";
        }
        QTest::newRow("CR LF across four boundaries") << four << fourLines;
        // The line end at the boundary followed by another one, or by the end of
        // the file: the rest of the file, and the lines read after the long one.
        const QByteArray line = huge.left(kChunk - 1);
        const char* const ends[][3] = {{"CR LF across, then empty line", "\r\n\r\nz", "\nz\n"},
                                       {"CR LF across, then CR LF at end", "\r\nz\r\n", "z\n"},
                                       {"CR last of read, then CR", "\r\rz", "\nz\n"},
                                       {"CR last of read, then LF CR", "\rz\n\r", "z\n\n"},
                                       {"LF last of read, then LF", "\n\nz", "\nz\n"},
                                       {"CR LF across, end of file", "\r\n", ""},
                                       {"CR last byte of file", "\r", ""}};
        for (const auto& [name, rest, after] : ends) {
            QTest::newRow(name) << line + rest << line + "\n" + after;
        }
    }
    void readsLineEnds() {
        const auto [bytes, lines] = caseFields("bytes", "lines");
        QByteArrayList expected = lines.split('\n');
        expected.removeLast(); // what follows the last line's "\n"
        const QString p = writeFile(bytes);
        QCOMPARE(readAll(p), expected);
        QCOMPARE(list(readLines(p).lines), expected);
    }
    void readerStates() {
        LineReader reader;
        std::string line = "unchanged";
        QVERIFY(!reader.next(line)); // never opened
        QVERIFY(!reader.open(path("no such file.txt")));
        QVERIFY(!reader.isOpen());
        QVERIFY(!reader.next(line));
        QVERIFY(readLines(path("absent folder/absent.txt")).missing());
        const LinesRead folder = readLines(path("")); // there, but not a file to read
        QVERIFY(folder.lines.empty() && folder.fault != 0 && !folder.missing());

        // A reader opened on a second file forgets what it had buffered from the first.
        QVERIFY(reader.open(writeFile("a1\r\na2\r\na3\r\n")));
        QVERIFY(reader.next(line));
        QCOMPARE(QByteArray::fromStdString(line), "a1"_ba);
        QVERIFY(reader.open(writeFile("b1\nb2")));
        QVERIFY(reader.next(line) && line == "b1");
        QVERIFY(reader.next(line) && line == "b2");
        // At the end it stays at the end.
        QVERIFY(!reader.next(line));
        QVERIFY(!reader.next(line));
    }
    void writer() {
        const QString p = writeFile(QByteArray(5000, 'o'));
        LineWriter w;
        QVERIFY(!w.isOpen());
        w.create(p); // truncates
        QVERIFY(w.isOpen());
        w.writeLine("1000H1R");
        w.writeLine("");
        w.writeLine(std::string_view("\0\x80\xFF", 3));
        w.writeLine("  blanks  ");
        w.close();
        QVERIFY(!w.isOpen());
        const QByteArray want = QByteArray("1000H1R\r\n\r\n\0\x80\xFF\r\n  blanks  \r\n", 28);
        QCOMPARE(test::readFile(p, "<missing>"), want);
        w.close(); // closing twice does nothing
        QCOMPARE(test::readFile(p, "<missing>"), want);
        {
            LineWriter abandoned;
            abandoned.create(p);
            abandoned.writeLine("kept");
        }
        QCOMPARE(test::readFile(p, "<missing>"), "kept\r\n"_ba);
    }
    void writerFaults() {
        const QString p = path("missing folder/sub/out.txt");
        LineWriter w;
        QCOMPARE(faultOf([&] { w.create(p); }), faultno::PathNotFound);
        QVERIFY(!w.isOpen());
        QVERIFY(!writeLines(p, {"a"}));
        QVERIFY(!QFile::exists(p));

        // A folder where the file should be: the folder exists, the file cannot be made.
        QVERIFY(QDir(dir_.path()).mkpath("a folder"));
        QCOMPARE(faultOf([&] { w.create(path("a folder")); }), faultno::FileAccess);
    }
    void roundTrip_data() {
        QTest::addColumn<QByteArrayList>("lines");

        QTest::newRow("none") << QByteArrayList{};
        QTest::newRow("one empty") << QByteArrayList{""};
        QTest::newRow("empty lines around") << QByteArrayList{"", "a", "", ""};
        QTest::newRow("bytes") << QByteArrayList{QByteArray("\0\x01\x7F", 3), "\x80\x9F\xFF\xE8 "};
        QTest::newRow("long line") << QByteArrayList{QByteArray(3 * kChunk + 17, 'q'), "x"};
        // More than the writer holds back, so it writes in several pieces.
        QByteArrayList many;
        for (int i = 0; i < 20000; ++i) {
            many << QByteArray::number(i) + QByteArray(i % 37, '\xE8');
        }
        QTest::newRow("many lines") << many;
    }
    void roundTrip() {
        QFETCH(QByteArrayList, lines);
        std::vector<std::string> in;
        QByteArray wantBytes;
        for (const auto& l : lines) {
            in.push_back(l.toStdString());
            wantBytes += l + "\r\n";
        }
        const QString p = path(QString("round%1.txt").arg(++counter_));
        QVERIFY(writeLines(p, in));
        QCOMPARE(test::readFile(p, "<missing>"), wantBytes);
        QCOMPARE(list(readLines(p).lines), lines);
    }

private:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString writeFile(const QByteArray& bytes) {
        const QString p = path(QString("in%1.txt").arg(++counter_));
        return test::writeFile(p, bytes) ? p : QString();
    }

    QTemporaryDir dir_;
    int counter_ = 0;
};

QTEST_GUILESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
