// Windows-1252 for display: bytes to characters and an operator's text back
// to bytes.

#include "common/Cp1252.h"

#include <QSet>
#include <QTest>

using namespace velmar;

class TestCp1252 : public QObject {
    Q_OBJECT

private slots:
    void decodeByte_data();
    void decodeByte();
    void decodeKeepsLengthAndNul();
    void roundTripAllBytes();
    void encodeCharacter_data();
    void encodeCharacter();
    void encodeText();
};

void TestCp1252::decodeByte_data() {
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("unicode");

    QTest::newRow("NUL") << 0x00 << 0x0000;
    QTest::newRow("A") << 0x41 << 0x0041;
    QTest::newRow("DEL") << 0x7F << 0x007F;
    QTest::newRow("euro") << 0x80 << 0x20AC;
    QTest::newRow("low quote") << 0x82 << 0x201A;
    QTest::newRow("f hook") << 0x83 << 0x0192;
    QTest::newRow("low double quote") << 0x84 << 0x201E;
    QTest::newRow("ellipsis") << 0x85 << 0x2026;
    QTest::newRow("dagger") << 0x86 << 0x2020;
    QTest::newRow("double dagger") << 0x87 << 0x2021;
    QTest::newRow("circumflex") << 0x88 << 0x02C6;
    QTest::newRow("per mille") << 0x89 << 0x2030;
    QTest::newRow("S caron") << 0x8A << 0x0160;
    QTest::newRow("single left angle") << 0x8B << 0x2039;
    QTest::newRow("OE") << 0x8C << 0x0152;
    QTest::newRow("Z caron") << 0x8E << 0x017D;
    QTest::newRow("left quote") << 0x91 << 0x2018;
    QTest::newRow("right quote") << 0x92 << 0x2019;
    QTest::newRow("left double quote") << 0x93 << 0x201C;
    QTest::newRow("right double quote") << 0x94 << 0x201D;
    QTest::newRow("bullet") << 0x95 << 0x2022;
    QTest::newRow("en dash") << 0x96 << 0x2013;
    QTest::newRow("em dash") << 0x97 << 0x2014;
    QTest::newRow("small tilde") << 0x98 << 0x02DC;
    QTest::newRow("trade mark") << 0x99 << 0x2122;
    QTest::newRow("s caron") << 0x9A << 0x0161;
    QTest::newRow("single right angle") << 0x9B << 0x203A;
    QTest::newRow("oe") << 0x9C << 0x0153;
    QTest::newRow("z caron") << 0x9E << 0x017E;
    QTest::newRow("Y diaeresis") << 0x9F << 0x0178;
    // The five unassigned positions keep their value as a C1 control.
    QTest::newRow("unassigned 81") << 0x81 << 0x0081;
    QTest::newRow("unassigned 8D") << 0x8D << 0x008D;
    QTest::newRow("unassigned 8F") << 0x8F << 0x008F;
    QTest::newRow("unassigned 90") << 0x90 << 0x0090;
    QTest::newRow("unassigned 9D") << 0x9D << 0x009D;
    QTest::newRow("no-break space") << 0xA0 << 0x00A0;
    QTest::newRow("degree") << 0xB0 << 0x00B0;
    QTest::newRow("A grave") << 0xC0 << 0x00C0;
    QTest::newRow("a grave") << 0xE0 << 0x00E0;
    QTest::newRow("e grave") << 0xE8 << 0x00E8;
    QTest::newRow("y diaeresis") << 0xFF << 0x00FF;
}

void TestCp1252::decodeByte() {
    QFETCH(int, byte);
    QFETCH(int, unicode);
    const char c = static_cast<char>(byte);
    const QString s = cp1252::decode(std::string_view(&c, 1));
    QCOMPARE(s.size(), 1);
    QCOMPARE(int(s.at(0).unicode()), unicode);
    QCOMPARE(cp1252::decode(QByteArray(1, c)), s);
}

void TestCp1252::decodeKeepsLengthAndNul() {
    const QByteArray bytes("caff\xE8\0\x80 1,50", 12);
    const QString s = cp1252::decode(bytes);
    QCOMPARE(s.size(), 12);
    QCOMPARE(s, QString::fromUtf16(u"caff\u00E8") + QChar(0) + QString::fromUtf16(u"\u20AC 1,50"));
    QVERIFY(cp1252::decode(QByteArray()).isEmpty());
}

void TestCp1252::roundTripAllBytes() {
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const QString text = cp1252::decode(all);
    QCOMPARE(text.size(), 256);
    // Each byte is its own character: no two bytes give the same one.
    QCOMPARE(QSet<QChar>(text.begin(), text.end()).size(), 256);
    QCOMPARE(cp1252::encode(text), all);
}

void TestCp1252::encodeCharacter_data() {
    QTest::addColumn<int>("unicode");
    QTest::addColumn<int>("byte");

    QTest::newRow("euro") << 0x20AC << 0x80;
    QTest::newRow("S caron") << 0x0160 << 0x8A;
    QTest::newRow("Y diaeresis") << 0x0178 << 0x9F;
    QTest::newRow("right quote") << 0x2019 << 0x92;
    QTest::newRow("a grave") << 0x00E0 << 0xE0;
    QTest::newRow("y diaeresis") << 0x00FF << 0xFF;
    QTest::newRow("NUL") << 0x0000 << 0x00;
    // Characters the code page cannot hold.
    QTest::newRow("Greek Omega") << 0x03A9 << int('?');
    QTest::newRow("A macron") << 0x0100 << int('?');
    QTest::newRow("CJK") << 0x4E2D << int('?');
    QTest::newRow("F hook capital") << 0x0191 << int('?');
    QTest::newRow("replacement char") << 0xFFFD << int('?');
    // C1 controls whose positions hold printable characters in the code page
    // are not those characters.
    QTest::newRow("C1 80 is not euro") << 0x0080 << int('?');
    QTest::newRow("C1 8A is not S caron") << 0x008A << int('?');
    QTest::newRow("C1 9F is not Y diaeresis") << 0x009F << int('?');
}

void TestCp1252::encodeCharacter() {
    QFETCH(int, unicode);
    QFETCH(int, byte);
    const QByteArray out = cp1252::encode(QString(QChar(char16_t(unicode))));
    QCOMPARE(out.size(), 1);
    QCOMPARE(int(static_cast<unsigned char>(out.at(0))), byte);
}

void TestCp1252::encodeText() {
    QCOMPARE(cp1252::encode(QString::fromUtf16(u"Caff\u00E8 \u20AC 2,50 \u03A9!")),
             QByteArray("Caff\xE8 \x80 2,50 ?!"));
    QCOMPARE(cp1252::encode(QString()), QByteArray());
}

QTEST_GUILESS_MAIN(TestCp1252)
#include "tst_cp1252.moc"
