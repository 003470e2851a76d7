// The department and VAT tables: default files, loading, saving and the gift /
// voucher department lookup the converter relies on.

#include "common/Fault.h"
#include "support/TestSupport.h"
#include "tables/DepartmentTables.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmar;
using velmar::test::ScriptedOperatorUi;

namespace {

struct Department {
    QString idIva = QStringLiteral("0");
    QString gift = QStringLiteral("False");
    QString voucher = QStringLiteral("False");
    QString description;
};

enum class Layout { Indented, Compact, TabsAndCrLf };

QString element(const QString& name, const QString& text) {
    return QStringLiteral("<%1>%2</%1>").arg(name, text.toHtmlEscaped());
}

// Joins the elements of one level the way the layout puts them on the page.
QString joined(const QStringList& parts, Layout layout, int depth) {
    switch (layout) {
    case Layout::Compact:
        return parts.join(QString());
    case Layout::TabsAndCrLf: {
        const QString sep = QStringLiteral("\r\n") + QString(depth, QLatin1Char('\t'));
        return sep + parts.join(sep) + QStringLiteral("\r\n \t");
    }
    case Layout::Indented:
    default: {
        const QString sep = QStringLiteral("\n") + QString(depth * 3, QLatin1Char(' '));
        return sep + parts.join(sep) + QStringLiteral("\n");
    }
    }
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

QByteArray departmentXml(const QList<Department>& departments, Layout layout = Layout::Indented) {
    QStringList rows;
    for (int i = 0; i < departments.size(); ++i) {
        const Department& d = departments.at(i);
        const QString id = QStringLiteral("%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        const QString description =
            d.description.isNull() ? QStringLiteral("Reparto n. ") + id : d.description;
        const QStringList children{element(QStringLiteral("Id"), id),
                                   element(QStringLiteral("Descrizione"), description),
                                   element(QStringLiteral("FlagOmaggio"), d.gift),
                                   element(QStringLiteral("FlagBuono"), d.voucher),
                                   element(QStringLiteral("IdIva"), d.idIva),
                                   element(QStringLiteral("Scelto"), QStringLiteral("False"))};
        rows << QStringLiteral("<Reparto>") + joined(children, layout, 2) +
                    QStringLiteral("</Reparto>");
    }
    return (QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>") +
            (layout == Layout::Compact ? QString() : QStringLiteral("\n")) +
            QStringLiteral("<TabReparti>") + joined(rows, layout, 1) +
            QStringLiteral("</TabReparti>"))
        .toUtf8();
}

// A VAT table whose entry k has the k-th code of `ids`.
QByteArray vatXml(const QStringList& ids, Layout layout = Layout::Indented) {
    QStringList rows;
    for (int i = 0; i < ids.size(); ++i) {
        const QStringList children{
            element(QStringLiteral("Id"), ids.at(i)),
            element(QStringLiteral("Descrizione"), QStringLiteral("Aliquota %1 ").arg(i + 1)),
            element(QStringLiteral("Percentuale"), QStringLiteral("0.00")),
            element(QStringLiteral("Tipo"), QStringLiteral("1"))};
        rows << QStringLiteral("<Aliquota>") + joined(children, layout, 2) +
                    QStringLiteral("</Aliquota>");
    }
    return (QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>\n<TbIva>") +
            joined(rows, layout, 1) + QStringLiteral("</TbIva>"))
        .toUtf8();
}

QStringList positionalVatIds(int count = 12) {
    QStringList ids;
    for (int k = 1; k <= count; ++k) {
        ids << QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'));
    }
    return ids;
}

// `count` plain departments, then the overrides "position=IdIva,FlagOmaggio,FlagBuono".
QList<Department> departments(int count, const QStringList& overrides) {
    QList<Department> list(count);
    for (const QString& o : overrides) {
        const int eq = o.indexOf(QLatin1Char('='));
        const int pos = o.left(eq).toInt();
        const QStringList f = o.mid(eq + 1).split(QLatin1Char(','));
        Department& d = list[pos - 1];
        d.idIva = f.value(0);
        d.gift = f.value(1, QStringLiteral("False"));
        d.voucher = f.value(2, QStringLiteral("False"));
    }
    return list;
}

// The texts of the children of every `parent` element of a file, read independently of
// the code under test.
struct ParsedTable {
    QString root;
    QList<QStringList> childNames;
    QList<QStringList> childTexts;
};

ParsedTable parseTable(const QString& path, const QString& parent) {
    ParsedTable t;
    QDomDocument doc;
    if (!doc.setContent(readBytes(path))) {
        return t;
    }
    t.root = doc.documentElement().tagName();
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        if (e.tagName() != parent) {
            continue;
        }
        QStringList names;
        QStringList texts;
        for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            names << c.tagName();
            texts << c.text();
        }
        t.childNames << names;
        t.childTexts << texts;
    }
    return t;
}

QString path(const QTemporaryDir& dir, const char* name) {
    return dir.path() + QLatin1Char('/') + QLatin1String(name);
}

const QString kDeclaration = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>");

} // namespace

Q_DECLARE_METATYPE(Layout)

class TestDepartmentTables : public QObject {
    Q_OBJECT

private slots:
    void defaultDepartments_data();
    void defaultDepartments();
    void defaultDepartmentsListed();
    void defaultVat_data();
    void defaultVat();
    void defaultVatListed();
    void defaultFilesAreUtf8WithDeclaration();

    void loadStatus_data();
    void loadStatus();

    void saveRoundTrip();
    void saveKeepsVatTextsUnchanged();
    void saveAfterFailedLoad_data();
    void saveAfterFailedLoad();
    void refusedWrite_data();
    void refusedWrite();

    void lookup_data();
    void lookup();
    void lookupAcceptsAnyWhitespace_data();
    void lookupAcceptsAnyWhitespace();
    void lookupSetsCurrentState();
    void lookupCountsOnlyChildrenOfEntries();
    void lookupReusesDocumentsUntilDiscarded();
    void lookupDoesNotCreateFiles();
};

// --- default files ---------------------------------------------------------------------------

void TestDepartmentTables::defaultDepartments_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("description");

    QTest::newRow("first") << 1 << "01"
                           << "Reparto n. 01";
    QTest::newRow("last single digit") << 9 << "09"
                                       << "Reparto n. 09";
    QTest::newRow("first two digits") << 10 << "10"
                                      << "Reparto n. 10";
    QTest::newRow("last") << 50 << "50"
                          << "Reparto n. 50";
}

void TestDepartmentTables::defaultDepartments() {
    QFETCH(int, position);
    QFETCH(QString, id);
    QFETCH(QString, description);

    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    tables.CreateDefaultReparti();
    QVERIFY(ui.boxes.isEmpty());
    QCOMPARE(tables.currentFilePath(), path(dir, "Tb-Reparti.xml"));

    const ParsedTable t = parseTable(path(dir, "Tb-Reparti.xml"), QStringLiteral("Reparto"));
    QCOMPARE(t.root, QStringLiteral("TabReparti"));
    QCOMPARE(t.childNames.size(), 50);
    const QStringList names{"Id", "Descrizione", "FlagOmaggio", "FlagBuono", "IdIva", "Scelto"};
    QCOMPARE(t.childNames.at(position - 1), names);
    const QStringList texts{id, description, "False", "False", "0", "False"};
    QCOMPARE(t.childTexts.at(position - 1), texts);

    // The object reads back what it wrote.
    QCOMPARE(tables.LoadReparti(), std::int16_t(0));
    QCOMPARE(tables.departmentDocument().elementsByTagName("Reparto").size(), 50);
    QCOMPARE(tables.departmentDocument()
                 .elementsByTagName("Descrizione")
                 .item(position - 1)
                 .toElement()
                 .text(),
             description);
}

void TestDepartmentTables::defaultDepartmentsListed() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    QSignalSpy listed(&tables, &DepartmentTables::departmentListed);
    QSignalSpy vatListed(&tables, &DepartmentTables::vatListed);
    tables.CreateDefaultReparti();

    QCOMPARE(listed.size(), 50);
    QCOMPARE(vatListed.size(), 0);
    QCOMPARE(listed.at(0).at(0).toString(), QStringLiteral("Reparto n. 01"));
    QCOMPARE(listed.at(6).at(0).toString(), QStringLiteral("Reparto n. 07"));
    QCOMPARE(listed.at(49).at(0).toString(), QStringLiteral("Reparto n. 50"));
    // The defaults go to the file only, not into the loaded document.
    QCOMPARE(tables.departmentDocument().elementsByTagName("Reparto").size(), 0);
}

void TestDepartmentTables::defaultVat_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("percent");

    QTest::newRow("1") << 1 << "01"
                       << "Aliquota 4% "
                       << "4.00";
    QTest::newRow("2") << 2 << "02"
                       << "Aliquota 10% "
                       << "10.00";
    QTest::newRow("3") << 3 << "03"
                       << "Aliquota 22% "
                       << "22.00";
    QTest::newRow("4") << 4 << "04"
                       << "Aliquota 36% "
                       << "36.00";
    QTest::newRow("5") << 5 << "05"
                       << "Aliquota 5% "
                       << "5.00";
    QTest::newRow("6") << 6 << "06"
                       << "Natura N 1"
                       << "0";
    QTest::newRow("7") << 7 << "07"
                       << "Natura N 2"
                       << "0";
    QTest::newRow("8") << 8 << "08"
                       << "Natura N 3"
                       << "0";
    QTest::newRow("9") << 9 << "09"
                       << "Natura N 4"
                       << "0";
    QTest::newRow("10") << 10 << "10"
                        << "Natura N 5"
                        << "0";
    QTest::newRow("11") << 11 << "11"
                        << "Natura N 6"
                        << "0";
    QTest::newRow("12") << 12 << "12"
                        << "Ventilazione Iva "
                        << "0.00";
}

void TestDepartmentTables::defaultVat() {
    QFETCH(int, position);
    QFETCH(QString, id);
    QFETCH(QString, description);
    QFETCH(QString, percent);

    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    tables.CreateDefaultIva();
    QVERIFY(ui.boxes.isEmpty());
    QCOMPARE(tables.currentFilePath(), path(dir, "Tb-Iva.xml"));

    const ParsedTable t = parseTable(path(dir, "Tb-Iva.xml"), QStringLiteral("Aliquota"));
    QCOMPARE(t.root, QStringLiteral("TbIva"));
    QCOMPARE(t.childNames.size(), 12);
    const QStringList names{"Id", "Descrizione", "Percentuale", "Tipo"};
    QCOMPARE(t.childNames.at(position - 1), names);
    const QStringList texts{id, description, percent, "1"};
    QCOMPARE(t.childTexts.at(position - 1), texts);

    // Read back through the object: the trailing blank survives.
    QCOMPARE(tables.LoadIva(), std::int16_t(0));
    const QString loaded =
        tables.vatDocument().elementsByTagName("Descrizione").item(position - 1).toElement().text();
    QCOMPARE(loaded, description);
}

void TestDepartmentTables::defaultVatListed() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    QSignalSpy listed(&tables, &DepartmentTables::vatListed);
    tables.CreateDefaultIva();

    QCOMPARE(listed.size(), 12);
    QCOMPARE(listed.at(2).at(0).toString(), QStringLiteral("Aliquota 22% "));
    QCOMPARE(listed.at(2).at(0).toString().size(), 13);
    QCOMPARE(listed.at(5).at(0).toString(), QStringLiteral("Natura N 1"));
    QCOMPARE(listed.at(11).at(0).toString(), QStringLiteral("Ventilazione Iva "));
}

void TestDepartmentTables::defaultFilesAreUtf8WithDeclaration() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    tables.CreateDefaultReparti();
    tables.CreateDefaultIva();

    for (const char* name : {"Tb-Reparti.xml", "Tb-Iva.xml"}) {
        const QByteArray bytes = readBytes(path(dir, name));
        QVERIFY2(bytes.startsWith("<?xml "), name);
        QDomDocument doc;
        QVERIFY(doc.setContent(bytes));
        const QDomNode first = doc.firstChild();
        QVERIFY(first.isProcessingInstruction());
        const QString data = first.toProcessingInstruction().data();
        QVERIFY2(data.contains(QStringLiteral("version")) && data.contains(QStringLiteral("1.0")),
                 qPrintable(data));
        QVERIFY2(data.contains(QStringLiteral("UTF-8")), qPrintable(data));
        QVERIFY(!bytes.contains("=\"\"")); // no attributes at all
        QVERIFY(doc.documentElement().attributes().isEmpty());
    }
    // An existing default file is replaced, not appended to.
    tables.CreateDefaultReparti();
    QCOMPARE(parseTable(path(dir, "Tb-Reparti.xml"), "Reparto").childNames.size(), 50);
}

// --- loading ---------------------------------------------------------------------------------

void TestDepartmentTables::loadStatus_data() {
    QTest::addColumn<bool>("vat");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("entries");

    const QByteArray depts = departmentXml(departments(3, {}));
    const QByteArray vat = vatXml(positionalVatIds(4));
    QTest::newRow("departments") << false << true << depts << 0 << 3;
    QTest::newRow("vat") << true << true << vat << 0 << 4;
    QTest::newRow("departments missing") << false << false << QByteArray() << -1 << 0;
    QTest::newRow("vat missing") << true << false << QByteArray() << -1 << 0;
    QTest::newRow("departments truncated")
        << false << true << depts.left(depts.size() - 20) << -1 << 0;
    QTest::newRow("vat truncated") << true << true << vat.left(vat.size() / 2) << -1 << 0;
    QTest::newRow("departments not xml")
        << false << true << QByteArray("Reparto 1;Reparto 2\r\n") << -1 << 0;
    QTest::newRow("vat not xml") << true << true << QByteArray("01;Aliquota 4%;4.00") << -1 << 0;
    QTest::newRow("empty file") << false << true << QByteArray() << -1 << 0;
    QTest::newRow("mismatched tags")
        << false << true << QByteArray("<TabReparti><Reparto></TabReparti>") << -1 << 0;
    QTest::newRow("no declaration")
        << false << true << QByteArray("<TabReparti><Reparto><Id>01</Id></Reparto></TabReparti>")
        << 0 << 1;
    QTest::newRow("empty table") << true << true << QByteArray("<TbIva/>") << 0 << 0;
}

void TestDepartmentTables::loadStatus() {
    QFETCH(bool, vat);
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(int, entries);

    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    const char* name = vat ? "Tb-Iva.xml" : "Tb-Reparti.xml";
    // A good document loaded before is replaced, also by a failed load.
    writeBytes(path(dir, name),
               vat ? vatXml(positionalVatIds(9)) : departmentXml(departments(9, {})));
    QCOMPARE(vat ? tables.LoadIva() : tables.LoadReparti(), std::int16_t(0));
    if (present) {
        writeBytes(path(dir, name), content);
    } else {
        QVERIFY(QFile::remove(path(dir, name)));
    }

    const std::int16_t got = vat ? tables.LoadIva() : tables.LoadReparti();
    QCOMPARE(int(got), status);
    QCOMPARE(tables.currentFilePath(), path(dir, name));
    QDomDocument& doc = vat ? tables.vatDocument() : tables.departmentDocument();
    QCOMPARE(doc.elementsByTagName(vat ? "Aliquota" : "Reparto").size(), entries);
    QVERIFY(ui.boxes.isEmpty());
}

// --- saving ----------------------------------------------------------------------------------

void TestDepartmentTables::saveRoundTrip() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    tables.CreateDefaultReparti();
    QCOMPARE(tables.LoadReparti(), std::int16_t(0));

    // Edit department 5 in memory, as the editor does.
    QDomDocument& doc = tables.departmentDocument();
    const auto setText = [&doc](const char* name, int pos, const QString& text) {
        QDomElement e = doc.elementsByTagName(name).item(pos - 1).toElement();
        while (e.hasChildNodes()) {
            e.removeChild(e.firstChild());
        }
        e.appendChild(doc.createTextNode(text));
    };
    const QString accented = QStringLiteral("Caff\u00e8 & t\u00e8 <bar> ");
    setText("IdIva", 5, QStringLiteral("3"));
    setText("FlagOmaggio", 5, QStringLiteral("True"));
    setText("Scelto", 5, QStringLiteral("True"));
    setText("Descrizione", 5, accented);

    tables.StoreDataReparti();
    QVERIFY2(ui.boxes.isEmpty(), qPrintable(ui.texts().join('|')));
    QCOMPARE(tables.currentFilePath(), path(dir, "Tb-Reparti.xml"));

    const QByteArray bytes = readBytes(path(dir, "Tb-Reparti.xml"));
    QVERIFY(bytes.startsWith("<?xml "));
    QVERIFY2(bytes.contains("Caff\xc3\xa8"), bytes.constData()); // UTF-8, not Latin-1

    const ParsedTable t = parseTable(path(dir, "Tb-Reparti.xml"), QStringLiteral("Reparto"));
    QCOMPARE(t.childNames.size(), 50);
    QCOMPARE(t.childTexts.at(4), (QStringList{"05", accented, "True", "False", "3", "True"}));
    QCOMPARE(t.childTexts.at(5),
             (QStringList{"06", "Reparto n. 06", "False", "False", "0", "False"}));

    // Read back by the object itself after the documents were dropped.
    tables.discardDocuments();
    QCOMPARE(tables.LoadReparti(), std::int16_t(0));
    QCOMPARE(
        tables.departmentDocument().elementsByTagName("Descrizione").item(4).toElement().text(),
        accented);
    QCOMPARE(tables.departmentDocument().elementsByTagName("IdIva").item(4).toElement().text(),
             QStringLiteral("3"));
}

void TestDepartmentTables::saveKeepsVatTextsUnchanged() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    tables.CreateDefaultIva();
    const ParsedTable before = parseTable(path(dir, "Tb-Iva.xml"), QStringLiteral("Aliquota"));
    QCOMPARE(tables.LoadIva(), std::int16_t(0));
    tables.StoreDataIva();
    QVERIFY(ui.boxes.isEmpty());
    QCOMPARE(tables.currentFilePath(), path(dir, "Tb-Iva.xml"));
    const ParsedTable after = parseTable(path(dir, "Tb-Iva.xml"), QStringLiteral("Aliquota"));
    QCOMPARE(after.root, QStringLiteral("TbIva"));
    QCOMPARE(after.childNames, before.childNames);
    QCOMPARE(after.childTexts, before.childTexts);
    QCOMPARE(after.childTexts.at(2).at(1), QStringLiteral("Aliquota 22% "));
}

void TestDepartmentTables::saveAfterFailedLoad_data() {
    QTest::addColumn<bool>("vat");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");

    const QString repText = QStringLiteral("Impossibile salvare la tabella dei reparti");
    const QString repTitle = QStringLiteral("Tabella Reparti");
    const QString vatText = QStringLiteral("Impossibile salvare la tabella IVA");
    const QString vatTitle = QStringLiteral("Tabella IVA");
    QTest::newRow("departments broken") << false << true << repText << repTitle;
    QTest::newRow("departments missing") << false << false << repText << repTitle;
    QTest::newRow("vat broken") << true << true << vatText << vatTitle;
    QTest::newRow("vat missing") << true << false << vatText << vatTitle;
}

void TestDepartmentTables::saveAfterFailedLoad() {
    QFETCH(bool, vat);
    QFETCH(bool, present);
    QFETCH(QString, text);
    QFETCH(QString, title);

    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    const QString file = path(dir, vat ? "Tb-Iva.xml" : "Tb-Reparti.xml");
    const QByteArray broken("<TbIva><Aliquota><Id>01</Id>");
    if (present) {
        writeBytes(file, broken);
    }
    QCOMPARE(vat ? tables.LoadIva() : tables.LoadReparti(), std::int16_t(-1));
    QVERIFY(ui.boxes.isEmpty());

    vat ? tables.StoreDataIva() : tables.StoreDataReparti();
    QCOMPARE(ui.boxes.size(), 1);
    QCOMPARE(ui.boxes.at(0).text, text);
    QCOMPARE(ui.boxes.at(0).title, title);
    QCOMPARE(ui.boxes.at(0).icon, MsgIcon::Critical);
    // The document was written all the same: the broken content is gone.
    QVERIFY(QFile::exists(file));
    QVERIFY(readBytes(file) != broken);

    // A successful load clears the failure: the next save is silent.
    writeBytes(file, vat ? vatXml(positionalVatIds(2)) : departmentXml(departments(2, {})));
    QCOMPARE(vat ? tables.LoadIva() : tables.LoadReparti(), std::int16_t(0));
    vat ? tables.StoreDataIva() : tables.StoreDataReparti();
    QCOMPARE(ui.boxes.size(), 1);

    // The other table is not affected by this table's failure.
    ScriptedOperatorUi ui2;
    DepartmentTables other(ui2);
    other.setDataDirectory(dir.path());
    writeBytes(path(dir, "Tb-Reparti.xml"), broken);
    writeBytes(path(dir, "Tb-Iva.xml"), broken);
    QCOMPARE(vat ? other.LoadIva() : other.LoadReparti(), std::int16_t(-1));
    vat ? other.StoreDataReparti() : other.StoreDataIva();
    QCOMPARE(ui2.boxes.size(), 0);
}

void TestDepartmentTables::refusedWrite_data() {
    QTest::addColumn<bool>("vat");
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<bool>("loadFailedBefore");

    QTest::newRow("departments, data directory is a file") << false << "file-as-dir" << false;
    QTest::newRow("vat, data directory is a file") << true << "file-as-dir" << false;
    QTest::newRow("departments, directory in place of the file") << false << "dir-as-file" << false;
    QTest::newRow("vat, directory in place of the file") << true << "dir-as-file" << false;
    QTest::newRow("departments, data directory missing") << false << "missing-dir" << false;
    // The refused write ends the save: no second box about the failed load.
    QTest::newRow("vat, refused after failed load") << true << "file-as-dir" << true;
    QTest::newRow("departments, refused after failed load") << false << "dir-as-file" << true;
}

void TestDepartmentTables::refusedWrite() {
    QFETCH(bool, vat);
    QFETCH(QString, obstacle);
    QFETCH(bool, loadFailedBefore);

    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    const char* name = vat ? "Tb-Iva.xml" : "Tb-Reparti.xml";

    // Load a good table first (or fail to), then put the obstacle in the way.
    tables.setDataDirectory(dir.path());
    if (!loadFailedBefore) {
        writeBytes(path(dir, name),
                   vat ? vatXml(positionalVatIds(3)) : departmentXml(departments(3, {})));
    }
    QCOMPARE(int(vat ? tables.LoadIva() : tables.LoadReparti()), loadFailedBefore ? -1 : 0);

    if (obstacle == "file-as-dir") {
        const QString blocker = dir.path() + QStringLiteral("/plain-file");
        writeBytes(blocker, "x");
        tables.setDataDirectory(blocker);
    } else if (obstacle == "dir-as-file") {
        QFile::remove(path(dir, name));
        QVERIFY(QDir(dir.path()).mkdir(QLatin1String(name)));
    } else {
        tables.setDataDirectory(dir.path() + QStringLiteral("/no/such/folder"));
    }

    vat ? tables.StoreDataIva() : tables.StoreDataReparti();
    QCOMPARE(ui.boxes.size(), 1);
    const QString procedure = vat ? "StoreDataIva" : "StoreDataReparti";
    const QString expected =
        QStringLiteral("Error 75 (%1) in procedure %2 of Form FrmConfigurazioneReparti")
            .arg(QString::fromUtf8(standardFaultDescription(faultno::FileAccess)), procedure);
    QCOMPARE(ui.boxes.at(0).text, expected);
    QCOMPARE(ui.boxes.at(0).text,
             QStringLiteral("Error 75 (Errore di accesso al percorso/file) in procedure ") +
                 procedure + QStringLiteral(" of Form FrmConfigurazioneReparti"));
    if (obstacle == "dir-as-file") {
        QVERIFY(QFileInfo(path(dir, name)).isDir());
    }
}

// --- the lookup ------------------------------------------------------------------------------

void TestDepartmentTables::lookup_data() {
    QTest::addColumn<int>("deptCount"); // 0: no Tb-Reparti.xml
    QTest::addColumn<QStringList>("overrides");
    QTest::addColumn<bool>("vatFile");
    QTest::addColumn<QStringList>("vatIds");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariant>("expected"); // invalid: the empty result
    QTest::addColumn<int>("fault");         // 0: no fault
    QTest::addColumn<QString>("faultText");

    const QVariant empty;
    const QStringList vat = positionalVatIds();
    const QStringList gift7{"3=3", "7=3,True"};

    QTest::newRow("gift found") << 50 << gift7 << true << vat << 3 << 0 << QVariant(7) << 0 << "";
    QTest::newRow("voucher: none flagged")
        << 50 << gift7 << true << vat << 3 << 1 << empty << 0 << "";
    QTest::newRow("voucher found") << 50 << QStringList{"3=3", "7=3,True", "9=3,False,True"} << true
                                   << vat << 3 << 1 << QVariant(9) << 0 << "";
    QTest::newRow("any other kind means voucher")
        << 50 << QStringList{"3=3", "7=3,True", "9=3,False,True"} << true << vat << 3 << 2
        << QVariant(9) << 0 << "";
    QTest::newRow("gift flag on another VAT rate")
        << 50 << QStringList{"3=3", "7=2,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("department itself never returned")
        << 50 << QStringList{"3=3,True,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("department itself skipped, later one found")
        << 50 << QStringList{"3=3,True", "8=3,True"} << true << vat << 3 << 0 << QVariant(8) << 0
        << "";
    QTest::newRow("flag lower case")
        << 50 << QStringList{"3=3", "7=3,true"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("flag upper case")
        << 50 << QStringList{"3=3", "7=3,TRUE"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("flag with a blank")
        << 50 << QStringList{"3=3", "7=3,True "} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("voucher flag lower case")
        << 50 << QStringList{"3=3", "9=3,False,true"} << true << vat << 3 << 1 << empty << 0 << "";
    QTest::newRow("lowest position wins") << 50 << QStringList{"3=3", "12=3,True", "20=3,True"}
                                          << true << vat << 3 << 0 << QVariant(12) << 0 << "";
    QTest::newRow("candidate before the department")
        << 50 << QStringList{"2=3,True", "12=3", "20=3,True"} << true << vat << 12 << 0
        << QVariant(2) << 0 << "";
    QTest::newRow("IdIva 0") << 50 << QStringList{"3=0", "7=0,True"} << true << vat << 3 << 0
                             << empty << 0 << "";
    QTest::newRow("IdIva negative")
        << 50 << QStringList{"3=-3", "7=3,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("IdIva not numeric")
        << 50 << QStringList{"3=abc", "7=3,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("IdIva empty") << 50 << QStringList{"3=", "7=3,True"} << true << vat << 3 << 0
                                 << QVariant(-1) << 0 << "";
    QTest::newRow("IdIva leading number") << 50 << QStringList{"3= 3 (22%)", "7=3,True"} << true
                                          << vat << 3 << 0 << QVariant(7) << 0 << "";
    QTest::newRow("IdIva half rounds to even, down")
        << 50 << QStringList{"3=2.5", "6=3,True", "7=2,True"} << true << vat << 3 << 0
        << QVariant(7) << 0 << "";
    QTest::newRow("IdIva half rounds to even, up")
        << 50 << QStringList{"3=3.5", "6=3,True", "7=4,True"} << true << vat << 3 << 0
        << QVariant(7) << 0 << "";
    QTest::newRow("IdIva below a half is 0")
        << 50 << QStringList{"3=0.4", "7=1,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("other IdIva compared as read: 3.0 matches")
        << 50 << QStringList{"3=3", "7=03.0,True"} << true << vat << 3 << 0 << QVariant(7) << 0
        << "";
    QTest::newRow("other IdIva compared as read: 3.4 does not")
        << 50 << QStringList{"3=3", "7=3.4,True"} << true << vat << 3 << 0 << empty << 0 << "";
    QTest::newRow("VAT code, not position, is compared")
        << 50 << QStringList{"3=3", "7=3,True", "8=5,True"} << true
        << QStringList{"01", "02", "05", "04"} << 3 << 0 << QVariant(8) << 0 << "";
    QTest::newRow("VAT code empty") << 50 << gift7 << true << QStringList{"01", "02", "", "04"} << 3
                                    << 0 << QVariant(-1) << 0 << "";
    QTest::newRow("d is 0") << 50 << gift7 << true << vat << 0 << 0 << empty << 0 << "";
    QTest::newRow("d is negative") << 50 << gift7 << true << vat << -4 << 0 << empty << 0 << "";
    QTest::newRow("last department") << 50 << QStringList{"50=3", "7=3,True"} << true << vat << 50
                                     << 0 << QVariant(7) << 0 << "";
    QTest::newRow("Tb-Iva.xml missing")
        << 50 << gift7 << false << QStringList() << 3 << 0 << QVariant(-1) << 0 << "";
    QTest::newRow("Tb-Reparti.xml missing")
        << 0 << QStringList() << true << vat << 3 << 0 << QVariant(-1) << 0 << "";
    QTest::newRow("tables missing before d is checked")
        << 0 << QStringList() << false << QStringList() << 0 << 0 << QVariant(-1) << 0 << "";
    QTest::newRow("department beyond the table")
        << 50 << gift7 << true << vat << 51 << 0 << empty << int(faultno::MissingElement)
        << "Reparto 51 non presente in Tb-Reparti.xml";
    QTest::newRow("department beyond a short table")
        << 5 << QStringList{"3=3", "4=3,True"} << true << vat << 60 << 0 << empty
        << int(faultno::MissingElement) << "Reparto 60 non presente in Tb-Reparti.xml";
    QTest::newRow("VAT position beyond the table")
        << 50 << QStringList{"3=14", "7=14,True"} << true << vat << 3 << 0 << empty
        << int(faultno::MissingElement) << "Aliquota 14 non presente in Tb-Iva.xml";
    QTest::newRow("IdIva beyond 16 bits") << 50 << QStringList{"3=40000", "7=3,True"} << true << vat
                                          << 3 << 0 << empty << int(faultno::Overflow) << "";
}

void TestDepartmentTables::lookup() {
    QFETCH(int, deptCount);
    QFETCH(QStringList, overrides);
    QFETCH(bool, vatFile);
    QFETCH(QStringList, vatIds);
    QFETCH(int, d);
    QFETCH(int, kind);
    QFETCH(QVariant, expected);
    QFETCH(int, fault);
    QFETCH(QString, faultText);

    QTemporaryDir dir;
    if (deptCount > 0) {
        writeBytes(path(dir, "Tb-Reparti.xml"), departmentXml(departments(deptCount, overrides)));
    }
    if (vatFile) {
        writeBytes(path(dir, "Tb-Iva.xml"), vatXml(vatIds));
    }
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());

    std::optional<std::int16_t> result;
    try {
        result = tables.SearchDepartmentOmaggioBuono(std::int16_t(d), std::int16_t(kind));
        QVERIFY2(fault == 0, "a fault was expected");
    } catch (const Fault& f) {
        QVERIFY2(fault != 0, f.what());
        QCOMPARE(f.number(), fault);
        if (!faultText.isEmpty()) {
            QCOMPARE(QString::fromStdString(f.description()), faultText);
        }
        return;
    }
    const QVariant got = result ? QVariant(int(*result)) : QVariant();
    QCOMPARE(got, expected);
    QVERIFY(ui.boxes.isEmpty());
}

void TestDepartmentTables::lookupAcceptsAnyWhitespace_data() {
    QTest::addColumn<Layout>("layout");
    QTest::newRow("indented") << Layout::Indented;
    QTest::newRow("no whitespace at all") << Layout::Compact;
    QTest::newRow("tabs and CR LF") << Layout::TabsAndCrLf;
}

void TestDepartmentTables::lookupAcceptsAnyWhitespace() {
    QFETCH(Layout, layout);

    QTemporaryDir dir;
    QList<Department> list = departments(20, {"3=3", "7=3,True", "9=3,False,True"});
    list[6].description = QStringLiteral("Omaggi 22% ");
    writeBytes(path(dir, "Tb-Reparti.xml"), departmentXml(list, layout));
    writeBytes(path(dir, "Tb-Iva.xml"), vatXml(positionalVatIds(), layout));
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());

    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), std::optional<std::int16_t>(7));
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 1), std::optional<std::int16_t>(9));
    QCOMPARE(tables.departmentDocument().elementsByTagName("Reparto").size(), 20);
    QCOMPARE(
        tables.departmentDocument().elementsByTagName("Descrizione").item(6).toElement().text(),
        QStringLiteral("Omaggi 22% "));
}

void TestDepartmentTables::lookupSetsCurrentState() {
    QTemporaryDir dir;
    writeBytes(path(dir, "Tb-Reparti.xml"),
               departmentXml(departments(10, {"4=2", "6=7,True", "8=0"})));
    writeBytes(path(dir, "Tb-Iva.xml"), vatXml({"01", "07", "03"}));
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());

    // Department 4 points at VAT entry 2, whose code is 7.
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(4, 0), std::optional<std::int16_t>(6));
    QCOMPARE(tables.currentDepartment(), std::int16_t(4));
    QCOMPARE(tables.currentVatCode(), std::int16_t(7));
    QCOMPARE(tables.currentFilePath(), path(dir, "Tb-Iva.xml"));

    // A department without VAT rate moves the department, not the VAT code.
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(8, 0), std::optional<std::int16_t>());
    QCOMPARE(tables.currentDepartment(), std::int16_t(8));
    QCOMPARE(tables.currentVatCode(), std::int16_t(7));
}

void TestDepartmentTables::lookupCountsOnlyChildrenOfEntries() {
    // Elements of the same name outside a "Reparto" / "Aliquota" do not shift the count.
    QTemporaryDir dir;
    QByteArray depts = departmentXml(departments(8, {"3=3", "7=3,True"}));
    depts.replace("<TabReparti>", "<TabReparti><Info><IdIva>3</IdIva><FlagOmaggio>True"
                                  "</FlagOmaggio></Info>");
    QByteArray vat = vatXml({"01", "02", "03", "04"});
    vat.replace("<TbIva>", "<TbIva><Versione><Id>09</Id></Versione>");
    writeBytes(path(dir, "Tb-Reparti.xml"), depts);
    writeBytes(path(dir, "Tb-Iva.xml"), vat);
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());

    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), std::optional<std::int16_t>(7));
    QCOMPARE(tables.currentVatCode(), std::int16_t(3));
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(2, 0), std::optional<std::int16_t>());
}

void TestDepartmentTables::lookupReusesDocumentsUntilDiscarded() {
    QTemporaryDir dir;
    writeBytes(path(dir, "Tb-Reparti.xml"), departmentXml(departments(50, {"3=3", "7=3,True"})));
    writeBytes(path(dir, "Tb-Iva.xml"), vatXml(positionalVatIds()));
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    using R = std::optional<std::int16_t>;

    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), R(7));

    // The files change on disk: the loaded documents are still used.
    writeBytes(path(dir, "Tb-Reparti.xml"), departmentXml(departments(50, {"3=3", "5=3,True"})));
    QVERIFY(QFile::remove(path(dir, "Tb-Iva.xml")));
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), R(7));

    // An edit in memory (the open editor) is seen at once.
    QDomElement flag =
        tables.departmentDocument().elementsByTagName("FlagOmaggio").item(1).toElement();
    flag.firstChild().setNodeValue(QStringLiteral("True"));
    QDomElement vat = tables.departmentDocument().elementsByTagName("IdIva").item(1).toElement();
    vat.firstChild().setNodeValue(QStringLiteral("3"));
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), R(2));

    // Closing the editor drops the documents: both files are read again.
    tables.discardDocuments();
    QCOMPARE(tables.departmentDocument().elementsByTagName("Reparto").size(), 0);
    QCOMPARE(tables.vatDocument().elementsByTagName("Aliquota").size(), 0);
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), R(-1)); // Tb-Iva.xml is gone now
    writeBytes(path(dir, "Tb-Iva.xml"), vatXml(positionalVatIds()));

    // A lookup that could not load both tables leaves neither loaded: the next
    // one reads both files again and finds the VAT table back in place.
    QCOMPARE(tables.departmentDocument().elementsByTagName("Reparto").size(), 0);
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), R(5));
}

void TestDepartmentTables::lookupDoesNotCreateFiles() {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables(ui);
    tables.setDataDirectory(dir.path());
    QSignalSpy listed(&tables, &DepartmentTables::departmentListed);

    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 0), std::optional<std::int16_t>(-1));
    QCOMPARE(tables.SearchDepartmentOmaggioBuono(3, 1), std::optional<std::int16_t>(-1));
    QVERIFY(!QFile::exists(path(dir, "Tb-Reparti.xml")));
    QVERIFY(!QFile::exists(path(dir, "Tb-Iva.xml")));
    QCOMPARE(listed.size(), 0);
    QVERIFY(ui.boxes.isEmpty());
}

QTEST_GUILESS_MAIN(TestDepartmentTables)
#include "tst_departmenttables.moc"
