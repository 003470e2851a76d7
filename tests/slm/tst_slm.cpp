// The conversion library as the driver meets it: loaded at run time, called
// through its C entry point with the driver's calling pattern, and probed at
// start-up. Also the replacement libraries a site might drop in.

#include "common/CaseTable.h"
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
    // The mapping from receipt lines to register commands, and the lines the
    // library refuses with ERRO and a reason.
    void mapping_data() { addCaseRows(u"slm/mapping.txt"_s, {"line", "command"}); }
    void mapping() {
        const auto [line, command] = caseFields("line", "command");
        const QByteArray answer = convertGuarded(line);
        if (!command.startsWith("ERRO ~")) {
            QCOMPARE(answer, command);
            return;
        }
        QVERIFY2(answer.startsWith("ERRO: "), answer.constData());
        QVERIFY2(answer.contains(command.mid(6)), answer.constData());
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

    void probeOfReplacements_data() {
        addCaseRows(u"slm/probe.txt"_s, {"folder", "accepted", "message"});
    }
    void probeOfReplacements() {
        const auto [folder, accepted, message] = caseFields("folder", "accepted", "message");
        const QString path = folder == "bin" ? binDir()
                             : folder.startsWith('/') ? QString::fromLatin1(folder)
                                                      : binDir() + u"/fake-slm/"_s + QString::fromLatin1(folder);
        ScriptedOperatorUi ui;
        ConversionLibrary lib;
        QCOMPARE(ProbeConversionLibrary(lib, path, ui), accepted == "1");
        if (accepted == "1") {
            QVERIFY(lib.isLoaded());
        }
        QCOMPARE(ui.texts(), message == "1" ? QStringList{conversionLibraryMissingText()} : QStringList{});
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
