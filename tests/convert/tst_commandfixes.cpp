// The rewrites applied to a command once it is produced: the amount bar, the
// deposit and withdrawal commands of families 1 and 3, and the payment-line
// test that counts the lines the register answers.

#include "convert/CommandFixes.h"

#include <QByteArray>
#include <QTest>

#include <string>

using velmar::applyBarFix;
using velmar::applyDepositFix;
using velmar::isPaymentLine;

namespace {
std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
}
QByteArray bytes(const std::string& s) {
    return QByteArray(s.data(), qsizetype(s.size()));
}
} // namespace

class TstCommandFixes : public QObject {
    Q_OBJECT

private slots:
    void barFix_data();
    void barFix();
    void depositFix_data();
    void depositFix();
    void paymentLine_data();
    void paymentLine();
};

void TstCommandFixes::barFix_data() {
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<bool>("percent");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("amount mark H") << QByteArray("12|3M") << false << QByteArray("12H3M");
    QTest::newRow("amount mark * on percent line")
        << QByteArray("12|3M") << true << QByteArray("12*3M");
    QTest::newRow("bar first dropped") << QByteArray("|X") << false << QByteArray("X");
    QTest::newRow("bar first dropped, percent") << QByteArray("|X") << true << QByteArray("X");
    QTest::newRow("bar first, lower case") << QByteArray("|x") << false << QByteArray("X");
    QTest::newRow("bar alone") << QByteArray("|") << false << QByteArray();
    QTest::newRow("upper-cased") << QByteArray("\"abc\"12|3m") << false
                                 << QByteArray("\"ABC\"12H3M");
    QTest::newRow("upper-cased in code page")
        << QByteArray("\"caff\xE8\"1|1r") << false << QByteArray("\"CAFF\xC8\"1H1R");
    QTest::newRow("only the first bar") << QByteArray("1|2|3M") << false << QByteArray("1H2|3M");
    QTest::newRow("only the first bar, percent")
        << QByteArray("1|2|3M") << true << QByteArray("1*2|3M");
    QTest::newRow("two bars at start") << QByteArray("||x") << false << QByteArray("|X");
    QTest::newRow("bar at end") << QByteArray("12|") << false << QByteArray("12H");
    QTest::newRow("no bar: untouched") << QByteArray("12h3m") << false << QByteArray("12h3m");
    QTest::newRow("no bar, percent: untouched") << QByteArray("1*3m") << true << QByteArray("1*3m");
    QTest::newRow("empty") << QByteArray() << false << QByteArray();
}

void TstCommandFixes::barFix() {
    QFETCH(QByteArray, out);
    QFETCH(bool, percent);
    QFETCH(QByteArray, expected);
    std::string s = str(out);
    applyBarFix(s, percent);
    QCOMPARE(bytes(s), expected);
}

void TstCommandFixes::depositFix_data() {
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<int>("variant");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray depo = "10M500H3T=";
    const QByteArray prel = "11M500H3T=";

    // Family 1.
    QTest::newRow("v1 deposit") << depo << 1 << QByteArray("14M500H1T");
    QTest::newRow("v1 withdrawal") << prel << 1 << QByteArray("15M500H1T");
    QTest::newRow("v1 without =") << QByteArray("10M500H3T") << 1 << QByteArray("14M500H1T");
    QTest::newRow("v1 without T") << QByteArray("10M500H=") << 1 << QByteArray("14M500H");
    QTest::newRow("v1 two-digit payment")
        << QByteArray("11M500H12T=") << 1 << QByteArray("15M500H11T");
    QTest::newRow("v1 first T only") << QByteArray("10M5T00H3T=") << 1 << QByteArray("14M1T00H3T");
    QTest::newRow("v1 = not at end stays")
        << QByteArray("10M500H3T=X") << 1 << QByteArray("14M500H1T=X");
    QTest::newRow("v1 only one final =")
        << QByteArray("10M500H3T==") << 1 << QByteArray("14M500H1T=");
    QTest::newRow("v1 prefix only") << QByteArray("10M") << 1 << QByteArray("14M");
    QTest::newRow("v1 other prefix untouched")
        << QByteArray("12M500H3T=") << 1 << QByteArray("12M500H3T=");
    QTest::newRow("v1 prefix not at start")
        << QByteArray("510M500H3T=") << 1 << QByteArray("510M500H3T=");
    QTest::newRow("v1 1M untouched") << QByteArray("1M500H3T=") << 1 << QByteArray("1M500H3T=");
    QTest::newRow("v1 empty") << QByteArray() << 1 << QByteArray();

    // Family 3: only the final "=".
    QTest::newRow("v3 deposit") << depo << 3 << QByteArray("10M500H3T");
    QTest::newRow("v3 withdrawal") << prel << 3 << QByteArray("11M500H3T");
    QTest::newRow("v3 other prefix") << QByteArray("12M500H3T=") << 3 << QByteArray("12M500H3T");
    QTest::newRow("v3 only one final =")
        << QByteArray("10M500H3T==") << 3 << QByteArray("10M500H3T=");
    QTest::newRow("v3 = not at end") << QByteArray("=10M500H3T") << 3 << QByteArray("=10M500H3T");
    QTest::newRow("v3 = alone") << QByteArray("=") << 3 << QByteArray();
    QTest::newRow("v3 empty") << QByteArray() << 3 << QByteArray();

    // Other families: no change.
    for (int v : {0, 2, 4, 5, 6}) {
        QTest::addRow("v%d deposit", v) << depo << v << depo;
        QTest::addRow("v%d withdrawal", v) << prel << v << prel;
    }
}

void TstCommandFixes::depositFix() {
    QFETCH(QByteArray, out);
    QFETCH(int, variant);
    QFETCH(QByteArray, expected);
    std::string s = str(out);
    applyDepositFix(s, variant);
    QCOMPARE(bytes(s), expected);
}

void TstCommandFixes::paymentLine_data() {
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<bool>("payment");

    QTest::newRow("500H1T") << QByteArray("500H1T") << true;
    QTest::newRow("1T") << QByteArray("1T") << true;
    QTest::newRow("12T") << QByteArray("12T") << true;
    QTest::newRow("0T") << QByteArray("0T") << true;
    QTest::newRow("1000H10T") << QByteArray("1000H10T") << true;
    QTest::newRow("quoted text then payment") << QByteArray("\"BANCA\"500H8T") << true;
    QTest::newRow("digit-T earlier, ends with T") << QByteArray("1TAT") << true;
    QTest::newRow("T") << QByteArray("T") << false;
    QTest::newRow("500H1TX") << QByteArray("500H1TX") << false;
    QTest::newRow("ABT") << QByteArray("ABT") << false;
    QTest::newRow("HT") << QByteArray("500HT") << false;
    QTest::newRow("trailing blank") << QByteArray("500H1T ") << false;
    QTest::newRow("item line") << QByteArray("150H1R") << false;
    QTest::newRow("digit then blank then T") << QByteArray("1 T") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TstCommandFixes::paymentLine() {
    QFETCH(QByteArray, out);
    QFETCH(bool, payment);
    QCOMPARE(isPaymentLine(str(out)), payment);
}

QTEST_GUILESS_MAIN(TstCommandFixes)
#include "tst_commandfixes.moc"
