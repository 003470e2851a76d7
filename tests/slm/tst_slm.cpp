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
using namespace Qt::StringLiterals;

Entry entryPoint() {
    static QLibrary lib(binDir() + u"/qarn_slm1"_s);
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
        QTest::newRow("probe pair") << "SALE,N1,P1000;"_ba << "1000H1R"_ba;
        QTest::newRow("sale with text and quantity")
            << "SALE,:PANE,N3,P150,Q2;"_ba << "\"PANE\"2*150H3R"_ba;
        QTest::newRow("sale, decimal quantity") << "SALE,N1,P100,Q0.500;"_ba
                                                << "0.500*100H1R"_ba;
        QTest::newRow("sale, price in units") << "SALE,N2,P12.5;"_ba << "1250H2R"_ba;
        QTest::newRow("sale, preset price") << "SALE,N4;"_ba << "4R"_ba;
        QTest::newRow("sale without fields") << "SALE;"_ba << "1R"_ba;
        QTest::newRow("sale, quote in text") << "SALE,:A\"B,P1;"_ba << "\"A'B\"1H1R"_ba;
        QTest::newRow("cash, amount") << "CASH,V2500;"_ba << "2500H1T"_ba;
        QTest::newRow("cash, the rest") << "CASH;"_ba << "1T"_ba;
        QTest::newRow("deposit") << "DEPO,V500;"_ba << "10M500H1T"_ba;
        QTest::newRow("deposit by card") << "DEPO,V500,N3;"_ba << "10M500H3T"_ba;
        QTest::newRow("withdrawal") << "PREL,V200;"_ba << "11M200H1T"_ba;
        QTest::newRow("discount %") << "DISC,%10.50;"_ba << "10.50|1M"_ba;
        QTest::newRow("discount amount") << "DISC,V100;"_ba << "100|3M"_ba;
        QTest::newRow("subtotal discount %") << "DOST,%5;"_ba << "=5|2M"_ba;
        QTest::newRow("subtotal discount amount") << "DOST,V300;"_ba << "=300|4M"_ba;
        QTest::newRow("surcharge %") << "MAGG,%2.50;"_ba << "2.50|5M"_ba;
        QTest::newRow("surcharge amount") << "MAGG,V80;"_ba << "80|7M"_ba;
        QTest::newRow("subtotal surcharge %") << "MOST,%3;"_ba << "=3|6M"_ba;
        QTest::newRow("subtotal surcharge amount") << "MOST,V250;"_ba << "=250|8M"_ba;
        QTest::newRow("clear") << "CLER;"_ba << "K"_ba;
        QTest::newRow("open drawer") << "OPEN;"_ba << "a"_ba;
        QTest::newRow("subtotal") << "ADDS;"_ba << "="_ba;
        QTest::newRow("blank printed line") << "PRNT;"_ba << "\" \"@"_ba;
        QTest::newRow("extra line without text") << "EXTL;"_ba << ""_ba;
        QTest::newRow("QR code as text") << "QRCO,:ABC;"_ba << "\"ABC\"@"_ba;
        QTest::newRow("blank QR code") << "QRCO,: ;"_ba << ""_ba;
        QTest::newRow("credit recovery") << "RECO,V500;"_ba
                                         << "j\"RECUPERO CREDITO: 500\"@J"_ba;
        QTest::newRow("credit recovery, no amount") << "RECO;"_ba
                                                    << "j\"RECUPERO CREDITO\"@J"_ba;
        QTest::newRow("tender without number") << "TEND,V100;"_ba << "100H1T"_ba;
        QTest::newRow("function key") << "FUNC,N5;"_ba << "5F"_ba;
        QTest::newRow("empty line") << ""_ba << ""_ba;
        QTest::newRow("blank keyword") << "   ;"_ba << ""_ba;
        QTest::newRow("lower-case keyword") << "cash;"_ba << "1T"_ba;
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
        QTest::newRow("unknown keyword") << "XYZW,N1;"_ba << "XYZW"_ba;
        QTest::newRow("department 0") << "SALE,N0,P100;"_ba << "reparto"_ba;
        QTest::newRow("department 100") << "SALE,N100,P100;"_ba << "reparto"_ba;
        QTest::newRow("price of ten digits") << "SALE,N1,P1000000000;"_ba << "prezzo"_ba;
        QTest::newRow("price in exponent form") << "SALE,N1,P1E+20;"_ba << "prezzo"_ba;
        QTest::newRow("zero quantity") << "SALE,N1,P1,Q0;"_ba << "quantita"_ba;
        QTest::newRow("amount with decimals") << "CASH,V1.5;"_ba << "importo"_ba;
        QTest::newRow("deposit without amount") << "DEPO;"_ba << "importo"_ba;
        QTest::newRow("deposit, payment 6") << "DEPO,V1,N6;"_ba << "pagamento"_ba;
        QTest::newRow("discount without value") << "DISC;"_ba << "percentuale"_ba;
        QTest::newRow("discount over 100%") << "DISC,%100.01;"_ba << "percentuale"_ba;
        QTest::newRow("lottery code") << "LOTT,C1234;"_ba << "lotteria"_ba;
        QTest::newRow("payment 20") << "TEND,N20,V1;"_ba << "N20"_ba;
        QTest::newRow("function key missing") << "FUNC;"_ba << "funzione"_ba;
        QTest::newRow("reference without date") << "NDCR,N1,>POS;"_ba << "data"_ba;
        QTest::newRow("command too long")
            << QByteArray("SALE,:" + QByteArray(50, 'A') + ",N1,Q99999.999,P999999999;")
            << "lungo"_ba;
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
        QCOMPARE(convertGuarded("SALE,N1,P1000;XXXX", 14), "1000H1R"_ba);
        QCOMPARE(convertGuarded(QByteArray("SALE,N1,P1000;\0XXXX", 19)), "1000H1R"_ba);
        QCOMPARE(convertGuarded("SALE,N1,P1000;", 0), ""_ba);
    }

    void hugeInputStaysWithinTheAreas() {
        QByteArray line = "SALE,:" + QByteArray(1 << 20, 'X') + ",N1,P1;";
        const QByteArray answer = convertGuarded(line);
        QVERIFY2(answer.startsWith("ERRO"), answer.left(70).constData());
        QVERIFY(answer.size() <= 63);
        QVERIFY(convertGuarded(QByteArray(1 << 20, ',')).size() <= 63);
    }

    // The real library, and replacement libraries: only the first seven
    // characters of the probe's answer count; a missing file or function gets
    // the installation message.
    void probeOfReplacements_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("message");
        QTest::newRow("the real library") << binDir() << true << false;
        QTest::newRow("missing file") << u"/nonexistent-velmar"_s << false << true;
        QTest::newRow("missing function") << u"no_entry"_s << false << true;
        QTest::newRow("wrong answer") << u"wrong_answer"_s << false << false;
        QTest::newRow("longer answer") << u"longer_answer"_s << true << false;
        QTest::newRow("answer without NUL") << u"no_nul"_s << true << false;
    }
    void probeOfReplacements() {
        QFETCH(QString, folder);
        QFETCH(bool, accepted);
        QFETCH(bool, message);
        if (!folder.startsWith(QLatin1Char('/'))) {
            folder = binDir() + u"/fake-slm/"_s + folder;
        }
        ScriptedOperatorUi ui;
        ConversionLibrary lib;
        QCOMPARE(ProbeConversionLibrary(lib, folder, ui), accepted);
        if (accepted) {
            QVERIFY(lib.isLoaded());
        }
        QCOMPARE(ui.texts(), message ? QStringList{conversionLibraryMissingText()} : QStringList{});
        QCOMPARE(conversionLibraryMissingText(),
                 u"ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare l'installazione"_s);
    }

    // What the driver reads from an answer: up to the first NUL, 64 bytes at
    // most; ERRO anywhere in the 64 bytes refuses the line.
    void answersAsTheDriverReadsThem() {
        ConversionLibrary noNul;
        QVERIFY(noNul.load(binDir() + u"/fake-slm/no_nul"_s));
        const auto all = noNul.call("SALE,N1,P1000;");
        QCOMPARE(ConversionLibrary::commandOf(all), QByteArray("1000H1R" + QByteArray(57, 'A')).toStdString());
        QVERIFY(!ConversionLibrary::isRefusal(all));

        ConversionLibrary hidden;
        QVERIFY(hidden.load(binDir() + u"/fake-slm/erro_after_nul"_s));
        const auto answer = hidden.call("SALE,N1,P1000;");
        QCOMPARE(ConversionLibrary::commandOf(answer), std::string("1000H1R"));
        QVERIFY(ConversionLibrary::isRefusal(answer));
    }
};

QTEST_GUILESS_MAIN(TestSlm)
#include "tst_slm.moc"
