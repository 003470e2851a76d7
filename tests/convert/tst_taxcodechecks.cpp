// Check characters of the Italian tax code and VAT number.

#include "convert/TaxCodeChecks.h"

#include <QByteArray>
#include <QTest>

#include <string>

using velmar::CheckCodiceFiscale;
using velmar::CheckPartitaIva;

namespace {

std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
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

class TstTaxCodeChecks : public QObject {
    Q_OBJECT

private slots:
    void helperAgreesWithWorkedExamples();
    void codiceFiscale_data();
    void codiceFiscale();
    void partitaIva_data();
    void partitaIva();
};

// Sums worked out by hand: RSSMRA80A01H501 adds up to 98 (98 mod 26 = 20, U);
// BNCGVN75L15F205 to 110 (mod 26 = 6, G); RYSMRA80A01H501 to 104 (A).
void TstTaxCodeChecks::helperAgreesWithWorkedExamples() {
    QCOMPARE(checkLetter("RSSMRA80A01H501"), 'U');
    QCOMPARE(checkLetter("BNCGVN75L15F205"), 'G');
    QCOMPARE(checkLetter("RYSMRA80A01H501"), 'A');
}

void TstTaxCodeChecks::codiceFiscale_data() {
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("valid");

    QTest::newRow("RSSMRA80A01H501U") << QByteArray("RSSMRA80A01H501U") << true;
    QTest::newRow("BNCGVN75L15F205G") << QByteArray("BNCGVN75L15F205G") << true;
    QTest::newRow("check A") << QByteArray("RYSMRA80A01H501A") << true;
    QTest::newRow("wrong check letter") << QByteArray("RSSMRA80A01H501V") << false;
    QTest::newRow("wrong check letter 2") << QByteArray("BNCGVN75L15F205H") << false;
    QTest::newRow("digit 0 in place of check A") << QByteArray("RYSMRA80A01H5010") << false;
    QTest::newRow("symbol as check") << QByteArray("RSSMRA80A01H501-") << false;

    // Whatever the helper computes for a few more codes.
    const QByteArray more[] = {"VRDGPP13M10B293", "ZZZZZZ99Z99Z999", "AAAAAA00A00A000",
                               "MRTMTT91D08F205", "XXXYYY12T34W567", "0123456789ABCDE"};
    for (const QByteArray& m : more) {
        QTest::addRow("computed %s", m.constData()) << withCheck(m) << true;
        QTest::addRow("computed wrong %s", m.constData()) << withWrongCheck(m) << false;
    }

    // Case.
    QTest::newRow("all lower case") << QByteArray("rssmra80a01h501u") << true;
    QTest::newRow("lower-case check letter") << QByteArray("RSSMRA80A01H501u") << true;
    QTest::newRow("one lower-case letter") << QByteArray("RSSMRa80A01H501U") << true;

    // Digits and letters exchanged: a digit counts as the letter A..J.
    QTest::newRow("letter A written as digit 0") << QByteArray("RSSMR080A01H501U") << true;
    QTest::newRow("letter H written as digit 7") << QByteArray("RSSMRA80A017501U") << true;
    QTest::newRow("digit 8 written as letter I") << QByteArray("RSSMRAI0A01H501U") << true;
    QTest::newRow("digit 1 written as letter B") << QByteArray("RSSMRA80A0BH50BU") << true;
    // Substitution letter U for 8 changes the sum (16 instead of 19): check R.
    QTest::newRow("substitution U for 8, check R") << QByteArray("RSSMRAU0A01H501R") << true;
    QTest::newRow("substitution U for 8, old check") << QByteArray("RSSMRAU0A01H501U") << false;

    // Characters other than letters and digits.
    QTest::newRow("hyphen") << QByteArray("RSSMRA80A01H50-U") << false;
    QTest::newRow("blank inside") << QByteArray("RSSMRA 0A01H501U") << false;
    QTest::newRow("accented letter") << QByteArray("RSSMR\xC0"
                                                   "80A01H501U")
                                     << false;
    QTest::newRow("small accented letter") << QByteArray("RSSMR\xE0"
                                                         "80A01H501U")
                                           << false;
    QTest::newRow("symbol first") << QByteArray("*SSMRA80A01H501U") << false;

    // Length.
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("15 characters") << QByteArray("RSSMRA80A01H501") << false;
    QTest::newRow("17 characters") << QByteArray("RSSMRA80A01H501UX") << false;
    QTest::newRow("trailing blank") << QByteArray("RSSMRA80A01H501U ") << false;
    QTest::newRow("leading blank") << QByteArray(" RSSMRA80A01H501U") << false;
    QTest::newRow("VAT number") << QByteArray("12345678903") << false;
    QTest::newRow("11 characters ending in blank") << QByteArray("1234567890 ") << false;
}

void TstTaxCodeChecks::codiceFiscale() {
    QFETCH(QByteArray, code);
    QFETCH(bool, valid);
    QCOMPARE(CheckCodiceFiscale(str(code)), valid);
}

void TstTaxCodeChecks::partitaIva_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("valid");

    // 1+3+5+7+9 = 25; 2,4,6,8,0 doubled give 4+8+(1+2)+(1+6)+0 = 22; 47 -> 3.
    QTest::newRow("12345678903") << QByteArray("12345678903") << true;
    QTest::newRow("12345678904") << QByteArray("12345678904") << false;
    QTest::newRow("12345678900") << QByteArray("12345678900") << false;
    QTest::newRow("00000000000") << QByteArray("00000000000") << true;
    QTest::newRow("00000000001") << QByteArray("00000000001") << false;
    // 0+2+4+6+8 = 20; 1,3,5,7,9 doubled give 2+6+1+5+9 = 23; 43 -> 7.
    QTest::newRow("01234567897") << QByteArray("01234567897") << true;
    QTest::newRow("01234567898") << QByteArray("01234567898") << false;
    // 1 + (1+8) = 10: 10 - 0 = 10 becomes 0.
    QTest::newRow("19000000000") << QByteArray("19000000000") << true;
    QTest::newRow("19000000001") << QByteArray("19000000001") << false;
    // 9 doubled adds 1 + 8 = 9, so the check is 1 (18 counted whole would give 2).
    QTest::newRow("09000000001") << QByteArray("09000000001") << true;
    QTest::newRow("09000000002") << QByteArray("09000000002") << false;
    // An odd-position digit is not doubled: 5 gives 5 (doubled it would give 9).
    QTest::newRow("50000000005") << QByteArray("50000000005") << true;
    QTest::newRow("50000000009") << QByteArray("50000000009") << false;

    // Trailing blanks are removed; other blanks are not.
    QTest::newRow("one trailing blank") << QByteArray("12345678903 ") << true;
    QTest::newRow("three trailing blanks") << QByteArray("12345678903   ") << true;
    QTest::newRow("11 characters ending in blank") << QByteArray("1234567890 ") << false;
    QTest::newRow("leading blank") << QByteArray(" 12345678903") << false;
    QTest::newRow("blank inside") << QByteArray("12345 78903") << false;

    // Letters and other characters.
    QTest::newRow("letter last") << QByteArray("1234567890A") << false;
    QTest::newRow("letter inside") << QByteArray("12345678A03") << false;
    QTest::newRow("hyphen") << QByteArray("1234567-903") << false;
    QTest::newRow("superscript two") << QByteArray("1234567890\xB2") << false;

    // Length.
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("blanks only") << QByteArray("           ") << false;
    QTest::newRow("10 digits") << QByteArray("1234567890") << false;
    QTest::newRow("12 digits") << QByteArray("123456789030") << false;
    QTest::newRow("tax code") << QByteArray("RSSMRA80A01H501U") << false;
}

void TstTaxCodeChecks::partitaIva() {
    QFETCH(QByteArray, number);
    QFETCH(bool, valid);
    QCOMPARE(CheckPartitaIva(str(number)), valid);
}

QTEST_GUILESS_MAIN(TstTaxCodeChecks)
#include "tst_taxcodechecks.moc"
