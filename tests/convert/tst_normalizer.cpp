// NormalizeSlLine: keyword, digit filter, number forms, description text and
// the closing ";".

#include "convert/SlNormalizer.h"

#include <QByteArray>
#include <QTest>

#include <string>

using velmar::NormalizeSlLine;

namespace {
std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
}
QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}
QByteArray repeated(char c, int n) {
    return QByteArray(n, c);
}
} // namespace

class TstNormalizer : public QObject {
    Q_OBJECT

private slots:
    void normalize_data();
    void normalize();
    void replacement_data();
    void replacement();
    void descriptionLength_data();
    void descriptionLength();
};

void TstNormalizer::normalize_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("expected");

    // Documented examples.
    QTest::newRow("sale with leading zeros")
        << QByteArray("sale,N1,p001000") << QByteArray("SALE,N1,P1000;");
    QTest::newRow("comma splits description")
        << QByteArray("PLUD,:BREAD, WHITE,P300,N1;") << QByteArray("PLUD,:BREAD,W1,P300,N1;");
    QTest::newRow("empty line") << QByteArray() << QByteArray();

    // Keyword: cut to four, upper-cased, not trimmed; the cut keyword picks the rules.
    QTest::newRow("keyword cut") << QByteArray("PLUDX,N1") << QByteArray("PLUD,N1;");
    QTest::newRow("keyword lower case") << QByteArray("opnf") << QByteArray("OPNF;");
    QTest::newRow("keyword with ;") << QByteArray("OPNF;") << QByteArray("OPNF;");
    QTest::newRow("long keyword with ;") << QByteArray("clnfx;") << QByteArray("CLNF;");
    QTest::newRow("short keyword") << QByteArray("pl") << QByteArray("PL;");
    QTest::newRow("keyword not trimmed") << QByteArray(" plud,N01") << QByteArray(" PLU,N1;");
    QTest::newRow("cut keyword selects PLUD C rule")
        << QByteArray("pludx,c0012") << QByteArray("PLUD,C0012;");
    QTest::newRow("cut keyword selects % rule")
        << QByteArray("MAGGIORAZIONE,%5.1") << QByteArray("MAGG,%5.10;");

    // Data fields: trimmed and upper-cased, digits and "." kept after the tag.
    QTest::newRow("tag upper-cased") << QByteArray("PLUD,n3,s1") << QByteArray("PLUD,N3,S1;");
    QTest::newRow("blanks inside a number")
        << QByteArray("PLUD,P 1 5 0 ") << QByteArray("PLUD,P150;");
    QTest::newRow("letters inside a number") << QByteArray("PLUD,p1x5") << QByteArray("PLUD,P15;");
    QTest::newRow("tab inside a number") << QByteArray("PLUD,N\t3") << QByteArray("PLUD,N3;");
    QTest::newRow("R keeps its digits only") << QByteArray("PLUD,R12a") << QByteArray("PLUD,R12;");
    QTest::newRow("S with blank") << QByteArray("PLUD,S 3") << QByteArray("PLUD,S3;");
    QTest::newRow("comma in a quantity makes a new field")
        << QByteArray("PLUD,Q2,5") << QByteArray("PLUD,Q2,51;");

    // A tag left alone by the filter becomes tag + "1", except R and S.
    QTest::newRow("empty N becomes N1")
        << QByteArray("PLUD,:A,N,P100") << QByteArray("PLUD,:A,N1,P100;");
    QTest::newRow("N of letters becomes N1") << QByteArray("PLUD,Nabc") << QByteArray("PLUD,N1;");
    QTest::newRow("empty S stays S") << QByteArray("PLUD,:A,S,N1") << QByteArray("PLUD,:A,S,N1;");
    QTest::newRow("empty R stays R") << QByteArray("PLUD,:A,R,N1") << QByteArray("PLUD,:A,R,N1;");
    QTest::newRow("R and S emptied by filter")
        << QByteArray("PLUD,rx,sy") << QByteArray("PLUD,R,S;");
    QTest::newRow("empty P becomes P1") << QByteArray("PLUD,P") << QByteArray("PLUD,P1;");
    QTest::newRow("empty Q becomes Q1") << QByteArray("PLUD,Q") << QByteArray("PLUD,Q1;");
    QTest::newRow("empty > outside NDCR") << QByteArray("SALE,>") << QByteArray("SALE,>1;");
    QTest::newRow("empty N in NDCR") << QByteArray("NDCR,N") << QByteArray("NDCR,N1;");
    QTest::newRow("empty > in NDCR is exempt") << QByteArray("NDCR,>") << QByteArray("NDCR,>;");
    QTest::newRow("empty N in DELD is exempt") << QByteArray("DELD,N") << QByteArray("DELD,N;");

    // Digit filter exemptions.
    QTest::newRow("PLUD C kept") << QByteArray("PLUD,Cab-12 x,N1")
                                 << QByteArray("PLUD,CAB-12 X,N1;");
    QTest::newRow("PLUD C upper case in code page") << QByteArray("PLUD,C\xE0"
                                                                  "b")
                                                    << QByteArray("PLUD,C\xC0"
                                                                  "B;");
    QTest::newRow("LOTT C kept") << QByteArray("LOTT,c[ab12cd34]")
                                 << QByteArray("LOTT,C[AB12CD34];");
    QTest::newRow("LOTT C y diaeresis") << QByteArray("LOTT,C\xFF") << QByteArray("LOTT,C\x9F;");
    QTest::newRow("SALE C filtered and formed")
        << QByteArray("SALE,C0012x") << QByteArray("SALE,C12;");
    QTest::newRow("NDCR > kept") << QByteArray("NDCR,>ab-1") << QByteArray("NDCR,>AB-1;");
    QTest::newRow("NDCR all fields") << QByteArray("NDCR,D01/02/23,N0001-0002,>pos")
                                     << QByteArray("NDCR,D010223,N00010002,>POS;");
    QTest::newRow("> filtered outside NDCR") << QByteArray("SALE,>ab12") << QByteArray("SALE,>12;");
    QTest::newRow("DELD all fields kept") << QByteArray("dELD,d01/02/23,n0001-0002,>pos")
                                          << QByteArray("DELD,D01/02/23,N0001-0002,>POS;");
    QTest::newRow("DELD fields trimmed at the ends only")
        << QByteArray("DELD, D01 02 23 ,N1") << QByteArray("DELD,D01 02 23,N1;");
    QTest::newRow("DELD V no number form") << QByteArray("DELD,V010") << QByteArray("DELD,V010;");
    QTest::newRow("DELD ; kept in field") << QByteArray("DELD,N12;") << QByteArray("DELD,N12;");

    // Number forms: Q, N, P in PLUD and SALE.
    QTest::newRow("PLUD P decimal") << QByteArray("PLUD,P1.50,N01") << QByteArray("PLUD,P1.5,N1;");
    QTest::newRow("PLUD P second point stops number")
        << QByteArray("PLUD,P1.2.3") << QByteArray("PLUD,P1.2;");
    QTest::newRow("PLUD N with decimal zero") << QByteArray("PLUD,N1.0") << QByteArray("PLUD,N1;");
    QTest::newRow("PLUD Q2.5") << QByteArray("PLUD,:A,Q2.5,N1") << QByteArray("PLUD,:A,Q2.500,N1;");
    QTest::newRow("PLUD Q3 stays") << QByteArray("PLUD,Q3,N1") << QByteArray("PLUD,Q3,N1;");
    QTest::newRow("PLUD Q leading zeros") << QByteArray("PLUD,Q003") << QByteArray("PLUD,Q3;");
    QTest::newRow("PLUD Q cut to three")
        << QByteArray("PLUD,Q1.23456") << QByteArray("PLUD,Q1.234;");
    QTest::newRow("PLUD Q cut, not rounded")
        << QByteArray("PLUD,Q1.9999") << QByteArray("PLUD,Q1.999;");
    QTest::newRow("PLUD Q trailing zeros then three")
        << QByteArray("PLUD,Q2.50") << QByteArray("PLUD,Q2.500;");
    QTest::newRow("SALE Q2.5") << QByteArray("SALE,Q2.5") << QByteArray("SALE,Q2.500;");
    QTest::newRow("SALE P") << QByteArray("SALE,P0100.10") << QByteArray("SALE,P100.1;");
    QTest::newRow("TICK Q only filtered") << QByteArray("TICK,Q02.5") << QByteArray("TICK,Q02.5;");
    QTest::newRow("CHEQ P only filtered")
        << QByteArray("CHEQ,P01.50") << QByteArray("CHEQ,P01.50;");

    // Percent: two decimals only for MOST, DISC, DOST, MAGG.
    QTest::newRow("DISC %10.5") << QByteArray("DISC,%10.5;") << QByteArray("DISC,%10.50;");
    QTest::newRow("MOST % cut to two") << QByteArray("MOST,%10.555") << QByteArray("MOST,%10.55;");
    QTest::newRow("DOST % integer") << QByteArray("DOST,%007") << QByteArray("DOST,%7;");
    QTest::newRow("MAGG % leading zeros") << QByteArray("magg,%007.1") << QByteArray("MAGG,%7.10;");
    QTest::newRow("DISC % second point") << QByteArray("DISC,%1.2.3") << QByteArray("DISC,%1.20;");
    QTest::newRow("SALE % not formed") << QByteArray("SALE,%10.5") << QByteArray("SALE,%10.5;");
    QTest::newRow("PLUD % not formed") << QByteArray("PLUD,%010.5") << QByteArray("PLUD,%010.5;");

    // V, N, C: plain number except in NDCR, LOTT, DELD, CLER.
    QTest::newRow("CHEQ V") << QByteArray("CHEQ,V0010.50") << QByteArray("CHEQ,V10.5;");
    QTest::newRow("TEND N and V") << QByteArray("TEND,N02,V001000") << QByteArray("TEND,N2,V1000;");
    QTest::newRow("OPEN N") << QByteArray("OPEN,N01") << QByteArray("OPEN,N1;");
    QTest::newRow("FUNC N") << QByteArray("FUNC,N003") << QByteArray("FUNC,N3;");
    QTest::newRow("CRED T not formed")
        << QByteArray("CRED,t03,V0500") << QByteArray("CRED,T03,V500;");
    QTest::newRow("CLER V N C not formed")
        << QByteArray("CLER,N007,V010,C003") << QByteArray("CLER,N007,V010,C003;");
    QTest::newRow("LOTT N V not formed")
        << QByteArray("LOTT,N007,V010") << QByteArray("LOTT,N007,V010;");
    QTest::newRow("NDCR V not formed") << QByteArray("NDCR,V010") << QByteArray("NDCR,V010;");

    // Text fields.
    QTest::newRow("text upper-cased") << QByteArray("PRNT,:Grazie") << QByteArray("PRNT,:GRAZIE;");
    QTest::newRow("text keeps digits and blanks")
        << QByteArray("PLUD,:ab 12.5x  ") << QByteArray("PLUD,:AB 12.5X  ;");
    QTest::newRow("text cut before first colon")
        << QByteArray("PRNT, :ciao ") << QByteArray("PRNT,:CIAO ;");
    QTest::newRow("N1:ABC becomes :ABC")
        << QByteArray("PLUD,N1:ABC,N2") << QByteArray("PLUD,:ABC,N2;");
    QTest::newRow("second colon kept") << QByteArray("PRNT,x:a:b") << QByteArray("PRNT,:A:B;");
    QTest::newRow("colon alone gets a blank") << QByteArray("PRNT,:") << QByteArray("PRNT,: ;");
    QTest::newRow("tag and colon alone") << QByteArray("PRNT,N1:") << QByteArray("PRNT,: ;");
    QTest::newRow("colon and tab") << QByteArray("PRNT,:\t") << QByteArray("PRNT,: ;");
    QTest::newRow("tabs removed") << QByteArray("PRNT,:\tA\tb\t") << QByteArray("PRNT,:AB;");
    QTest::newRow("TOTALE") << QByteArray("PRNT,:TOTALE") << QByteArray("PRNT,:TOT.  ;");
    QTest::newRow("Totale") << QByteArray("PRNT,:Totale 5") << QByteArray("PRNT,:TOT.   5;");
    QTest::newRow("totale") << QByteArray("PRNT,:totale") << QByteArray("PRNT,:TOT.  ;");
    QTest::newRow("mixed-case ToTaLe")
        << QByteArray("PRNT,:sub ToTaLe") << QByteArray("PRNT,:SUB TOT.  ;");
    QTest::newRow("two TOTALE") << QByteArray("PRNT,:totale TOTALE")
                                << QByteArray("PRNT,:TOT.   TOT.  ;");
    QTest::newRow("accented description")
        << QByteArray("PLUD,:caff\xE8,N1") << QByteArray("PLUD,:CAFFE,N1;");
    QTest::newRow("ampersand") << QByteArray("PRNT,:a&b") << QByteArray("PRNT,:AeB;");

    // The closing ";".
    QTest::newRow("; already at the end")
        << QByteArray("SALE,N1,P1000;") << QByteArray("SALE,N1,P1000;");
    QTest::newRow("; inside text, none appended")
        << QByteArray("PRNT,:Grazie; ciao") << QByteArray("PRNT,:GRAZIE; CIAO");
    QTest::newRow("; inside text before more fields")
        << QByteArray("PLUD,:a;b,N01") << QByteArray("PLUD,:A;B,N1");
    QTest::newRow("; at end of text") << QByteArray("PRNT,:x;") << QByteArray("PRNT,:X;");
    QTest::newRow("; in number field filtered, appended again")
        << QByteArray("PLUD,N1;x") << QByteArray("PLUD,N1;");
    QTest::newRow("NDCR > with ;") << QByteArray("NDCR,>pos;") << QByteArray("NDCR,>POS;");

    // Empty and blank fields.
    QTest::newRow("empty field vanishes")
        << QByteArray("PLUD,N1,,P100") << QByteArray("PLUD,N1,P100;");
    QTest::newRow("blank field vanishes")
        << QByteArray("PLUD,:A, ,N1") << QByteArray("PLUD,:A,N1;");
    QTest::newRow("trailing comma survives")
        << QByteArray("PLUD,:BREAD,") << QByteArray("PLUD,:BREAD,;");
    QTest::newRow("trailing blank field") << QByteArray("PLUD,N1, ") << QByteArray("PLUD,N1,;");
}

void TstNormalizer::normalize() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes(NormalizeSlLine(str(line), 30)), expected);
}

// Every byte of the replacement table, seen through upper case first.
void TstNormalizer::replacement_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("becomes");

    struct Row {
        int code;
        const char* becomes;
    };
    const Row rows[] = {
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
        {'1', "1"},
    };
    for (const Row& r : rows) {
        QTest::addRow("byte %d", r.code) << r.code << QByteArray(r.becomes);
    }
}

void TstNormalizer::replacement() {
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
void TstNormalizer::descriptionLength_data() {
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expectedText");

    const QByteArray alpha = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QTest::newRow("30: 36 cut to 30") << 30 << alpha << alpha.left(30);
    QTest::newRow("30: exactly 30 kept") << 30 << alpha.left(30) << alpha.left(30);
    QTest::newRow("30: 31 cut") << 30 << alpha.left(31) << alpha.left(30);
    QTest::newRow("18: cut") << 18 << alpha << alpha.left(18);
    QTest::newRow("32: cut") << 32 << alpha << alpha.left(32);
    QTest::newRow("18: lower case cut after upper") << 18 << alpha.toLower() << alpha.left(18);
    QTest::newRow("18: AE lengthens past the limit")
        << 18 << alpha.left(17) + "\xE4" << alpha.left(17) + "A";
    QTest::newRow("18: AE fills the limit exactly")
        << 18 << alpha.left(16) + "\xC4" << alpha.left(16) + "AE";
    QTest::newRow("18: tab does not count")
        << 18 << alpha.left(9) + "\t" + alpha.mid(9, 9) << alpha.left(18);
    QTest::newRow("18: blanks count") << 18 << repeated(' ', 20) << repeated(' ', 18);
    QTest::newRow("20: TOTALE at the cut")
        << 20 << repeated('A', 16) + "totale" << repeated('A', 16) + "TOT.";
}

void TstNormalizer::descriptionLength() {
    QFETCH(int, maxLen);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expectedText);
    const QByteArray line = "PLUD,:" + text + ",N1";
    const QByteArray expected = "PLUD,:" + expectedText + ",N1;";
    QCOMPARE(bytes(NormalizeSlLine(str(line), std::int16_t(maxLen))), expected);
}

QTEST_GUILESS_MAIN(TstNormalizer)
#include "tst_normalizer.moc"
