// The conversion library as the driver meets it: loaded at run time, called
// through its C entry point with the driver's calling pattern, and probed at
// start-up. Also the replacement libraries a site might drop in.

#include "convert/ConversionLibrary.h"
#include "support/TestSupport.h"

#include <QLibrary>
#include <QTest>
#include <cstring>

using namespace velmar;
using namespace velmar::test;

namespace {

using Entry = std::int32_t (*)(const char*, std::int32_t, char*, char*);

Entry entryPoint() {
    static QLibrary lib(binDir() + QStringLiteral("/qarn_slm1"));
    if (!lib.isLoaded() && !lib.load()) {
        qFatal("cannot load qarn_slm1: %s", qPrintable(lib.errorString()));
    }
    auto f = reinterpret_cast<Entry>(lib.resolve("ConvertSlToXt"));
    if (f == nullptr) {
        qFatal("ConvertSlToXt missing");
    }
    return f;
}

// Calls the library the way the driver does and checks it stays inside its
// two areas: guard bytes around them must come back untouched.
QByteArray convertGuarded(const QByteArray& line, int length = -1) {
    constexpr int kGuard = 32;
    QByteArray out(kGuard + 64 + kGuard, '#');
    QByteArray status(kGuard + 10 + kGuard, '#');
    std::memset(out.data() + kGuard, ' ', 64);
    std::memset(status.data() + kGuard, 0, 10);
    entryPoint()(line.constData(), length < 0 ? std::int32_t(line.size()) : length, out.data() + kGuard,
                 status.data() + kGuard);
    const QByteArray guard(kGuard, '#');
    if (out.left(kGuard) != guard || out.right(kGuard) != guard ||
        status.left(kGuard) != guard || status.right(kGuard) != guard) {
        return QByteArrayLiteral("<wrote outside its areas>");
    }
    const QByteArray area = out.mid(kGuard, 64);
    const qsizetype nul = area.indexOf('\0');
    if (nul < 0) {
        return QByteArrayLiteral("<no NUL>");
    }
    return area.left(nul);
}

} // namespace

class TestSlm : public QObject {
    Q_OBJECT

private slots:
    // The mapping from receipt lines to register commands, as docs/PROTOCOL.md
    // lists it. Lines come in normalised, as the driver sends them.
    void mapping_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("probe pair") << QByteArray("SALE,N1,P1000;") << QByteArray("1000H1R");
        QTest::newRow("sale with text and quantity")
            << QByteArray("SALE,:PANE,N3,P150,Q2;") << QByteArray("\"PANE\"2*150H3R");
        QTest::newRow("sale, decimal quantity") << QByteArray("SALE,N1,P100,Q0.500;")
                                                << QByteArray("0.500*100H1R");
        QTest::newRow("sale, price in units") << QByteArray("SALE,N2,P12.5;") << QByteArray("1250H2R");
        QTest::newRow("sale, preset price") << QByteArray("SALE,N4;") << QByteArray("4R");
        QTest::newRow("sale without fields") << QByteArray("SALE;") << QByteArray("1R");
        QTest::newRow("sale, quote in text") << QByteArray("SALE,:A\"B,P1;") << QByteArray("\"A'B\"1H1R");
        QTest::newRow("cash, amount") << QByteArray("CASH,V2500;") << QByteArray("2500H1T");
        QTest::newRow("cash, the rest") << QByteArray("CASH;") << QByteArray("1T");
        QTest::newRow("deposit") << QByteArray("DEPO,V500;") << QByteArray("10M500H1T");
        QTest::newRow("deposit by card") << QByteArray("DEPO,V500,N3;") << QByteArray("10M500H3T");
        QTest::newRow("withdrawal") << QByteArray("PREL,V200;") << QByteArray("11M200H1T");
        QTest::newRow("discount %") << QByteArray("DISC,%10.50;") << QByteArray("10.50|1M");
        QTest::newRow("discount amount") << QByteArray("DISC,V100;") << QByteArray("100|3M");
        QTest::newRow("subtotal discount %") << QByteArray("DOST,%5;") << QByteArray("=5|2M");
        QTest::newRow("subtotal discount amount") << QByteArray("DOST,V300;") << QByteArray("=300|4M");
        QTest::newRow("surcharge %") << QByteArray("MAGG,%2.50;") << QByteArray("2.50|5M");
        QTest::newRow("surcharge amount") << QByteArray("MAGG,V80;") << QByteArray("80|7M");
        QTest::newRow("subtotal surcharge %") << QByteArray("MOST,%3;") << QByteArray("=3|6M");
        QTest::newRow("subtotal surcharge amount") << QByteArray("MOST,V250;") << QByteArray("=250|8M");
        QTest::newRow("clear") << QByteArray("CLER;") << QByteArray("K");
        QTest::newRow("open drawer") << QByteArray("OPEN;") << QByteArray("a");
        QTest::newRow("subtotal") << QByteArray("ADDS;") << QByteArray("=");
        QTest::newRow("blank printed line") << QByteArray("PRNT;") << QByteArray("\" \"@");
        QTest::newRow("extra line without text") << QByteArray("EXTL;") << QByteArray("");
        QTest::newRow("QR code as text") << QByteArray("QRCO,:ABC;") << QByteArray("\"ABC\"@");
        QTest::newRow("blank QR code") << QByteArray("QRCO,: ;") << QByteArray("");
        QTest::newRow("credit recovery") << QByteArray("RECO,V500;")
                                         << QByteArray("j\"RECUPERO CREDITO: 500\"@J");
        QTest::newRow("credit recovery, no amount") << QByteArray("RECO;")
                                                    << QByteArray("j\"RECUPERO CREDITO\"@J");
        QTest::newRow("tender without number") << QByteArray("TEND,V100;") << QByteArray("100H1T");
        QTest::newRow("function key") << QByteArray("FUNC,N5;") << QByteArray("5F");
        QTest::newRow("empty line") << QByteArray("") << QByteArray("");
        QTest::newRow("blank keyword") << QByteArray("   ;") << QByteArray("");
        QTest::newRow("lower-case keyword") << QByteArray("cash;") << QByteArray("1T");
    }
    void mapping() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, command);
        QCOMPARE(convertGuarded(line), command);
    }

    // Lines the library cannot convert: an answer with ERRO and a reason.
    void refusals_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reasonPart");
        QTest::newRow("unknown keyword") << QByteArray("XYZW,N1;") << QByteArray("XYZW");
        QTest::newRow("department 0") << QByteArray("SALE,N0,P100;") << QByteArray("reparto");
        QTest::newRow("department 100") << QByteArray("SALE,N100,P100;") << QByteArray("reparto");
        QTest::newRow("price of ten digits") << QByteArray("SALE,N1,P1000000000;") << QByteArray("prezzo");
        QTest::newRow("price in exponent form") << QByteArray("SALE,N1,P1E+20;") << QByteArray("prezzo");
        QTest::newRow("zero quantity") << QByteArray("SALE,N1,P1,Q0;") << QByteArray("quantita");
        QTest::newRow("amount with decimals") << QByteArray("CASH,V1.5;") << QByteArray("importo");
        QTest::newRow("deposit without amount") << QByteArray("DEPO;") << QByteArray("importo");
        QTest::newRow("deposit, payment 6") << QByteArray("DEPO,V1,N6;") << QByteArray("pagamento");
        QTest::newRow("discount without value") << QByteArray("DISC;") << QByteArray("percentuale");
        QTest::newRow("discount over 100%") << QByteArray("DISC,%100.01;") << QByteArray("percentuale");
        QTest::newRow("lottery code") << QByteArray("LOTT,C1234;") << QByteArray("lotteria");
        QTest::newRow("payment 20") << QByteArray("TEND,N20,V1;") << QByteArray("N20");
        QTest::newRow("function key missing") << QByteArray("FUNC;") << QByteArray("funzione");
        QTest::newRow("reference without date") << QByteArray("NDCR,N1,>POS;") << QByteArray("data");
        QTest::newRow("command too long")
            << QByteArray("SALE,:" + QByteArray(50, 'A') + ",N1,Q99999.999,P999999999;")
            << QByteArray("lungo");
    }
    void refusals() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reasonPart);
        const QByteArray answer = convertGuarded(line);
        QVERIFY2(answer.startsWith("ERRO: "), answer.constData());
        QVERIFY2(answer.contains(reasonPart), answer.constData());
    }

    // The length decides how much of the line is read; a NUL ends it sooner.
    void inputEndsAtLengthOrNul() {
        QCOMPARE(convertGuarded("SALE,N1,P1000;XXXX", 14), QByteArray("1000H1R"));
        QCOMPARE(convertGuarded(QByteArray("SALE,N1,P1000;\0XXXX", 19)), QByteArray("1000H1R"));
        QCOMPARE(convertGuarded("SALE,N1,P1000;", 0), QByteArray(""));
    }

    void hugeInputStaysWithinTheAreas() {
        QByteArray line = "SALE,:" + QByteArray(1 << 20, 'X') + ",N1,P1;";
        const QByteArray answer = convertGuarded(line);
        QVERIFY2(answer.startsWith("ERRO"), answer.left(70).constData());
        QVERIFY(answer.size() <= 63);
        QVERIFY(convertGuarded(QByteArray(1 << 20, ',')).size() <= 63);
    }

    void probeAcceptsTheRealLibrary() {
        ScriptedOperatorUi ui;
        ConversionLibrary lib;
        QVERIFY(ProbeConversionLibrary(lib, binDir(), ui));
        QVERIFY(ui.boxes.isEmpty());
        QVERIFY(lib.isLoaded());
    }

    // Replacement libraries: only the first seven characters of the probe's
    // answer count; a missing file or function gets the installation message.
    void probeOfReplacements_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("message");
        QTest::newRow("missing file") << QStringLiteral("/nonexistent-velmar") << false << true;
        QTest::newRow("missing function") << QStringLiteral("no_entry") << false << true;
        QTest::newRow("wrong answer") << QStringLiteral("wrong_answer") << false << false;
        QTest::newRow("longer answer") << QStringLiteral("longer_answer") << true << false;
        QTest::newRow("answer without NUL") << QStringLiteral("no_nul") << true << false;
    }
    void probeOfReplacements() {
        QFETCH(QString, folder);
        QFETCH(bool, accepted);
        QFETCH(bool, message);
        if (!folder.startsWith(QLatin1Char('/'))) {
            folder = binDir() + QStringLiteral("/fake-slm/") + folder;
        }
        ScriptedOperatorUi ui;
        ConversionLibrary lib;
        QCOMPARE(ProbeConversionLibrary(lib, folder, ui), accepted);
        QCOMPARE(ui.texts(), message ? QStringList{conversionLibraryMissingText()} : QStringList{});
        QCOMPARE(conversionLibraryMissingText(),
                 QStringLiteral("ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare l'installazione"));
    }

    // What the driver reads from an answer: up to the first NUL, 64 bytes at
    // most; ERRO anywhere in the 64 bytes refuses the line.
    void answersAsTheDriverReadsThem() {
        ConversionLibrary noNul;
        QVERIFY(noNul.load(binDir() + QStringLiteral("/fake-slm/no_nul")));
        const auto all = noNul.call("SALE,N1,P1000;");
        QCOMPARE(ConversionLibrary::commandOf(all), QByteArray("1000H1R" + QByteArray(57, 'A')).toStdString());
        QVERIFY(!ConversionLibrary::isRefusal(all));

        ConversionLibrary hidden;
        QVERIFY(hidden.load(binDir() + QStringLiteral("/fake-slm/erro_after_nul")));
        const auto answer = hidden.call("SALE,N1,P1000;");
        QCOMPARE(ConversionLibrary::commandOf(answer), std::string("1000H1R"));
        QVERIFY(ConversionLibrary::isRefusal(answer));
    }
};

QTEST_GUILESS_MAIN(TestSlm)
#include "tst_slm.moc"
