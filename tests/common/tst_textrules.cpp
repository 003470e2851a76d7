// The shared text rules: reading numbers from text, rounding and range checks,
// number text, upper case in Windows-1252, case-insensitive search, trimming.

#include "common/Cp1252.h"
#include "common/Fault.h"
#include "common/TextRules.h"

#include <QLocale>
#include <QTest>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

using namespace velmar;

namespace {

std::string_view view(const QByteArray& b) {
    return std::string_view(b.constData(), static_cast<std::size_t>(b.size()));
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

QByteArray repeated(char c, int n) {
    return QByteArray(n, c);
}

// QCOMPARE compares doubles with a tolerance; these rules must be exact.
#define COMPARE_EXACT(actual, expected)                                                            \
    do {                                                                                           \
        const double a_ = (actual);                                                                \
        const double e_ = (expected);                                                              \
        QVERIFY2(                                                                                  \
            a_ == e_,                                                                              \
            qPrintable(QString("got %1, expected %2").arg(a_, 0, 'g', 17).arg(e_, 0, 'g', 17)));   \
    } while (false)

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

} // namespace

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberOverflow_data();
    void leadingNumberOverflow();

    void isNumeric_data();
    void isNumeric();

    void roundHalfEven_data();
    void roundHalfEven();
    void toInt16_data();
    void toInt16();
    void toInt32_data();
    void toInt32();

    void numberText_data();
    void numberText();
    void numberTextIgnoresLocale();

    void upperByte_data();
    void upperByte();
    void upperByteAgreesWithCodePage();
    void toUpper();

    void findNoCase_data();
    void findNoCase();
    void startsWithNoCase_data();
    void startsWithNoCase();

    void trimBlanks_data();
    void trimBlanks();

    void hasDigitBefore_data();
    void hasDigitBefore();
};

// ---------------------------------------------------------------------------
// leadingNumber

void TestTextRules::leadingNumber_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty") << QByteArray("") << 0.0;
    QTest::newRow("blanks only") << QByteArray("   ") << 0.0;
    QTest::newRow("letters") << QByteArray("abc") << 0.0;
    QTest::newRow("point alone") << QByteArray(".") << 0.0;
    QTest::newRow("sign alone") << QByteArray("-") << 0.0;
    QTest::newRow("sign and point") << QByteArray("-.") << 0.0;
    QTest::newRow("integer") << QByteArray("42") << 42.0;
    QTest::newRow("leading zeros") << QByteArray("001000") << 1000.0;
    QTest::newRow("blanks then unit") << QByteArray("  12.5kg") << 12.5;
    QTest::newRow("trailing ms") << QByteArray("500ms") << 500.0;
    QTest::newRow("minus then letter") << QByteArray("-7x") << -7.0;
    QTest::newRow("plus") << QByteArray("+3") << 3.0;
    QTest::newRow("blanks before sign") << QByteArray("   -2.25") << -2.25;
    QTest::newRow("blank after sign") << QByteArray("- 3") << 0.0;
    QTest::newRow("two signs") << QByteArray("--3") << 0.0;
    QTest::newRow("sign after digits") << QByteArray("3-4") << 3.0;
    QTest::newRow("second point stops") << QByteArray("1.2.3") << 1.2;
    QTest::newRow("leading point") << QByteArray(".5") << 0.5;
    QTest::newRow("negative leading point") << QByteArray("-.5") << -0.5;
    QTest::newRow("trailing point") << QByteArray("5.") << 5.0;
    QTest::newRow("comma is no decimal point") << QByteArray("1,5") << 1.0;
    QTest::newRow("inner blank stops") << QByteArray("12 34") << 12.0;
    QTest::newRow("no exponent") << QByteArray("1e5") << 1.0;
    QTest::newRow("no exponent upper") << QByteArray("2E3") << 2.0;
    QTest::newRow("no hex") << QByteArray("0x10") << 0.0;
    QTest::newRow("no inf") << QByteArray("inf") << 0.0;
    QTest::newRow("no nan") << QByteArray("nan") << 0.0;
    QTest::newRow("letter first") << QByteArray("x12") << 0.0;
    QTest::newRow("trailing blanks") << QByteArray("7   ") << 7.0;
    QTest::newRow("high byte stops") << QByteArray("8\xE0") << 8.0;
    QTest::newRow("NUL stops") << QByteArray("9\0005", 3) << 9.0;
    QTest::newRow("quantity") << QByteArray("2.500") << 2.5;
    QTest::newRow("largest 15 digits") << QByteArray("999999999999999") << 999999999999999.0;
    QTest::newRow("1e308") << (QByteArray("1") + repeated('0', 308)) << 1e308;
    QTest::newRow("400 leading zeros") << (repeated('0', 400) + "1") << 1.0;
    QTest::newRow("tiny reads zero") << (QByteArray("0.") + repeated('0', 400) + "1") << 0.0;
    QTest::newRow("negative tiny reads zero")
        << (QByteArray("-0.") + repeated('0', 400) + "1") << 0.0;
    QTest::newRow("long fraction") << (QByteArray("1.") + repeated('3', 400)) << 4.0 / 3.0;
}

void TestTextRules::leadingNumber() {
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    double got = -12345;
    const auto fault = faultOf([&] { got = text::leadingNumber(view(text)); });
    QVERIFY2(!fault, qPrintable(QString("fault %1").arg(fault.value_or(0))));
    COMPARE_EXACT(got, expected);
}

void TestTextRules::leadingNumberOverflow_data() {
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("1e309") << (QByteArray("1") + repeated('0', 309));
    QTest::newRow("400 digits") << (QByteArray("1") + repeated('0', 399));
    QTest::newRow("400 nines") << repeated('9', 400);
    QTest::newRow("negative 400 digits") << (QByteArray("-") + repeated('7', 400));
    QTest::newRow("blanks and unit") << (QByteArray("  ") + repeated('5', 400) + "kg");
    QTest::newRow("with fraction") << (repeated('4', 400) + ".25");
}

void TestTextRules::leadingNumberOverflow() {
    QFETCH(QByteArray, text);
    const auto fault = faultOf([&] { text::leadingNumber(view(text)); });
    QCOMPARE(fault.value_or(-1), faultno::Overflow);
}

// ---------------------------------------------------------------------------
// isNumeric

void TestTextRules::isNumeric_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("blanks") << QByteArray("   ") << false;
    QTest::newRow("point") << QByteArray(".") << false;
    QTest::newRow("minus") << QByteArray("-") << false;
    QTest::newRow("plus") << QByteArray("+") << false;
    QTest::newRow("minus point") << QByteArray("-.") << false;
    QTest::newRow("digit") << QByteArray("0") << true;
    QTest::newRow("integer") << QByteArray("12") << true;
    QTest::newRow("trailing point") << QByteArray("1.") << true;
    QTest::newRow("leading point") << QByteArray(".5") << true;
    QTest::newRow("blanks around") << QByteArray(" 12 ") << true;
    QTest::newRow("negative") << QByteArray("-3.5") << true;
    QTest::newRow("positive sign") << QByteArray("+3") << true;
    QTest::newRow("negative blanks") << QByteArray("  -1 ") << true;
    QTest::newRow("blank after sign") << QByteArray("- 1") << false;
    QTest::newRow("trailing letter") << QByteArray("12a") << false;
    QTest::newRow("inner blank") << QByteArray("1 2") << false;
    QTest::newRow("two points") << QByteArray("1.2.3") << false;
    QTest::newRow("exponent") << QByteArray("1e5") << false;
    QTest::newRow("comma") << QByteArray("1,5") << false;
    QTest::newRow("hex") << QByteArray("0x1F") << false;
    QTest::newRow("trailing sign") << QByteArray("5-") << false;
    QTest::newRow("unit") << QByteArray("500ms") << false;
    QTest::newRow("NUL inside") << QByteArray("1\0002", 3) << false;
    QTest::newRow("huge") << repeated('9', 400) << false;
    QTest::newRow("negative huge") << (QByteArray("-1") + repeated('0', 399)) << false;
    QTest::newRow("1e308") << (QByteArray("1") + repeated('0', 308)) << true;
    QTest::newRow("1e309") << (QByteArray("1") + repeated('0', 309)) << false;
    QTest::newRow("tiny") << (QByteArray("0.") + repeated('0', 400) + "1") << true;
}

void TestTextRules::isNumeric() {
    QFETCH(QByteArray, text);
    QFETCH(bool, expected);
    bool got = !expected;
    const auto fault = faultOf([&] { got = text::isNumeric(view(text)); });
    QVERIFY2(!fault, "isNumeric must answer, never throw");
    QCOMPARE(got, expected);
}

// ---------------------------------------------------------------------------
// Rounding and range checks

void TestTextRules::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("-0.5") << -0.5 << 0.0;
    QTest::newRow("-1.5") << -1.5 << -2.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("2.4999") << 2.4999 << 2.0;
    QTest::newRow("2.5001") << 2.5001 << 3.0;
    QTest::newRow("-2.6") << -2.6 << -3.0;
    QTest::newRow("whole") << 7.0 << 7.0;
    // Just below one half: adding 0.5 and taking the floor gives 1.
    QTest::newRow("largest below half") << 0.49999999999999994 << 0.0;
    // Beyond 2^52 every double is whole; adding 0.5 would round up.
    QTest::newRow("2^52+1") << 4503599627370497.0 << 4503599627370497.0;
    QTest::newRow("amount half cent") << 12.5 << 12.0;
    QTest::newRow("amount 13.5") << 13.5 << 14.0;
}

void TestTextRules::roundHalfEven() {
    QFETCH(double, value);
    QFETCH(double, expected);
    COMPARE_EXACT(text::roundHalfEven(value), expected);
}

void TestTextRules::toInt16_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("overflow");

    QTest::newRow("0.5") << 0.5 << 0 << false;
    QTest::newRow("1.5") << 1.5 << 2 << false;
    QTest::newRow("2.5") << 2.5 << 2 << false;
    QTest::newRow("-2.5") << -2.5 << -2 << false;
    QTest::newRow("19") << 19.0 << 19 << false;
    QTest::newRow("32767") << 32767.0 << 32767 << false;
    QTest::newRow("32767.4") << 32767.4 << 32767 << false;
    QTest::newRow("32766.5 to even below") << 32766.5 << 32766 << false;
    QTest::newRow("32767.5 rounds to 32768") << 32767.5 << 0 << true;
    QTest::newRow("32768") << 32768.0 << 0 << true;
    QTest::newRow("-32768") << -32768.0 << -32768 << false;
    QTest::newRow("-32768.5 to even") << -32768.5 << -32768 << false;
    QTest::newRow("-32768.6") << -32768.6 << 0 << true;
    QTest::newRow("-32769") << -32769.0 << 0 << true;
    QTest::newRow("-32769.5 to even") << -32769.5 << 0 << true;
    QTest::newRow("1e10") << 1e10 << 0 << true;
    QTest::newRow("NaN") << kNaN << 0 << true;
    QTest::newRow("+inf") << kInf << 0 << true;
    QTest::newRow("-inf") << -kInf << 0 << true;
}

void TestTextRules::toInt16() {
    QFETCH(double, value);
    QFETCH(int, expected);
    QFETCH(bool, overflow);
    std::int16_t got = 0;
    const auto fault = faultOf([&] { got = text::toInt16(value); });
    if (overflow) {
        QCOMPARE(fault.value_or(-1), faultno::Overflow);
    } else {
        QVERIFY(!fault);
        QCOMPARE(int(got), expected);
    }
}

void TestTextRules::toInt32_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("overflow");

    QTest::newRow("2.5") << 2.5 << qint64(2) << false;
    QTest::newRow("-3.5") << -3.5 << qint64(-4) << false;
    QTest::newRow("beyond 16 bits") << 60000.0 << qint64(60000) << false;
    QTest::newRow("max") << 2147483647.0 << qint64(2147483647) << false;
    QTest::newRow("max+0.4") << 2147483647.4 << qint64(2147483647) << false;
    QTest::newRow("max+0.5 rounds up") << 2147483647.5 << qint64(0) << true;
    QTest::newRow("max+1") << 2147483648.0 << qint64(0) << true;
    QTest::newRow("min") << -2147483648.0 << qint64(-2147483647) - 1 << false;
    QTest::newRow("min-0.5 to even") << -2147483648.5 << qint64(-2147483647) - 1 << false;
    QTest::newRow("min-1") << -2147483649.0 << qint64(0) << true;
    QTest::newRow("NaN") << kNaN << qint64(0) << true;
    QTest::newRow("inf") << kInf << qint64(0) << true;
}

void TestTextRules::toInt32() {
    QFETCH(double, value);
    QFETCH(qint64, expected);
    QFETCH(bool, overflow);
    std::int32_t got = 0;
    const auto fault = faultOf([&] { got = text::toInt32(value); });
    if (overflow) {
        QCOMPARE(fault.value_or(-1), faultno::Overflow);
    } else {
        QVERIFY(!fault);
        QCOMPARE(qint64(got), expected);
    }
}

// ---------------------------------------------------------------------------
// numberText

void TestTextRules::numberText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("1.5") << 1.5 << QByteArray("1.5");
    QTest::newRow("2") << 2.0 << QByteArray("2");
    QTest::newRow("0.25") << 0.25 << QByteArray("0.25");
    QTest::newRow("1.50 read") << text::leadingNumber("1.50") << QByteArray("1.5");
    QTest::newRow("p001000 read") << text::leadingNumber("001000") << QByteArray("1000");
    QTest::newRow("0.1+0.2") << 0.1 + 0.2 << QByteArray("0.3");
    QTest::newRow("1-0.9") << 1 - 0.9 << QByteArray("0.1");
    QTest::newRow("two thirds") << 2.0 / 3.0 << QByteArray("0.666666666666667");
    QTest::newRow("zero") << 0.0 << QByteArray("0");
    QTest::newRow("negative zero") << -0.0 << QByteArray("0");
    QTest::newRow("negative") << -2.75 << QByteArray("-2.75");
    QTest::newRow("negative whole") << -19.0 << QByteArray("-19");
    QTest::newRow("1500/1000") << 1500.0 / 1000.0 << QByteArray("1.5");
    QTest::newRow("500") << 500.0 << QByteArray("500");
    QTest::newRow("60000") << 60000.0 << QByteArray("60000");
    QTest::newRow("15 digits exact") << 123456789012345.0 << QByteArray("123456789012345");
    QTest::newRow("15 nines") << 999999999999999.0 << QByteArray("999999999999999");
    QTest::newRow("1e15") << 1e15 << QByteArray("1E+15");
    QTest::newRow("1e20") << 1e20 << QByteArray("1E+20");
    QTest::newRow("16 digits to 15") << 1234567890123456.0 << QByteArray("1.23456789012346E+15");
    QTest::newRow("-1e15") << -1e15 << QByteArray("-1E+15");
    QTest::newRow("0.001") << 0.001 << QByteArray("0.001");
    QTest::newRow("fraction 15 digits") << 0.123456789012345 << QByteArray("0.123456789012345");
    QTest::newRow("fraction 16 digits") << 0.1234567890123456 << QByteArray("0.123456789012346");
}

void TestTextRules::numberText() {
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(QByteArray::fromStdString(text::numberText(value)), expected);
}

void TestTextRules::numberTextIgnoresLocale() {
    // A workstation set to Italian writes a comma for the decimal point in its
    // own texts; the files the system writes must keep the point.
    const QLocale oldDefault;
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    QCOMPARE(QByteArray::fromStdString(text::numberText(1.5)), QByteArray("1.5"));
    QCOMPARE(text::leadingNumber("2.5"), 2.5);
    QCOMPARE(text::leadingNumber("2,5"), 2.0);
    QLocale::setDefault(oldDefault);

    const std::string oldC = std::setlocale(LC_ALL, nullptr);
    const char* italian = nullptr;
    for (const char* name : {"it_IT.UTF-8", "it_IT.utf8", "it_IT"}) {
        if ((italian = std::setlocale(LC_ALL, name)) != nullptr) {
            break;
        }
    }
    if (italian == nullptr) {
        QSKIP("no Italian C locale installed; the process-locale part is not checked");
    }
    const std::string numText = text::numberText(1.5);
    const std::string bigText = text::numberText(1e20);
    const double read = text::leadingNumber("2.5");
    const bool numeric = text::isNumeric("0.75");
    const bool commaNumeric = text::isNumeric("0,75");
    std::setlocale(LC_ALL, oldC.c_str());
    QCOMPARE(QByteArray::fromStdString(numText), QByteArray("1.5"));
    QCOMPARE(QByteArray::fromStdString(bigText), QByteArray("1E+20"));
    QCOMPARE(read, 2.5);
    QVERIFY(numeric);
    QVERIFY(!commaNumeric);
}

// ---------------------------------------------------------------------------
// Upper case in Windows-1252

void TestTextRules::upperByte_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");

    QTest::newRow("a") << int('a') << int('A');
    QTest::newRow("m") << int('m') << int('M');
    QTest::newRow("z") << int('z') << int('Z');
    QTest::newRow("A stays") << int('A') << int('A');
    QTest::newRow("backquote before a") << int('`') << int('`');
    QTest::newRow("brace after z") << int('{') << int('{');
    QTest::newRow("digit") << int('5') << int('5');
    QTest::newRow("NUL") << 0 << 0;
    QTest::newRow("a grave 224") << 224 << 192;
    QTest::newRow("e grave 232") << 232 << 200;
    QTest::newRow("e acute 233") << 233 << 201;
    QTest::newRow("u grave 249") << 249 << 217;
    QTest::newRow("o diaeresis 246") << 246 << 214;
    QTest::newRow("division 247 stays") << 247 << 247;
    QTest::newRow("o stroke 248") << 248 << 216;
    QTest::newRow("thorn 254") << 254 << 222;
    QTest::newRow("y diaeresis 255") << 255 << 159;
    QTest::newRow("s caron 154") << 154 << 138;
    QTest::newRow("oe 156") << 156 << 140;
    QTest::newRow("z caron 158") << 158 << 142;
    QTest::newRow("S caron 138 stays") << 138 << 138;
    QTest::newRow("OE 140 stays") << 140 << 140;
    QTest::newRow("Y diaeresis 159 stays") << 159 << 159;
    QTest::newRow("sharp s 223 stays") << 223 << 223;
    QTest::newRow("micro 181 stays") << 181 << 181;
    QTest::newRow("A grave 192 stays") << 192 << 192;
    QTest::newRow("multiplication 215 stays") << 215 << 215;
    QTest::newRow("euro 128 stays") << 128 << 128;
    QTest::newRow("f hook 131 stays") << 131 << 131;
}

void TestTextRules::upperByte() {
    QFETCH(int, byte);
    QFETCH(int, expected);
    QCOMPARE(int(static_cast<unsigned char>(text::upperByte(static_cast<char>(byte)))), expected);
}

void TestTextRules::upperByteAgreesWithCodePage() {
    // Every byte's capital is the code page's byte for the Unicode capital of
    // its character, when the code page has that capital; otherwise the byte
    // stays as it is (sharp s, micro sign, f with hook).
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const QString upper = cp1252::decode(std::string_view(&c, 1)).toUpper();
        const QByteArray enc = cp1252::encode(upper);
        int expected = b;
        if (enc.size() == 1 && enc != "?") {
            expected = static_cast<unsigned char>(enc[0]);
        }
        const int got = static_cast<unsigned char>(text::upperByte(c));
        QVERIFY2(got == expected,
                 qPrintable(QString("byte %1: got %2, expected %3").arg(b).arg(got).arg(expected)));
    }
}

void TestTextRules::toUpper() {
    const std::string in = "vendita caff\xE8 \xE0 \xFF \x9C\x9A\x9E \xDF\xB5 1,5;";
    const std::string want = "VENDITA CAFF\xC8 \xC0 \x9F \x8C\x8A\x8E \xDF\xB5 1,5;";
    QCOMPARE(QByteArray::fromStdString(text::toUpper(in)), QByteArray::fromStdString(want));
    std::string inPlace = in;
    text::toUpperInPlace(inPlace);
    QCOMPARE(QByteArray::fromStdString(inPlace), QByteArray::fromStdString(want));

    const std::string withNul("a\0b", 3);
    QCOMPARE(QByteArray::fromStdString(text::toUpper(withNul)), QByteArray("A\0B", 3));
    QVERIFY(text::toUpper("").empty());
}

// ---------------------------------------------------------------------------
// Case-insensitive search

void TestTextRules::findNoCase_data() {
    QTest::addColumn<QByteArray>("hay");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");

    QTest::newRow("at front") << QByteArray("abc") << QByteArray("a") << 1 << 1;
    QTest::newRow("in middle") << QByteArray("abcdef") << QByteArray("cd") << 1 << 3;
    QTest::newRow("at end") << QByteArray("abcdef") << QByteArray("ef") << 1 << 5;
    QTest::newRow("whole") << QByteArray("abc") << QByteArray("abc") << 1 << 1;
    QTest::newRow("not found") << QByteArray("abcdef") << QByteArray("xy") << 1 << 0;
    QTest::newRow("partial at end") << QByteArray("abcde") << QByteArray("efg") << 1 << 0;
    QTest::newRow("case upper in hay") << QByteArray("PLUD,%5") << QByteArray("plud") << 1 << 1;
    QTest::newRow("case lower in hay") << QByteArray("sale,n1") << QByteArray("N1") << 1 << 6;
    QTest::newRow("percent flag") << QByteArray("TEND,N1,%5;") << QByteArray(",%") << 1 << 8;
    QTest::newRow("first of two") << QByteArray("abcabc") << QByteArray("bc") << 1 << 2;
    QTest::newRow("start skips first") << QByteArray("abcabc") << QByteArray("bc") << 3 << 5;
    QTest::newRow("start on match") << QByteArray("abcabc") << QByteArray("bc") << 5 << 5;
    QTest::newRow("start after last") << QByteArray("abcabc") << QByteArray("bc") << 6 << 0;
    QTest::newRow("start beyond end") << QByteArray("abc") << QByteArray("a") << 10 << 0;
    QTest::newRow("empty needle") << QByteArray("abc") << QByteArray("") << 1 << 1;
    QTest::newRow("empty needle at start") << QByteArray("abc") << QByteArray("") << 3 << 3;
    QTest::newRow("needle longer") << QByteArray("ab") << QByteArray("abc") << 1 << 0;
    QTest::newRow("empty hay") << QByteArray("") << QByteArray("a") << 1 << 0;
    QTest::newRow("a grave vs A grave") << QByteArray("caff\xE0") << QByteArray("\xC0") << 1 << 5;
    QTest::newRow("A grave vs a grave") << QByteArray("CAFF\xC0") << QByteArray("f\xE0") << 1 << 4;
    QTest::newRow("e grave vs e acute") << QByteArray("\xE8") << QByteArray("\xE9") << 1 << 0;
    QTest::newRow("accent is not plain") << QByteArray("caff\xE8") << QByteArray("caffe") << 1 << 0;
    QTest::newRow("s caron") << QByteArray("x\x9Ay") << QByteArray("\x8A") << 1 << 2;
    QTest::newRow("y diaeresis") << QByteArray("\x9F") << QByteArray("\xFF") << 1 << 1;
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
    }
}

void TestTextRules::startsWithNoCase_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<bool>("expected");

    QTest::newRow("same case") << QByteArray("PLUD,N1") << QByteArray("PLUD") << true;
    QTest::newRow("other case") << QByteArray("plud,N1") << QByteArray("PLUD") << true;
    QTest::newRow("accent") << QByteArray("\xE8xtra") << QByteArray("\xC8X") << true;
    QTest::newRow("not at front") << QByteArray("xPLUD") << QByteArray("PLUD") << false;
    QTest::newRow("prefix longer") << QByteArray("PL") << QByteArray("PLUD") << false;
    QTest::newRow("empty prefix") << QByteArray("abc") << QByteArray("") << true;
}

void TestTextRules::startsWithNoCase() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, prefix);
    QFETCH(bool, expected);
    QCOMPARE(text::startsWithNoCase(view(text), view(prefix)), expected);
}

// ---------------------------------------------------------------------------
// Trimming

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
    QTest::newRow("none") << QByteArray("ab") << QByteArray("ab") << QByteArray("ab")
                          << QByteArray("ab");
    QTest::newRow("tabs kept") << QByteArray("\tab\t") << QByteArray("\tab\t")
                               << QByteArray("\tab\t") << QByteArray("\tab\t");
    QTest::newRow("blank outside tab") << QByteArray(" \t1\t ") << QByteArray("\t1\t")
                                       << QByteArray("\t1\t ") << QByteArray(" \t1\t");
    QTest::newRow("no-break space kept") << QByteArray("\xA0x\xA0") << QByteArray("\xA0x\xA0")
                                         << QByteArray("\xA0x\xA0") << QByteArray("\xA0x\xA0");
    QTest::newRow("line ends kept") << QByteArray("\r\nx\r\n") << QByteArray("\r\nx\r\n")
                                    << QByteArray("\r\nx\r\n") << QByteArray("\r\nx\r\n");
}

void TestTextRules::trimBlanks() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, both);
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);
    auto bytes = [](std::string_view v) {
        return QByteArray(v.data(), static_cast<qsizetype>(v.size()));
    };
    QCOMPARE(bytes(text::trimBlanks(view(text))), both);
    QCOMPARE(bytes(text::trimLeftBlanks(view(text))), left);
    QCOMPARE(bytes(text::trimRightBlanks(view(text))), right);
}

// ---------------------------------------------------------------------------
// hasDigitBefore

void TestTextRules::hasDigitBefore_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<char>("letter");
    QTest::addColumn<bool>("expected");

    QTest::newRow("payment 1T") << QByteArray("500H1T") << 'T' << true;
    QTest::newRow("payment 0H") << QByteArray("500H1T") << 'H' << true;
    QTest::newRow("letter first") << QByteArray("T1") << 'T' << false;
    QTest::newRow("letter after letter") << QByteArray("HT") << 'T' << false;
    QTest::newRow("letter after blank") << QByteArray("1 T") << 'T' << false;
    QTest::newRow("letter absent") << QByteArray("12345") << 'T' << false;
    QTest::newRow("empty") << QByteArray("") << 'T' << false;
    QTest::newRow("single letter") << QByteArray("T") << 'T' << false;
    QTest::newRow("later occurrence") << QByteArray("XT 9T") << 'T' << true;
    QTest::newRow("only at end") << QByteArray("\"TOT\"3T") << 'T' << true;
    QTest::newRow("point before") << QByteArray("1.T") << 'T' << false;
    QTest::newRow("9 before") << QByteArray("9R") << 'R' << true;
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
