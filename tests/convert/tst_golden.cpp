// Golden receipts: each tests/data/golden/NAME.sl is converted for every
// register family and XON.txt is compared byte for byte with NAME.xon.
//
// NAME.xon holds optional headers ("matricola: ...", "max-len: ..."), then
// sections "[families] [refused]" followed by the expected commands, one per
// line (blank and "#" lines are ignored). Every family 0-6 must appear in
// exactly one section. The tables in golden/tables/ are in the data directory.

#include "ConverterFixture.h"

#include <QDir>
#include <QRegularExpression>

using namespace velmar;
using namespace velmar::test;

namespace {

struct Expectation {
    bool refused = false;
    QByteArrayList commands;
};

struct GoldenCase {
    QByteArray matricola;
    QString maxLen = QStringLiteral("30");
    Expectation byFamily[7];
    bool seen[7] = {};
};

GoldenCase parseGolden(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(path));
    }
    GoldenCase g;
    QList<int> current;
    const QRegularExpression header(QStringLiteral("^\\[([0-6 ]+)\\]\\s*(refused)?\\s*$"));
    for (QByteArray line : f.readAll().split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (line.startsWith("matricola: ")) {
            g.matricola = line.mid(11);
            continue;
        }
        if (line.startsWith("max-len: ")) {
            g.maxLen = QString::fromLatin1(line.mid(9));
            continue;
        }
        const auto m = header.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            current.clear();
            for (const QString& n : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const int family = n.toInt();
                if (g.seen[family]) {
                    qFatal("%s: family %d twice", qPrintable(path), family);
                }
                g.seen[family] = true;
                g.byFamily[family].refused = !m.captured(2).isEmpty();
                current << family;
            }
            continue;
        }
        if (current.isEmpty()) {
            qFatal("%s: command before the first [families] header: %s", qPrintable(path),
                   line.constData());
        }
        for (int family : current) {
            g.byFamily[family].commands << line;
        }
    }
    for (int family = 0; family < 7; ++family) {
        if (!g.seen[family]) {
            qFatal("%s: no section for family %d", qPrintable(path), family);
        }
    }
    return g;
}

QByteArray asXon(const QByteArrayList& commands) {
    QByteArray bytes;
    for (const QByteArray& c : commands) {
        bytes += c + "\r\n";
    }
    return bytes;
}

} // namespace

class TestGolden : public QObject {
    Q_OBJECT

private slots:
    void receipts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("family");
        const QDir golden(testDataDir() + QStringLiteral("/golden"));
        const QStringList cases = golden.entryList({QStringLiteral("*.sl")}, QDir::Files, QDir::Name);
        QVERIFY2(cases.size() >= 10, "the golden receipts are missing");
        for (const QString& file : cases) {
            const QString name = file.chopped(3);
            for (int family = 0; family < 7; ++family) {
                QTest::addRow("%s/family%d", qPrintable(name), family) << name << family;
            }
        }
    }

    void receipts() {
        QFETCH(QString, name);
        QFETCH(int, family);
        const QString base = testDataDir() + QStringLiteral("/golden/") + name;
        const GoldenCase g = parseGolden(base + QStringLiteral(".xon"));
        const Expectation& want = g.byFamily[family];

        ConverterFixture fx;
        for (const char* table : {"Tb-Reparti.xml", "Tb-Iva.xml"}) {
            QVERIFY(QFile::copy(testDataDir() + QStringLiteral("/golden/tables/") + QLatin1String(table),
                                fx.dir.filePath(QLatin1String(table))));
        }
        fx.setFamily(family);
        fx.panel.cboMaxLenDescr.setText(g.maxLen);
        fx.panel.ConfiguredMatricola = g.matricola.toStdString();

        const std::int16_t result = fx.convert(fx.readFile(base + QStringLiteral(".sl")));

        QCOMPARE(result, std::int16_t(want.refused ? 1 : 0));
        QCOMPARE(fx.converter.lastOutcome(),
                 want.refused ? ConversionOutcome::Refused : ConversionOutcome::Converted);
        QVERIFY2(fx.ui.boxes.isEmpty(), qPrintable(fx.ui.texts().join(QLatin1Char('|'))));
        QCOMPARE(fx.xon(), asXon(want.commands));
        // Only a conversion that reached the end names XON.txt for the link.
        QCOMPARE(fx.link.ConvertedFilePath, want.refused ? QString() : fx.converter.outputPath());
    }
};

QTEST_GUILESS_MAIN(TestGolden)
#include "tst_golden.moc"
