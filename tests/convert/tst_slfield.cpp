// GetSlField: how a keyword or a field is found in a receipt line and where its
// value starts and stops.

#include "convert/SlField.h"

#include <QByteArray>
#include <QTest>

#include <string>

using velmar::GetSlField;

namespace {
std::string str(const QByteArray& b) {
    return std::string(b.constData(), b.size());
}
} // namespace

class TstSlField : public QObject {
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
    void atStartGivesSameValueAsAnywhere_data();
    void atStartGivesSameValueAsAnywhere();
};

void TstSlField::lookup_data() {
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("preset");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("value");

    const QByteArray plud = "PLUD,:BREAD,P150,N1;";
    // The fields of a plain item line.
    QTest::newRow("keyword PLUD") << true << plud << QByteArray("PLUD") << QByteArray("x") << 1
                                  << QByteArray("UD");
    QTest::newRow("colon field") << false << plud << QByteArray(",:") << QByteArray() << 1
                                 << QByteArray("BREAD");
    QTest::newRow("P field") << false << plud << QByteArray(",P") << QByteArray() << 1
                             << QByteArray("150");
    QTest::newRow("N field stops at ;")
        << false << plud << QByteArray(",N") << QByteArray() << 1 << QByteArray("1");
    QTest::newRow("last field stops at ;")
        << false << QByteArray("SALE,N1,P1000;") << QByteArray(",P") << QByteArray() << 1
        << QByteArray("1000");
    QTest::newRow("value runs to end of line without ;")
        << false << QByteArray("PLUD,N12") << QByteArray(",N") << QByteArray() << 1
        << QByteArray("12");
    QTest::newRow("text value keeps blanks")
        << false << QByteArray("PRNT,:A B ;") << QByteArray(",:") << QByteArray() << 1
        << QByteArray("A B ");

    // A keyword other than DISP, PRNT and CLER: the value is taken from the 3rd
    // character on, like any other key; it stops at the first comma.
    QTest::newRow("keyword with comma, value from 3rd character")
        << true << QByteArray("SALE,N1,P1000;") << QByteArray("SALE,") << QByteArray("x") << 1
        << QByteArray("LE");

    // Keyword recognition: case, at-start.
    QTest::newRow("keyword ignores case") << true << QByteArray("plud,n1;") << QByteArray("PLUD")
                                          << QByteArray() << 1 << QByteArray("ud");
    QTest::newRow("field key ignores case") << false << QByteArray("plud,n7;") << QByteArray(",N")
                                            << QByteArray() << 1 << QByteArray("7");
    QTest::newRow("XPLUD at start: not found")
        << true << QByteArray("XPLUD,N1;") << QByteArray("PLUD") << QByteArray("keep") << 0
        << QByteArray("keep");
    QTest::newRow("XPLUD anywhere: found") << false << QByteArray("XPLUD,N1;") << QByteArray("PLUD")
                                           << QByteArray("keep") << 1 << QByteArray("UD");
    QTest::newRow("SALE; is not SALE,") << true << QByteArray("SALE;") << QByteArray("SALE,")
                                        << QByteArray("keep") << 0 << QByteArray("keep");
    QTest::newRow("key longer than line") << true << QByteArray("PL") << QByteArray("PLUD")
                                          << QByteArray("keep") << 0 << QByteArray("keep");
    QTest::newRow("at start, key only later in line")
        << true << QByteArray("SALE,:PLUD;") << QByteArray("PLUD") << QByteArray("keep") << 0
        << QByteArray("keep");

    // Not found: the value is left as the caller preset it.
    QTest::newRow("absent key, empty preset")
        << false << plud << QByteArray(",Q") << QByteArray() << 0 << QByteArray();
    QTest::newRow("absent key keeps preset")
        << false << plud << QByteArray(",Q") << QByteArray("3") << 0 << QByteArray("3");

    // Found with an empty value.
    QTest::newRow("empty value before comma")
        << false << QByteArray("PLUD,N,P1;") << QByteArray(",N") << QByteArray("x") << 1
        << QByteArray();
    QTest::newRow("empty value before ;") << false << QByteArray("PLUD,P1,N;") << QByteArray(",N")
                                          << QByteArray("x") << 1 << QByteArray();
    QTest::newRow("empty value at end of line")
        << false << QByteArray("PLUD,P1,N") << QByteArray(",N") << QByteArray("x") << 1
        << QByteArray();

    // First match wins.
    QTest::newRow("first of two N fields") << false << QByteArray("PLUD,N1,N2;") << QByteArray(",N")
                                           << QByteArray() << 1 << QByteArray("1");
    QTest::newRow("key inside a text is not a field")
        << false << QByteArray("PLUD,:A N5,N2;") << QByteArray(",N") << QByteArray() << 1
        << QByteArray("2");

    // ",S" and ",R" keep the tag letter; ",S" also matches ",S1".
    QTest::newRow(",S matches S1, tag kept")
        << false << QByteArray("PLUD,S1,N3;") << QByteArray(",S") << QByteArray() << 1
        << QByteArray("S1");
    QTest::newRow(",S bare") << false << QByteArray("PLUD,:A,S,N3;") << QByteArray(",S")
                             << QByteArray() << 1 << QByteArray("S");
    QTest::newRow(",S first of S3 and S") << false << QByteArray("PLUD,S3,S;") << QByteArray(",S")
                                          << QByteArray() << 1 << QByteArray("S3");
    QTest::newRow(",R keeps tag") << false << QByteArray("PLUD,R5,N1;") << QByteArray(",R")
                                  << QByteArray() << 1 << QByteArray("R5");
    QTest::newRow(",R empty value is the tag") << false << QByteArray("PLUD,R;") << QByteArray(",R")
                                               << QByteArray() << 1 << QByteArray("R");
    QTest::newRow(",S1 value is after the comma and S")
        << false << QByteArray("PLUD,S1,N3;") << QByteArray(",S1") << QByteArray() << 1
        << QByteArray("1");
    QTest::newRow(",S1 absent when only S")
        << false << QByteArray("PLUD,S,N3;") << QByteArray(",S1") << QByteArray("k") << 0
        << QByteArray("k");
    QTest::newRow(",S3 does not match S1")
        << false << QByteArray("PLUD,S1,N3;") << QByteArray(",S3") << QByteArray("k") << 0
        << QByteArray("k");

    // DISP, PRNT and CLER: the value always starts at the 7th character.
    QTest::newRow("PRNT text") << true << QByteArray("PRNT,:GRAZIE;") << QByteArray("PRNT")
                               << QByteArray() << 1 << QByteArray("GRAZIE");
    QTest::newRow("PRNT lower-case line") << true << QByteArray("prnt,:ciao;") << QByteArray("PRNT")
                                          << QByteArray() << 1 << QByteArray("ciao");
    QTest::newRow("DISP text") << true << QByteArray("DISP,:HELLO,N2;") << QByteArray("DISP")
                               << QByteArray() << 1 << QByteArray("HELLO");
    QTest::newRow("DISP with N first") << true << QByteArray("DISP,N2,:X;") << QByteArray("DISP")
                                       << QByteArray() << 1 << QByteArray("2");
    QTest::newRow("CLER") << true << QByteArray("CLER,N1;") << QByteArray("CLER") << QByteArray()
                          << 1 << QByteArray("1");
    QTest::newRow("DISP found later, still 7th character")
        << false << QByteArray("XDISP,:ABCDEF;") << QByteArray("DISP") << QByteArray() << 1
        << QByteArray(":ABCDEF");
    QTest::newRow("PRNT alone: found, empty value")
        << true << QByteArray("PRNT") << QByteArray("PRNT") << QByteArray("x") << 1 << QByteArray();
    QTest::newRow("PRNT; short line: found, empty value")
        << true << QByteArray("PRNT;") << QByteArray("PRNT") << QByteArray("x") << 1
        << QByteArray();
    QTest::newRow("OPNF is not a 7th-character key")
        << true << QByteArray("OPNF;") << QByteArray("OPNF") << QByteArray("x") << 1
        << QByteArray("NF");
    QTest::newRow("READ keyword value") << true << QByteArray("READ,:F.TXT;") << QByteArray("READ")
                                        << QByteArray() << 1 << QByteArray("AD");
}

void TstSlField::lookup() {
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
void TstSlField::atStartGivesSameValueAsAnywhere_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("PRNT") << QByteArray("PRNT,:OK;") << QByteArray("PRNT");
    QTest::newRow("OPEN,") << QByteArray("OPEN,N1;") << QByteArray("OPEN,");
    QTest::newRow("CRED") << QByteArray("cred,T3,V500;") << QByteArray("CRED");
}

void TstSlField::atStartGivesSameValueAsAnywhere() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, key);
    std::string a = "a", b = "b";
    bool t = true, f = false;
    QCOMPARE(int(GetSlField(t, a, str(line), str(key))), 1);
    QCOMPARE(int(GetSlField(f, b, str(line), str(key))), 1);
    QCOMPARE(a, b);
}

QTEST_GUILESS_MAIN(TstSlField)
#include "tst_slfield.moc"
