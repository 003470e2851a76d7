// The department and VAT tables: default files, loading, saving and the gift /
// voucher department lookup the converter relies on.

#include "common/Fault.h"
#include "support/TestSupport.h"
#include "tables/DepartmentTables.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmar;
using velmar::test::ScriptedOperatorUi;

namespace {

const QStringList kVatIds{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"};
const QByteArray kBroken("<TbIva><Aliquota><Id>01</Id>");

// A table file: the declaration, the root, and per row an `entry` element holding
// the children "name=text" of the row; `sep` goes between any two elements.
QByteArray xml(const QString& root, const QString& entry, const QList<QStringList>& rows,
               const QString& sep) {
    QString out = "<?xml version='1.0' encoding='UTF-8'?>" + sep + "<" + root + ">";
    for (const QStringList& row : rows) {
        out += sep + "<" + entry + ">";
        for (const QString& child : row) {
            out += sep + QStringLiteral("<%1>%2</%1>")
                             .arg(child.section('=', 0, 0), child.section('=', 1).toHtmlEscaped());
        }
        out += sep + "</" + entry + ">";
    }
    return (out + sep + "</" + root + ">").toUtf8();
}

// What the default file of a table holds: each entry as "name=text" of its children.
QList<QStringList> defaultEntries(bool vat) {
    QList<QStringList> out;
    const QStringList rates{"Aliquota 4% =4.00",   "Aliquota 10% =10.00", "Aliquota 22% =22.00",
                            "Aliquota 36% =36.00", "Aliquota 5% =5.00",   "Natura N 1=0",
                            "Natura N 2=0",        "Natura N 3=0",        "Natura N 4=0",
                            "Natura N 5=0",        "Natura N 6=0",        "Ventilazione Iva =0.00"};
    for (int k = 1; k <= (vat ? 12 : 50); ++k) {
        const QString id = QStringLiteral("%1").arg(k, 2, 10, QLatin1Char('0'));
        const QString rate = rates.value(k - 1);
        out << (vat ? QStringList{"Id=" + id, "Descrizione=" + rate.section('=', 0, 0),
                                  "Percentuale=" + rate.section('=', 1), "Tipo=1"}
                    : QStringList{"Id=" + id, "Descrizione=Reparto n. " + id, "FlagOmaggio=False",
                                  "FlagBuono=False", "IdIva=0", "Scelto=False"});
    }
    return out;
}

// Tb-Reparti.xml with `count` default departments, changed by the overrides
// "position=IdIva[,FlagOmaggio[,FlagBuono]]".
QByteArray departmentXml(int count, const QStringList& overrides = {}, const QString& sep = "\n ") {
    QList<QStringList> rows = defaultEntries(false).mid(0, count);
    for (const QString& o : overrides) {
        const QStringList f = o.section('=', 1).split(',');
        QStringList& row = rows[o.section('=', 0, 0).toInt() - 1];
        row[2] = "FlagOmaggio=" + f.value(1, "False");
        row[3] = "FlagBuono=" + f.value(2, "False");
        row[4] = "IdIva=" + f.value(0);
    }
    return xml("TabReparti", "Reparto", rows, sep);
}

// Tb-Iva.xml whose entry k has the k-th code of `ids`.
QByteArray vatXml(const QStringList& ids, const QString& sep = "\n ") {
    QList<QStringList> rows;
    for (const QString& id : ids) {
        rows << QStringList{"Id=" + id, "Descrizione=Aliquota ", "Percentuale=0.00", "Tipo=1"};
    }
    return xml("TbIva", "Aliquota", rows, sep);
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The entries of a table file as "name=text" of their children, read without the code
// under test.
QList<QStringList> entriesOf(const QString& path) {
    QList<QStringList> out;
    QDomDocument doc;
    doc.setContent(fileBytes(path));
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        out << QStringList();
        for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
            out.last() << c.tagName() + "=" + c.text();
        }
    }
    return out;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), qPrintable(path));
}

// A table object on its own data directory; `vat` picks the table of each call.
struct Tables {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables{ui};
    Tables() { tables.setDataDirectory(dir.path()); }

    QString path(bool vat) const { return dir.filePath(vat ? "Tb-Iva.xml" : "Tb-Reparti.xml"); }
    void write(bool vat, const QByteArray& bytes) { writeBytes(path(vat), bytes); }
    QByteArray good(bool vat) { return vat ? vatXml(kVatIds.mid(0, 3)) : departmentXml(3); }
    int load(bool vat) { return vat ? tables.LoadIva() : tables.LoadReparti(); }
    void store(bool vat) { vat ? tables.StoreDataIva() : tables.StoreDataReparti(); }
    void create(bool vat) { vat ? tables.CreateDefaultIva() : tables.CreateDefaultReparti(); }
    QDomDocument& doc(bool vat) { return vat ? tables.vatDocument() : tables.departmentDocument(); }
    QString lookup(int d, int kind) {
        try {
            const auto r = tables.SearchDepartmentOmaggioBuono(std::int16_t(d), std::int16_t(kind));
            return r ? QString::number(*r) : QStringLiteral("none");
        } catch (const Fault& f) {
            return QStringLiteral("Fault %1: %2")
                .arg(f.number())
                .arg(QString::fromStdString(f.description()));
        }
    }
};

QString textAt(QDomDocument& doc, const char* name, int index) {
    return doc.elementsByTagName(name).item(index).toElement().text();
}

} // namespace

class TestDepartmentTables : public QObject {
    Q_OBJECT

private slots:
    void defaults_data();
    void defaults();
    void saveRoundTrip_data() { defaults_data(); }
    void saveRoundTrip();
    void load_data();
    void load();
    void storeFailures_data();
    void storeFailures();
    void lookup_data();
    void lookup();
    void lookupFileShapes_data();
    void lookupFileShapes();
    void lookupSetsCurrentState();
    void lookupReusesDocumentsUntilChanged();
};

void TestDepartmentTables::defaults_data() {
    QTest::addColumn<bool>("vat");
    QTest::newRow("departments") << false;
    QTest::newRow("vat") << true;
}

void TestDepartmentTables::defaults() {
    QFETCH(bool, vat);
    Tables t;
    QSignalSpy listed(&t.tables, &DepartmentTables::departmentListed);
    QSignalSpy vatListed(&t.tables, &DepartmentTables::vatListed);
    t.create(vat);
    QVERIFY(t.ui.boxes.isEmpty());
    QCOMPARE(t.tables.currentFilePath(), t.path(vat));
    const QList<QStringList> expected = defaultEntries(vat);
    QCOMPARE(entriesOf(t.path(vat)), expected);

    // UTF-8 with the declaration first, no attributes.
    const QByteArray bytes = fileBytes(t.path(vat));
    QDomDocument doc;
    QVERIFY(bytes.startsWith("<?xml ") && doc.setContent(bytes));
    const QString declaration = doc.firstChild().toProcessingInstruction().data();
    QVERIFY2(declaration.contains("1.0") && declaration.contains("UTF-8"), qPrintable(declaration));
    QCOMPARE(doc.documentElement().tagName(), vat ? "TbIva" : "TabReparti");
    QVERIFY(doc.documentElement().attributes().isEmpty() && !bytes.contains("=\"\""));

    // Each description is listed for the editor, trailing blanks and all.
    QStringList descriptions;
    for (const QStringList& e : expected) {
        descriptions << e.at(1).section('=', 1);
    }
    QStringList got;
    for (const QList<QVariant>& args : vat ? vatListed : listed) {
        got << args.at(0).toString();
    }
    QCOMPARE(got, descriptions);
    QCOMPARE((vat ? listed : vatListed).size(), 0);
    // The defaults go to the file only, and a second call replaces the file.
    QVERIFY(t.doc(vat).documentElement().isNull());
    t.create(vat);
    QCOMPARE(entriesOf(t.path(vat)), expected);
}

void TestDepartmentTables::saveRoundTrip() {
    QFETCH(bool, vat);
    Tables t;
    t.create(vat);
    QCOMPARE(t.load(vat), 0);
    // Edit entry 5 in memory, as the editor does.
    const QString accented = QStringLiteral("Caff\u00e8 & t\u00e8 <bar> ");
    t.doc(vat).elementsByTagName("Descrizione").item(4).firstChild().setNodeValue(accented);
    QList<QStringList> expected = defaultEntries(vat);
    expected[4][1] = "Descrizione=" + accented;

    t.store(vat);
    QVERIFY2(t.ui.boxes.isEmpty(), qPrintable(t.ui.texts().join('|')));
    QCOMPARE(t.tables.currentFilePath(), t.path(vat));
    const QByteArray bytes = fileBytes(t.path(vat));
    QVERIFY(bytes.startsWith("<?xml "));
    QVERIFY2(bytes.contains("Caff\xc3\xa8"), bytes.constData()); // UTF-8, not Latin-1
    QCOMPARE(entriesOf(t.path(vat)), expected);

    // Read back by the object itself after the documents were dropped.
    t.tables.discardDocuments();
    QVERIFY(t.doc(vat).documentElement().isNull());
    QCOMPARE(t.load(vat), 0);
    QCOMPARE(textAt(t.doc(vat), "Descrizione", 4), accented);
}

void TestDepartmentTables::load_data() {
    QTest::addColumn<bool>("vat");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("entries");

    const QByteArray depts = departmentXml(3);
    QTest::newRow("departments") << false << depts << 0 << 3;
    QTest::newRow("vat") << true << vatXml(kVatIds.mid(0, 4)) << 0 << 4;
    QTest::newRow("departments missing") << false << QByteArray() << -1 << 0;
    QTest::newRow("vat missing") << true << QByteArray() << -1 << 0;
    QTest::newRow("truncated") << false << depts.left(depts.size() - 20) << -1 << 0;
    QTest::newRow("not xml") << true << QByteArray("01;Aliquota 4%;4.00") << -1 << 0;
    QTest::newRow("empty file") << false << QByteArray("") << -1 << 0;
    QTest::newRow("mismatched tags")
        << false << QByteArray("<TabReparti><Reparto></TabReparti>") << -1 << 0;
    QTest::newRow("no declaration")
        << false << QByteArray("<TabReparti><Reparto><Id>01</Id></Reparto></TabReparti>") << 0 << 1;
    QTest::newRow("empty table") << true << QByteArray("<TbIva/>") << 0 << 0;
}

void TestDepartmentTables::load() {
    QFETCH(bool, vat);
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(int, entries);

    // A good document loaded before is replaced, also by a failed load.
    Tables t;
    t.write(vat, vat ? vatXml(kVatIds.mid(0, 9)) : departmentXml(9));
    QCOMPARE(t.load(vat), 0);
    if (content.isNull()) {
        QVERIFY(QFile::remove(t.path(vat)));
    } else {
        t.write(vat, content);
    }

    QCOMPARE(t.load(vat), status);
    QCOMPARE(t.tables.currentFilePath(), t.path(vat));
    QCOMPARE(t.doc(vat).elementsByTagName(vat ? "Aliquota" : "Reparto").size(), entries);
    QVERIFY(t.ui.boxes.isEmpty());
}

void TestDepartmentTables::storeFailures_data() {
    QTest::addColumn<bool>("vat");
    QTest::addColumn<QString>("file"); // before the load: "good", "broken" or "missing"
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("text");

    // A document whose load failed is written, then the critical box says so.
    QTest::newRow("departments broken") << false << "broken"
                                        << ""
                                        << "Impossibile salvare la tabella dei reparti";
    QTest::newRow("vat missing") << true << "missing"
                                 << ""
                                 << "Impossibile salvare la tabella IVA";
    // A refused write shows the fault, and only that.
    const QString refused("Error 75 (Errore di accesso al percorso/file) in procedure %1 of "
                          "Form FrmConfigurazioneReparti");
    const QString reparti = refused.arg("StoreDataReparti");
    const QString iva = refused.arg("StoreDataIva");
    QTest::newRow("data directory is a file") << false << "good"
                                              << "file-as-dir" << reparti;
    QTest::newRow("directory in place of the file") << true << "good"
                                                    << "dir-as-file" << iva;
    QTest::newRow("data directory missing") << false << "good"
                                            << "missing-dir" << reparti;
    QTest::newRow("refused after failed load") << true << "missing"
                                               << "file-as-dir" << iva;
    QTest::newRow("refused after broken load") << false << "broken"
                                               << "dir-as-file" << reparti;
}

void TestDepartmentTables::storeFailures() {
    QFETCH(bool, vat);
    QFETCH(QString, file);
    QFETCH(QString, obstacle);
    QFETCH(QString, text);

    Tables t;
    if (file != "missing") {
        t.write(vat, file == "good" ? t.good(vat) : kBroken);
    }
    QCOMPARE(t.load(vat), file == "good" ? 0 : -1);
    QVERIFY(t.ui.boxes.isEmpty());
    if (obstacle == "file-as-dir") {
        writeBytes(t.dir.filePath("plain-file"), "x");
        t.tables.setDataDirectory(t.dir.filePath("plain-file"));
    } else if (obstacle == "dir-as-file") {
        QFile::remove(t.path(vat));
        QVERIFY(QDir(t.dir.path()).mkdir(QFileInfo(t.path(vat)).fileName()));
    } else if (obstacle == "missing-dir") {
        t.tables.setDataDirectory(t.dir.filePath("no/such/folder"));
    }

    t.store(vat);
    QCOMPARE(t.ui.texts(), QStringList{text});
    if (!obstacle.isEmpty()) {
        return;
    }
    QCOMPARE(t.ui.boxes.at(0).title, vat ? "Tabella IVA" : "Tabella Reparti");
    QCOMPARE(t.ui.boxes.at(0).icon, MsgIcon::Critical);
    QVERIFY(QFile::exists(t.path(vat)) && fileBytes(t.path(vat)) != kBroken);
    // The other table is not affected; a successful load clears the failure.
    t.store(!vat);
    t.write(vat, t.good(vat));
    QCOMPARE(t.load(vat), 0);
    t.store(vat);
    QCOMPARE(t.ui.boxes.size(), 1);
}

void TestDepartmentTables::lookup_data() {
    QTest::addColumn<int>("depts"); // 0: no Tb-Reparti.xml
    QTest::addColumn<QStringList>("overrides");
    QTest::addColumn<QStringList>("vatIds"); // empty: no Tb-Iva.xml
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected"); // the position, "none" or the fault

    const QStringList vat = kVatIds;
    const QStringList gift7{"3=3", "7=3,True"};
    const QStringList voucher9{"3=3", "7=3,True", "9=3,False,True"};
    const QString overflow = QStringLiteral("Fault 6: Overflow");

    QTest::newRow("gift found") << 50 << gift7 << vat << 3 << 0 << "7";
    QTest::newRow("voucher: gift flag ignored") << 50 << gift7 << vat << 3 << 1 << "none";
    QTest::newRow("voucher found") << 50 << voucher9 << vat << 3 << 1 << "9";
    QTest::newRow("any other kind means voucher") << 50 << voucher9 << vat << 3 << 2 << "9";
    QTest::newRow("gift on another VAT rate")
        << 50 << QStringList{"3=3", "7=2,True"} << vat << 3 << 0 << "none";
    QTest::newRow("department itself never returned")
        << 50 << QStringList{"3=3,True,True"} << vat << 3 << 0 << "none";
    QTest::newRow("department itself skipped, later one found")
        << 50 << QStringList{"3=3,True", "8=3,True"} << vat << 3 << 0 << "8";
    QTest::newRow("flag lower case")
        << 50 << QStringList{"3=3", "7=3,true"} << vat << 3 << 0 << "none";
    QTest::newRow("flag with a blank")
        << 50 << QStringList{"3=3", "7=3,True "} << vat << 3 << 0 << "none";
    QTest::newRow("lowest position wins")
        << 50 << QStringList{"3=3", "12=3,True", "20=3,True"} << vat << 3 << 0 << "12";
    QTest::newRow("candidate before the department")
        << 50 << QStringList{"2=3,True", "12=3"} << vat << 12 << 0 << "2";
    QTest::newRow("IdIva 0") << 50 << QStringList{"3=0", "7=0,True"} << vat << 3 << 0 << "none";
    QTest::newRow("IdIva negative")
        << 50 << QStringList{"3=-3", "7=3,True"} << vat << 3 << 0 << "none";
    QTest::newRow("IdIva empty") << 50 << QStringList{"3=", "7=3,True"} << vat << 3 << 0 << "-1";
    QTest::newRow("IdIva leading number")
        << 50 << QStringList{"3= 3 (22%)", "7=3,True"} << vat << 3 << 0 << "7";
    QTest::newRow("IdIva half to even, down")
        << 50 << QStringList{"3=2.5", "6=3,True", "7=2,True"} << vat << 3 << 0 << "7";
    QTest::newRow("IdIva half to even, up")
        << 50 << QStringList{"3=3.5", "6=3,True", "7=4,True"} << vat << 3 << 0 << "7";
    QTest::newRow("other IdIva as read: 03.0 matches")
        << 50 << QStringList{"3=3", "7=03.0,True"} << vat << 3 << 0 << "7";
    QTest::newRow("other IdIva as read: 3.4 does not")
        << 50 << QStringList{"3=3", "7=3.4,True"} << vat << 3 << 0 << "none";
    QTest::newRow("VAT code, not position, is compared")
        << 50 << QStringList{"3=3", "7=3,True", "8=5,True"} << QStringList{"01", "02", "05"} << 3
        << 0 << "8";
    QTest::newRow("VAT code empty") << 50 << gift7 << QStringList{"01", "02", ""} << 3 << 0 << "-1";
    QTest::newRow("d is 0") << 50 << gift7 << vat << 0 << 0 << "none";
    QTest::newRow("last department")
        << 50 << QStringList{"50=3", "7=3,True"} << vat << 50 << 0 << "7";
    QTest::newRow("Tb-Iva.xml missing") << 50 << gift7 << QStringList() << 3 << 0 << "-1";
    QTest::newRow("Tb-Reparti.xml missing") << 0 << QStringList() << vat << 3 << 0 << "-1";
    QTest::newRow("tables missing before d is checked")
        << 0 << QStringList() << QStringList() << 0 << 0 << "-1";
    QTest::newRow("department beyond the table")
        << 50 << gift7 << vat << 51 << 0 << "Fault 91: Reparto 51 non presente in Tb-Reparti.xml";
    QTest::newRow("VAT position beyond the table")
        << 50 << QStringList{"3=13", "7=13,True"} << vat << 3 << 0
        << "Fault 91: Aliquota 13 non presente in Tb-Iva.xml";
    QTest::newRow("IdIva beyond 16 bits")
        << 50 << QStringList{"3=40000", "7=3,True"} << vat << 3 << 0 << overflow;
}

void TestDepartmentTables::lookup() {
    QFETCH(int, depts);
    QFETCH(QStringList, overrides);
    QFETCH(QStringList, vatIds);
    QFETCH(int, d);
    QFETCH(int, kind);
    QFETCH(QString, expected);

    Tables t;
    if (depts > 0) {
        t.write(false, departmentXml(depts, overrides));
    }
    if (!vatIds.isEmpty()) {
        t.write(true, vatXml(vatIds));
    }
    QCOMPARE(t.lookup(d, kind), expected);
    QVERIFY(t.ui.boxes.isEmpty());
    // The lookup never writes the tables.
    QCOMPARE(QFile::exists(t.path(false)), depts > 0);
    QCOMPARE(QFile::exists(t.path(true)), !vatIds.isEmpty());
}

void TestDepartmentTables::lookupFileShapes_data() {
    QTest::addColumn<QByteArray>("departments");
    QTest::addColumn<QByteArray>("vat");

    const QStringList overrides{"3=3", "7=3,True", "9=3,False,True"};
    QTest::newRow("indented") << departmentXml(20, overrides) << vatXml(kVatIds);
    QTest::newRow("no whitespace") << departmentXml(20, overrides, "") << vatXml(kVatIds, "");
    QTest::newRow("tabs and CR LF")
        << departmentXml(20, overrides, "\r\n\t \t") << vatXml(kVatIds, "\r\n\t \t");
    // Elements of the same names outside a "Reparto" / "Aliquota" do not shift the count.
    QTest::newRow("same names outside the entries")
        << departmentXml(20, overrides)
               .replace("<TabReparti>", "<TabReparti><Info><IdIva>3</IdIva><FlagOmaggio>True"
                                        "</FlagOmaggio><FlagBuono>True</FlagBuono></Info>")
        << vatXml(kVatIds).replace("<TbIva>", "<TbIva><Versione><Id>09</Id></Versione>");
}

void TestDepartmentTables::lookupFileShapes() {
    QFETCH(QByteArray, departments);
    QFETCH(QByteArray, vat);
    Tables t;
    t.write(false, departments);
    t.write(true, vat);
    QCOMPARE(t.lookup(3, 0), "7");
    QCOMPARE(t.lookup(3, 1), "9");
    QCOMPARE(t.tables.currentVatCode(), std::int16_t(3));
    QCOMPARE(t.doc(false).elementsByTagName("Reparto").size(), 20);
    QCOMPARE(textAt(t.doc(true), "Descrizione", 0), "Aliquota ");
}

void TestDepartmentTables::lookupSetsCurrentState() {
    Tables t;
    t.write(false, departmentXml(10, {"4=2", "6=7,True", "8=0"}));
    t.write(true, vatXml({"01", "07", "03"}));
    // Department 4 points at VAT entry 2, whose code is 7.
    QCOMPARE(t.lookup(4, 0), "6");
    QCOMPARE(t.tables.currentDepartment(), std::int16_t(4));
    QCOMPARE(t.tables.currentVatCode(), std::int16_t(7));
    QCOMPARE(t.tables.currentFilePath(), t.path(true));
    // A department without VAT rate moves the department, not the VAT code.
    QCOMPARE(t.lookup(8, 0), "none");
    QCOMPARE(t.tables.currentDepartment(), std::int16_t(8));
    QCOMPARE(t.tables.currentVatCode(), std::int16_t(7));
}

void TestDepartmentTables::lookupReusesDocumentsUntilChanged() {
    Tables t;
    t.write(false, departmentXml(50, {"3=3", "7=3,True"}));
    t.write(true, vatXml(kVatIds));
    QCOMPARE(t.lookup(3, 0), "7");

    // The files change on disk: the loaded documents are still used.
    t.write(false, departmentXml(50, {"3=3", "5=3,True"}));
    QVERIFY(QFile::remove(t.path(true)));
    QCOMPARE(t.lookup(3, 0), "7");

    // An edit in memory (the open editor) is seen at once.
    t.doc(false).elementsByTagName("FlagOmaggio").item(1).firstChild().setNodeValue("True");
    t.doc(false).elementsByTagName("IdIva").item(1).firstChild().setNodeValue("3");
    QCOMPARE(t.lookup(3, 0), "2");
    t.doc(true).elementsByTagName("Id").item(2).firstChild().setNodeValue("5");
    QCOMPARE(t.lookup(3, 0), "none");

    // Closing the editor drops the documents: both files are read again.
    t.tables.discardDocuments();
    QCOMPARE(t.lookup(3, 0), "-1"); // Tb-Iva.xml is gone now
    // A lookup that could not load both tables leaves neither loaded: the next
    // one reads both files again and finds the VAT table back in place.
    QVERIFY(t.doc(false).documentElement().isNull());
    t.write(true, vatXml(kVatIds));
    QCOMPARE(t.lookup(3, 0), "5");
}

QTEST_GUILESS_MAIN(TestDepartmentTables)
#include "tst_departmenttables.moc"
