// The shared text rules: reading numbers from text, rounding and range checks,
// number text, upper case in Windows-1252, case-insensitive search, trimming.

#include "common/Cp1252.h"
#include "common/Fault.h"
#include "common/TextRules.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

using namespace velmar;

namespace {

std::string_view view(const QByteArray& b) {
    return std::string_view(b.constData(), static_cast<std::size_t>(b.size()));
}

QByteArray bytes(std::string_view v) {
    return QByteArray(v.data(), qsizetype(v.size()));
}

// The fault number thrown by `f`, or nothing when it returns normally.
template <typename F> std::optional<int> faultOf(F&& f) {
    try {
        f();
    } catch (const Fault& e) {
        return e.number();
    }
    return std::nullopt;
}

// QCOMPARE compares doubles with a tolerance; these rules must be exact.
#define COMPARE_EXACT(actual, expected)                                                            \
    do {                                                                                           \
        const double a_ = (actual), e_ = (expected);                                               \
        QVERIFY2(                                                                                  \
            a_ == e_,                                                                              \
            qPrintable(QString("got %1, expected %2").arg(a_, 0, 'g', 17).arg(e_, 0, 'g', 17)));   \
    } while (false)

const QByteArray k400(400, '7');
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

} // namespace

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    void numbers_data();
    void numbers();
    void rounding_data();
    void rounding();
    void numberText_data();
    void numberText();
    void upperByte_data();
    void upperByte();
    void upperByteAgreesWithCodePage();
    void findNoCase_data();
    void findNoCase();
    void trimBlanks_data();
    void trimBlanks();
    void hasDigitBefore_data();
    void hasDigitBefore();
};

// leadingNumber reads the number a text starts with (overflow: Fault 6); isNumeric says
// whether the whole text, blanks trimmed, is such a number.
void TestTextRules::numbers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("overflow");
    QTest::addColumn<bool>("numeric");

    QTest::newRow("empty") << QByteArray("") << 0.0 << false << false;
    QTest::newRow("blanks only") << QByteArray(" \t ") << 0.0 << false << false;
    QTest::newRow("letters") << QByteArray("abc") << 0.0 << false << false;
    QTest::newRow("point alone") << QByteArray(".") << 0.0 << false << false;
    QTest::newRow("sign alone") << QByteArray("-") << 0.0 << false << false;
    QTest::newRow("leading zeros") << QByteArray("001000") << 1000.0 << false << true;
    QTest::newRow("blanks then unit") << QByteArray("  12.5kg") << 12.5 << false << false;
    QTest::newRow("minus then letter") << QByteArray("-7x") << -7.0 << false << false;
    QTest::newRow("plus") << QByteArray("+3") << 3.0 << false << true;
    QTest::newRow("tabs and blanks around") << QByteArray(" \t-2.25\t ") << -2.25 << false << true;
    QTest::newRow("blank after sign") << QByteArray("- 3") << 0.0 << false << false;
    QTest::newRow("two signs") << QByteArray("--3") << 0.0 << false << false;
    QTest::newRow("sign after digits") << QByteArray("3-4") << 3.0 << false << false;
    QTest::newRow("second point stops") << QByteArray("1.2.3") << 1.2 << false << false;
    QTest::newRow("leading point") << QByteArray("-.5") << -0.5 << false << true;
    QTest::newRow("trailing point") << QByteArray("5.") << 5.0 << false << true;
    QTest::newRow("comma is no point") << QByteArray("1,5") << 1.0 << false << false;
    QTest::newRow("inner blank stops") << QByteArray("12 34") << 12.0 << false << false;
    QTest::newRow("no exponent") << QByteArray("1e5") << 1.0 << false << false;
    QTest::newRow("no hex") << QByteArray("0x10") << 0.0 << false << false;
    QTest::newRow("no inf") << QByteArray("inf") << 0.0 << false << false;
    QTest::newRow("NUL stops") << QByteArray("9\0005", 3) << 9.0 << false << false;
    QTest::newRow("15 digits") << QByteArray("999999999999999") << 999999999999999.0 << false
                               << true;
    QTest::newRow("20 digits") << QByteArray("98765432109876543210") << 98765432109876543210.0
                               << false << true;
    QTest::newRow("1e308") << "1" + QByteArray(308, '0') << 1e308 << false << true;
    QTest::newRow("1e309") << "1" + QByteArray(309, '0') << 0.0 << true << false;
    QTest::newRow("negative huge") << "-" + k400 << 0.0 << true << false;
    QTest::newRow("huge, fraction, unit") << " " + k400 + ".25kg" << 0.0 << true << false;
    QTest::newRow("400 leading zeros") << QByteArray(400, '0') + "1" << 1.0 << false << true;
    QTest::newRow("tiny reads zero") << "0." + QByteArray(400, '0') + "1" << 0.0 << false << true;
    QTest::newRow("long fraction") << "1." + QByteArray(400, '3') << 4.0 / 3.0 << false << true;
}

void TestTextRules::numbers() {
    QFETCH(QByteArray, text);
    QFETCH(double, value);
    QFETCH(bool, overflow);
    QFETCH(bool, numeric);
    double got = -12345;
    const auto fault = faultOf([&] { got = text::leadingNumber(view(text)); });
    QCOMPARE(fault.value_or(0), overflow ? faultno::Overflow : 0);
    if (!overflow) {
        COMPARE_EXACT(got, value);
    }
    bool isNum = !numeric;
    QVERIFY2(!faultOf([&] { isNum = text::isNumeric(view(text)); }), "isNumeric threw");
    QCOMPARE(isNum, numeric);
}

// roundHalfEven, and toInt16 / toInt32, which round the same way and fault outside their range.
void TestTextRules::rounding_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::addColumn<bool>("fits16");
    QTest::addColumn<bool>("fits32");

    QTest::newRow("0.5") << 0.5 << 0.0 << true << true;
    QTest::newRow("1.5") << 1.5 << 2.0 << true << true;
    QTest::newRow("2.5") << 2.5 << 2.0 << true << true;
    QTest::newRow("-2.5") << -2.5 << -2.0 << true << true;
    QTest::newRow("-3.5") << -3.5 << -4.0 << true << true;
    QTest::newRow("-2.6") << -2.6 << -3.0 << true << true;
    QTest::newRow("2.5001") << 2.5001 << 3.0 << true << true;
    // Just below one half: adding 0.5 and taking the floor gives 1.
    QTest::newRow("largest below half") << 0.49999999999999994 << 0.0 << true << true;
    // Beyond 2^52 every double is whole; adding 0.5 would round up.
    QTest::newRow("2^52+1") << 4503599627370497.0 << 4503599627370497.0 << false << false;
    QTest::newRow("32767.4") << 32767.4 << 32767.0 << true << true;
    QTest::newRow("32766.5") << 32766.5 << 32766.0 << true << true;
    QTest::newRow("32767.5") << 32767.5 << 32768.0 << false << true;
    QTest::newRow("-32768.5") << -32768.5 << -32768.0 << true << true;
    QTest::newRow("-32768.6") << -32768.6 << -32769.0 << false << true;
    QTest::newRow("2^31-0.6") << 2147483647.4 << 2147483647.0 << false << true;
    QTest::newRow("2^31-0.5") << 2147483647.5 << 2147483648.0 << false << false;
    QTest::newRow("-2^31-0.5") << -2147483648.5 << -2147483648.0 << false << true;
    QTest::newRow("-2^31-1") << -2147483649.0 << -2147483649.0 << false << false;
    QTest::newRow("NaN") << kNaN << kNaN << false << false;
    QTest::newRow("+inf") << kInf << kInf << false << false;
    QTest::newRow("-inf") << -kInf << -kInf << false << false;
}

void TestTextRules::rounding() {
    QFETCH(double, value);
    QFETCH(double, rounded);
    QFETCH(bool, fits16);
    QFETCH(bool, fits32);
    if (!std::isnan(value)) {
        COMPARE_EXACT(text::roundHalfEven(value), rounded);
    }
    std::int16_t got16 = 0;
    std::int32_t got32 = 0;
    QCOMPARE(faultOf([&] { got16 = text::toInt16(value); }).value_or(0),
             fits16 ? 0 : faultno::Overflow);
    QCOMPARE(faultOf([&] { got32 = text::toInt32(value); }).value_or(0),
             fits32 ? 0 : faultno::Overflow);
    COMPARE_EXACT(got16, fits16 ? rounded : 0.0);
    COMPARE_EXACT(got32, fits32 ? rounded : 0.0);
}

void TestTextRules::numberText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("1.5") << 1.5 << QByteArray("1.5");
    QTest::newRow("2") << 2.0 << QByteArray("2");
    QTest::newRow("0.1+0.2") << 0.1 + 0.2 << QByteArray("0.3");
    QTest::newRow("two thirds") << 2.0 / 3.0 << QByteArray("0.666666666666667");
    QTest::newRow("0.001") << 0.001 << QByteArray("0.001");
    QTest::newRow("negative zero") << -0.0 << QByteArray("0");
    QTest::newRow("negative") << -2.75 << QByteArray("-2.75");
    QTest::newRow("negative whole") << -19.0 << QByteArray("-19");
    QTest::newRow("15 nines") << 999999999999999.0 << QByteArray("999999999999999");
    QTest::newRow("1e15") << 1e15 << QByteArray("1E+15");
    QTest::newRow("-1e20") << -1e20 << QByteArray("-1E+20");
    QTest::newRow("16 digits to 15") << 1234567890123456.0 << QByteArray("1.23456789012346E+15");
    QTest::newRow("fraction 16 digits") << 0.1234567890123456 << QByteArray("0.123456789012346");
}

void TestTextRules::numberText() {
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(text::numberText(value)), expected);
}

void TestTextRules::upperByte_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");

    QTest::newRow("a") << int('a') << int('A');
    QTest::newRow("z") << int('z') << int('Z');
    QTest::newRow("backquote before a") << int('`') << int('`');
    QTest::newRow("brace after z") << int('{') << int('{');
    QTest::newRow("a grave 224") << 224 << 192;
    QTest::newRow("thorn 254") << 254 << 222;
    QTest::newRow("division 247 stays") << 247 << 247;
    QTest::newRow("y diaeresis 255") << 255 << 159;
    QTest::newRow("s caron 154") << 154 << 138;
    QTest::newRow("oe 156") << 156 << 140;
    QTest::newRow("z caron 158") << 158 << 142;
    QTest::newRow("S caron 138 stays") << 138 << 138;
    QTest::newRow("sharp s 223 stays") << 223 << 223;
    QTest::newRow("micro 181 stays") << 181 << 181;
}

void TestTextRules::upperByte() {
    QFETCH(int, byte);
    QFETCH(int, expected);
    const char c = static_cast<char>(byte);
    QCOMPARE(int(static_cast<unsigned char>(text::upperByte(c))), expected);
    const QByteArray in = QByteArray("x") + c + '\0' + c;
    const QByteArray want = QByteArray("X") + char(expected) + '\0' + char(expected);
    QCOMPARE(bytes(text::toUpper(view(in))), want);
    std::string inPlace = in.toStdString();
    text::toUpperInPlace(inPlace);
    QCOMPARE(QByteArray::fromStdString(inPlace), want);
}

void TestTextRules::upperByteAgreesWithCodePage() {
    // Every byte's capital is the code page's byte for the Unicode capital of
    // its character, when the code page has that capital; otherwise the byte stays.
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const QByteArray enc = cp1252::encode(cp1252::decode(std::string_view(&c, 1)).toUpper());
        const int expected = enc.size() == 1 && enc != "?" ? static_cast<unsigned char>(enc[0]) : b;
        const int got = static_cast<unsigned char>(text::upperByte(c));
        QVERIFY2(got == expected, qPrintable(QString("byte %1: got %2").arg(b).arg(got)));
    }
}

// findNoCase; startsWithNoCase must agree with a match at position 1.
void TestTextRules::findNoCase_data() {
    QTest::addColumn<QByteArray>("hay");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");

    QTest::newRow("at end") << QByteArray("abcdef") << QByteArray("ef") << 1 << 5;
    QTest::newRow("whole") << QByteArray("abc") << QByteArray("abc") << 1 << 1;
    QTest::newRow("not found") << QByteArray("abcdef") << QByteArray("xy") << 1 << 0;
    QTest::newRow("partial at end") << QByteArray("abcde") << QByteArray("efg") << 1 << 0;
    QTest::newRow("case") << QByteArray("sale,n1") << QByteArray("SALE,N") << 1 << 1;
    QTest::newRow("first of two") << QByteArray("abcabc") << QByteArray("bc") << 1 << 2;
    QTest::newRow("start skips first") << QByteArray("abcabc") << QByteArray("bc") << 3 << 5;
    QTest::newRow("start on match") << QByteArray("abcabc") << QByteArray("bc") << 5 << 5;
    QTest::newRow("start after last") << QByteArray("abcabc") << QByteArray("bc") << 6 << 0;
    QTest::newRow("start beyond end") << QByteArray("abc") << QByteArray("a") << 10 << 0;
    QTest::newRow("empty needle") << QByteArray("abc") << QByteArray("") << 3 << 3;
    QTest::newRow("empty needle at front") << QByteArray("abc") << QByteArray("") << 1 << 1;
    QTest::newRow("needle longer") << QByteArray("ab") << QByteArray("abc") << 1 << 0;
    QTest::newRow("empty hay") << QByteArray("") << QByteArray("a") << 1 << 0;
    QTest::newRow("A grave") << QByteArray("CAFF\xC0") << QByteArray("f\xE0") << 1 << 4;
    QTest::newRow("e grave vs e acute") << QByteArray("\xE8") << QByteArray("\xE9") << 1 << 0;
    QTest::newRow("accent is not plain") << QByteArray("caff\xE8") << QByteArray("caffe") << 1 << 0;
    QTest::newRow("s caron") << QByteArray("\x9Ay") << QByteArray("\x8AY") << 1 << 1;
    QTest::newRow("y diaeresis") << QByteArray("x\x9F") << QByteArray("\xFF") << 1 << 2;
    QTest::newRow("NUL in hay") << QByteArray("a\0b", 3) << QByteArray("B") << 1 << 3;
    QTest::newRow("overlapping") << QByteArray("aaab") << QByteArray("AAB") << 1 << 2;
    QTest::newRow("sharp s is not SS") << QByteArray("stra\337e") << QByteArray("SS") << 1 << 0;
}

void TestTextRules::findNoCase() {
    QFETCH(QByteArray, hay);
    QFETCH(QByteArray, needle);
    QFETCH(int, start);
    QFETCH(int, expected);
    QCOMPARE(int(text::findNoCase(view(hay), view(needle), std::size_t(start))), expected);
    if (start == 1) {
        QCOMPARE(int(text::findNoCase(view(hay), view(needle))), expected);
        QCOMPARE(text::startsWithNoCase(view(hay), view(needle)), expected == 1);
    }
}

// Only spaces are trimmed: tabs, no-break spaces and line ends stay.
void TestTextRules::trimBlanks_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("both");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QByteArray>("right");

    QTest::newRow("empty") << QByteArray("") << QByteArray("") << QByteArray("") << QByteArray("");
    QTest::newRow("blanks only") << QByteArray("   ") << QByteArray("") << QByteArray("")
                                 << QByteArray("");
    QTest::newRow("both sides") << QByteArray("  a b  ") << QByteArray("a b") << QByteArray("a b  ")
                                << QByteArray("  a b");
    QTest::newRow("tabs kept") << QByteArray(" \t1\t ") << QByteArray("\t1\t")
                               << QByteArray("\t1\t ") << QByteArray(" \t1\t");
    QTest::newRow("others kept") << QByteArray("\xA0x\r\n") << QByteArray("\xA0x\r\n")
                                 << QByteArray("\xA0x\r\n") << QByteArray("\xA0x\r\n");
}

void TestTextRules::trimBlanks() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, both);
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);
    QCOMPARE(bytes(text::trimBlanks(view(text))), both);
    QCOMPARE(bytes(text::trimLeftBlanks(view(text))), left);
    QCOMPARE(bytes(text::trimRightBlanks(view(text))), right);
}

void TestTextRules::hasDigitBefore_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<char>("letter");
    QTest::addColumn<bool>("expected");

    QTest::newRow("payment 1T") << QByteArray("500H1T") << 'T' << true;
    QTest::newRow("letter first") << QByteArray("T1") << 'T' << false;
    QTest::newRow("letter after letter") << QByteArray("HT") << 'T' << false;
    QTest::newRow("letter after blank") << QByteArray("1 T") << 'T' << false;
    QTest::newRow("later occurrence") << QByteArray("XT 9T") << 'T' << true;
    QTest::newRow("slash before") << QByteArray("1/T") << 'T' << false;
    QTest::newRow("colon before") << QByteArray("1:T") << 'T' << false;
    QTest::newRow("0 before") << QByteArray("0R") << 'R' << true;
}

void TestTextRules::hasDigitBefore() {
    QFETCH(QByteArray, text);
    QFETCH(char, letter);
    QFETCH(bool, expected);
    QCOMPARE(text::hasDigitBefore(view(text), letter), expected);
}

QTEST_GUILESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
