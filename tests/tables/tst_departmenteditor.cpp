// The department table editor's model, without widgets: opening, the two lists,
// "Salva Reparto" with its messages and question, "Ripristina reparto",
// "Salvataggio Tabelle", closing without saving, and what the converter's
// lookup sees meanwhile.

#include "support/TestSupport.h"
#include "tables/DepartmentEditor.h"
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

const char* const kDeptFile = "Tb-Reparti.xml";
const char* const kVatFile = "Tb-Iva.xml";

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

// The 50 default departments, changed by overrides "5.IdIva=03".
QByteArray departmentXml(const QStringList& overrides) {
    const QStringList names{"Id", "Descrizione", "FlagOmaggio", "FlagBuono", "IdIva", "Scelto"};
    QList<QStringList> rows;
    for (int k = 1; k <= 50; ++k) {
        rows << QStringList{twoDigits(k), "Reparto n. " + twoDigits(k), "False", "False", "0", "False"};
    }
    for (const QString& o : overrides) {
        const int n = o.section('.', 0, 0).toInt();
        const QString name = o.section('.', 1).section('=', 0, 0);
        rows[n - 1][names.indexOf(name)] = o.section('=', 1);
    }
    QString out = "<?xml version='1.0' encoding='UTF-8'?>\n<TabReparti>";
    for (const QStringList& row : rows) {
        out += "\n <Reparto>";
        for (int i = 0; i < names.size(); ++i) {
            out += QStringLiteral("<%1>%2</%1>").arg(names[i], row[i].toHtmlEscaped());
        }
        out += "</Reparto>";
    }
    return (out + "\n</TabReparti>\n").toUtf8();
}

// The default VAT table, as the system writes it when the file is missing.
QByteArray vatXml() {
    const QStringList rates{"Aliquota 4% =4.00",   "Aliquota 10% =10.00", "Aliquota 22% =22.00",
                            "Aliquota 36% =36.00", "Aliquota 5% =5.00",   "Natura N 1=0",
                            "Natura N 2=0",        "Natura N 3=0",        "Natura N 4=0",
                            "Natura N 5=0",        "Natura N 6=0",        "Ventilazione Iva =0.00"};
    QString out = "<?xml version='1.0' encoding='UTF-8'?>\n<TbIva>";
    for (int k = 1; k <= rates.size(); ++k) {
        out += QStringLiteral("\n <Aliquota><Id>%1</Id><Descrizione>%2</Descrizione>"
                              "<Percentuale>%3</Percentuale><Tipo>1</Tipo></Aliquota>")
                   .arg(twoDigits(k), rates[k - 1].section('=', 0, 0), rates[k - 1].section('=', 1));
    }
    return (out + "\n</TbIva>\n").toUtf8();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The text of the n-th element `name` of a document ("<missing>" when there is none).
QString nthText(const QDomDocument& doc, const QString& name, int n) {
    const QDomNodeList nodes = doc.elementsByTagName(name);
    return n >= 1 && n <= nodes.size() ? nodes.item(n - 1).toElement().text()
                                       : QStringLiteral("<missing>");
}

QDomDocument parsedFile(const QString& path) {
    QDomDocument doc;
    doc.setContent(fileBytes(path));
    return doc;
}

// One box as "icon buttons [default] title [modal]|text", for comparing.
QString describe(const MessageBox& b) {
    static const char* const icons[] = {"None", "Information", "Exclamation", "Critical",
                                        "Question"};
    QStringList parts{QString::fromLatin1(icons[static_cast<int>(b.icon)])};
    parts << (b.buttons == MsgButtons::YesNo ? "YesNo" : b.buttons == MsgButtons::Ok ? "Ok" : "other");
    if (b.buttons == MsgButtons::YesNo) {
        parts << (b.defaultAnswer == MsgAnswer::No ? "default=No" : "default=Yes");
    }
    parts << (b.untitled ? "untitled" : b.title.isEmpty() ? "apptitle" : "title=" + b.title);
    if (b.systemModal) {
        parts << "modal";
    }
    return parts.join(' ') + '|' + b.text;
}

// The editor on a table object over a temporary data directory.
struct Fixture {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables{ui};
    DepartmentEditor editor{tables, ui};

    Fixture() { tables.setDataDirectory(dir.path()); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    TextControl* text(const QString& name) {
        for (TextControl* t : {&editor.CodiceReparto, &editor.DescrizioneReparto, &editor.CodiceIva,
                               &editor.DescrizioneIva, &editor.Aliquota}) {
            if (t->name() == name) {
                return t;
            }
        }
        return nullptr;
    }

    // Steps: "dept N" / "vat N" (the operator clicks item N of List1 / List2),
    // "salva", "ripristina", "answer Yes|No", "Control=value" (types a text or
    // sets a tick box).
    void run(const QString& step) {
        const QString arg = step.section(' ', 1);
        if (step.startsWith("dept ")) {
            editor.List1.setListIndex(arg.toInt() - 1);
            editor.List1_Click();
        } else if (step.startsWith("vat ")) {
            editor.List2.setListIndex(arg.toInt() - 1);
            editor.List2_Click();
        } else if (step == "salva") {
            editor.StoreDataReparto.click();
        } else if (step == "ripristina") {
            editor.ClearDataReparto.click();
        } else if (step.startsWith("answer ")) {
            ui.answers << (arg == "Yes" ? MsgAnswer::Yes : MsgAnswer::No);
        } else {
            const QString name = step.section('=', 0, 0);
            const QString value = step.section('=', 1);
            if (name == "FlagOmaggio" || name == "FlagBuono") {
                (name == "FlagOmaggio" ? editor.FlagOmaggio : editor.FlagBuono).setValue(value.toInt());
            } else {
                TextControl* t = text(name);
                QVERIFY2(t, qPrintable("unknown step " + step));
                t->setText(value);
            }
        }
    }

    // Expectations: "d5.IdIva=03" (department 5 in memory), "List1=0" (index),
    // "List1#=50" (items), "current=dept,vat,gift,voucher", "files=50,12"
    // (entries in the files on disk), "Control=value".
    QString actual(const QString& key) {
        if (key.startsWith('d') && key.contains('.')) {
            return nthText(tables.departmentDocument(), key.section('.', 1), key.mid(1).section('.', 0, 0).toInt());
        }
        if (key == "List1" || key == "List2") {
            return QString::number((key == "List1" ? editor.List1 : editor.List2).listIndex());
        }
        if (key == "List1#" || key == "List2#") {
            return QString::number((key == "List1#" ? editor.List1 : editor.List2).items().size());
        }
        if (key == "current") {
            return QStringLiteral("%1,%2,%3,%4")
                .arg(tables.currentDepartment())
                .arg(tables.currentVatCode())
                .arg(int(tables.currentGiftFlag))
                .arg(int(tables.currentVoucherFlag));
        }
        if (key == "files") {
            return QStringLiteral("%1,%2")
                .arg(parsedFile(path(kDeptFile)).elementsByTagName("Reparto").size())
                .arg(parsedFile(path(kVatFile)).elementsByTagName("Aliquota").size());
        }
        if (key == "FlagOmaggio" || key == "FlagBuono") {
            return QString::number((key == "FlagOmaggio" ? editor.FlagOmaggio : editor.FlagBuono).value());
        }
        TextControl* t = text(key);
        return t ? t->text() : "<unknown " + key + ">";
    }
};

} // namespace

class TestDepartmentEditor : public QObject {
    Q_OBJECT
private slots:
    void flows_data();
    void flows();
    void closing_data();
    void closing();
};

void TestDepartmentEditor::flows_data() {
    // Department file overrides; no overrides and no raw file: no files at all.
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QByteArray>("rawDepartments"); // replaces the department file when set
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expect");
    QTest::addColumn<QStringList>("boxes"); // "~text": the text contains it

    const QString noVat = "Exclamation Ok untitled modal|Manca La tabella IVA associata al reparto selezionato";
    const QString both = "Exclamation Ok untitled|Il Reparto non può essere settato per Buoni e per Omaggi";
    const QString ask = "Information YesNo default=No apptitle modal|Reparto già selezionato Vuoi aggiornare";

    QTest::newRow("no files: defaults written, department 1 without VAT")
        << QStringList{} << QByteArray() << QStringList{}
        << QStringList{"files=50,12", "List1#=50", "List2#=12", "List1=0", "CodiceReparto=01",
                       "DescrizioneReparto=Reparto n. 01", "CodiceIva=", "DescrizioneIva=", "Aliquota=",
                       "FlagOmaggio=0", "FlagBuono=0"}
        << QStringList{};
    QTest::newRow("IdIva 3 selects the third VAT entry")
        << QStringList{"4.IdIva=3"} << QByteArray() << QStringList{"dept 4"}
        << QStringList{"List1=3", "List2=2", "CodiceReparto=04", "CodiceIva=03",
                       "DescrizioneIva=Aliquota 22% ", "Aliquota=22.00"}
        << QStringList{};
    QTest::newRow("flags shown only for the exact text True")
        << QStringList{"6.FlagOmaggio=True", "6.FlagBuono=true"} << QByteArray()
        << QStringList{"dept 6"} << QStringList{"FlagOmaggio=1", "FlagBuono=0"} << QStringList{};
    QTest::newRow("a department without VAT empties the VAT fields")
        << QStringList{"4.IdIva=3"} << QByteArray() << QStringList{"dept 4", "dept 5"}
        << QStringList{"CodiceReparto=05", "CodiceIva=", "DescrizioneIva=", "Aliquota="}
        << QStringList{};
    QTest::newRow("a VAT click is only a candidate")
        << QStringList{} << QByteArray() << QStringList{"dept 5", "vat 2"}
        << QStringList{"CodiceIva=02", "DescrizioneIva=Aliquota 10% ", "Aliquota=10.00", "d5.IdIva=0"}
        << QStringList{};
    QTest::newRow("Salva Reparto: first configuration")
        << QStringList{} << QByteArray() << QStringList{"dept 5", "vat 3", "FlagOmaggio=1", "salva"}
        << QStringList{"d5.FlagOmaggio=True", "d5.FlagBuono=False", "d5.IdIva=03", "d5.Scelto=True",
                       "d4.Scelto=False", "current=5,3,1,0"}
        << QStringList{};
    QTest::newRow("second Salva Reparto, No: unchanged")
        << QStringList{} << QByteArray()
        << QStringList{"dept 5", "vat 3", "FlagOmaggio=1", "salva", "FlagOmaggio=0", "FlagBuono=1",
                       "vat 2", "answer No", "salva"}
        << QStringList{"d5.FlagOmaggio=True", "d5.FlagBuono=False", "d5.IdIva=03", "d5.Scelto=True",
                       "current=5,3,1,0"}
        << QStringList{ask};
    QTest::newRow("second Salva Reparto, Yes: both flags follow the boxes")
        << QStringList{} << QByteArray()
        << QStringList{"dept 5", "vat 3", "FlagOmaggio=1", "salva", "FlagOmaggio=0", "FlagBuono=1",
                       "vat 2", "answer Yes", "salva"}
        << QStringList{"d5.FlagOmaggio=False", "d5.FlagBuono=True", "d5.IdIva=02", "d5.Scelto=True",
                       "current=5,2,0,1"}
        << QStringList{ask};
    QTest::newRow("configured in the file: the question comes at once")
        << QStringList{"5.IdIva=1", "5.Scelto=True", "5.FlagBuono=True"} << QByteArray()
        << QStringList{"dept 5", "vat 3", "answer Yes", "salva"}
        << QStringList{"d5.IdIva=03", "d5.FlagBuono=True"} << QStringList{ask};
    QTest::newRow("no VAT code: message, nothing changes")
        << QStringList{} << QByteArray() << QStringList{"dept 1", "FlagOmaggio=1", "salva"}
        << QStringList{"d1.FlagOmaggio=False", "d1.Scelto=False", "d1.IdIva=0"} << QStringList{noVat};
    QTest::newRow("gift and voucher together: message, nothing changes")
        << QStringList{} << QByteArray()
        << QStringList{"dept 5", "vat 3", "FlagOmaggio=1", "FlagBuono=1", "salva"}
        << QStringList{"d5.FlagOmaggio=False", "d5.FlagBuono=False", "d5.IdIva=0", "d5.Scelto=False"}
        << QStringList{both};
    QTest::newRow("Ripristina reparto resets the department")
        << QStringList{"5.IdIva=3", "5.Scelto=True", "5.FlagOmaggio=True"} << QByteArray()
        << QStringList{"dept 6", "vat 2", "FlagOmaggio=1", "salva", "dept 5", "ripristina"}
        << QStringList{"CodiceIva=0", "DescrizioneIva=", "Aliquota=", "FlagOmaggio=0",
                       "d5.FlagOmaggio=False", "d5.IdIva=0", "d5.Scelto=False",
                       "d5.Descrizione=Reparto n. 05", "d6.IdIva=02", "current=6,0,0,0"}
        << QStringList{};
    QTest::newRow("after Ripristina both flags can be stored")
        << QStringList{"5.IdIva=3", "5.Scelto=True"} << QByteArray()
        << QStringList{"dept 5", "ripristina", "FlagOmaggio=1", "FlagBuono=1", "salva"}
        << QStringList{"d5.FlagOmaggio=True", "d5.FlagBuono=True", "d5.IdIva=0", "d5.Scelto=True"}
        << QStringList{};
    QTest::newRow("a changed description is not saved")
        << QStringList{} << QByteArray()
        << QStringList{"dept 5", "DescrizioneReparto=Bevande", "vat 3", "salva"}
        << QStringList{"d5.Descrizione=Reparto n. 05", "d5.Scelto=True"} << QStringList{};
    QTest::newRow("first configuration: an unticked box leaves the stored flag")
        << QStringList{"5.FlagOmaggio=True"} << QByteArray()
        << QStringList{"dept 5", "FlagOmaggio=0", "vat 3", "salva"}
        << QStringList{"d5.FlagOmaggio=True", "d5.IdIva=03", "current=5,3,0,0"} << QStringList{};
    // Department 5 shows code 07, and department 7's Id names department 9.
    QTest::newRow("writes go to the department the Id names")
        << QStringList{"5.Id=07", "7.Id=09"} << QByteArray() << QStringList{"dept 5", "vat 3", "salva"}
        << QStringList{"CodiceReparto=07", "d9.IdIva=03", "d9.Scelto=True", "d7.IdIva=0",
                       "d7.Scelto=False", "d5.IdIva=0", "current=9,3,0,0"}
        << QStringList{};
    QTest::newRow("code 0: Salva Reparto stops silently")
        << QStringList{} << QByteArray() << QStringList{"dept 5", "vat 3", "CodiceReparto=0", "salva"}
        << QStringList{"d5.Scelto=False", "current=0,0,0,0"} << QStringList{};
    // Cases the rules leave open: a message, no crash, nothing changed.
    QTest::newRow("IdIva beyond the VAT table")
        << QStringList{"5.IdIva=15"} << QByteArray() << QStringList{"dept 5"}
        << QStringList{"CodiceReparto=05", "CodiceIva=", "DescrizioneIva=", "Aliquota="}
        << QStringList{"Exclamation Ok apptitle|~15"};
    QTest::newRow("empty department table")
        << QStringList{} << QByteArray("<?xml version='1.0' encoding='UTF-8'?><TabReparti/>")
        << QStringList{"vat 3", "salva", "ripristina"}
        << QStringList{"List1#=0", "List2#=12", "CodiceReparto=", "List1=-1"}
        << QStringList{"Exclamation Ok apptitle|~Tb-Reparti.xml"};
    QTest::newRow("unparsable department table")
        << QStringList{} << QByteArray("<TabReparti><Reparto><Id>01</Id>")
        << QStringList{"vat 3", "CodiceReparto=1", "salva"} << QStringList{"List1#=0", "List2#=12"}
        << QStringList{"Exclamation Ok apptitle|~Tb-Reparti.xml", "Exclamation Ok apptitle|~Tb-Reparti.xml"};
    QTest::newRow("code beyond the table")
        << QStringList{} << QByteArray()
        << QStringList{"dept 5", "vat 3", "CodiceReparto=60", "salva", "ripristina"}
        << QStringList{"d5.Scelto=False", "d5.IdIva=0", "current=0,0,0,0"}
        << QStringList{"Exclamation Ok apptitle|~60", "Exclamation Ok apptitle|~60"};
    QTest::newRow("Id naming a department beyond the table")
        << QStringList{"5.Id=70"} << QByteArray() << QStringList{"dept 5", "vat 3", "salva"}
        << QStringList{"d5.IdIva=0", "d5.Scelto=False"} << QStringList{"Exclamation Ok apptitle|~70"};
}

void TestDepartmentEditor::flows() {
    QFETCH(QStringList, setup);
    QFETCH(QByteArray, rawDepartments);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expect);
    QFETCH(QStringList, boxes);

    Fixture f;
    if (!setup.isEmpty() || !rawDepartments.isEmpty()) {
        writeFile(f.path(kDeptFile), rawDepartments.isEmpty() ? departmentXml(setup) : rawDepartments);
        writeFile(f.path(kVatFile), vatXml());
    }
    f.editor.load();
    for (const QString& step : steps) {
        f.run(step);
    }
    for (const QString& e : expect) {
        const QString key = e.section('=', 0, 0);
        QCOMPARE(key + '=' + f.actual(key), e);
    }
    QCOMPARE(f.ui.boxes.size(), boxes.size());
    for (int i = 0; i < boxes.size(); ++i) {
        const QString got = describe(f.ui.boxes[i]);
        const QString want = boxes[i];
        if (want.section('|', 1).startsWith('~')) {
            QCOMPARE(got.section('|', 0, 0), want.section('|', 0, 0));
            QVERIFY2(got.section('|', 1).contains(want.section('|', 1).mid(1)), qPrintable(got));
        } else {
            QCOMPARE(got, want);
        }
    }
}

void TestDepartmentEditor::closing_data() {
    QTest::addColumn<bool>("save"); // "Salvataggio Tabelle", or closed any other way
    QTest::newRow("closed without saving") << false;
    QTest::newRow("Salvataggio Tabelle") << true;
}

// Department 3 takes VAT 3 and department 7 takes VAT 3 for gifts: the
// converter's lookup sees that while the editor is open, saved or not; once
// the editor is closed it sees the files.
void TestDepartmentEditor::closing() {
    QFETCH(bool, save);
    Fixture f;
    f.editor.load();
    const QByteArray departmentsBefore = fileBytes(f.path(kDeptFile));
    const QByteArray vatBefore = fileBytes(f.path(kVatFile));
    QVERIFY(!departmentsBefore.isEmpty() && !vatBefore.isEmpty());

    for (const char* step : {"dept 3", "vat 3", "salva", "dept 7", "vat 3", "FlagOmaggio=1", "salva"}) {
        f.run(step);
    }
    QCOMPARE(f.tables.SearchDepartmentOmaggioBuono(3, 0), std::optional<std::int16_t>(7));
    QCOMPARE(fileBytes(f.path(kDeptFile)), departmentsBefore);

    QSignalSpy closeRequested(&f.editor, &DepartmentEditor::closeRequested);
    if (save) {
        // The VAT table is written again too: a file gone meanwhile comes back.
        QVERIFY(QFile::remove(f.path(kVatFile)));
        f.editor.Command1.click();
        QCOMPARE(closeRequested.size(), 1);
        for (const char* field : {"CodiceReparto=", "DescrizioneReparto=", "CodiceIva=",
                                  "DescrizioneIva=", "Aliquota=", "FlagOmaggio=0", "FlagBuono=0"}) {
            const QString key = QString::fromLatin1(field).section('=', 0, 0);
            QCOMPARE(key + '=' + f.actual(key), QString::fromLatin1(field));
        }
    }
    f.editor.unload();
    QVERIFY(f.tables.departmentDocument().elementsByTagName("Reparto").isEmpty());
    QVERIFY(f.tables.vatDocument().elementsByTagName("Aliquota").isEmpty());

    const QDomDocument departments = parsedFile(f.path(kDeptFile));
    QCOMPARE(departments.elementsByTagName("Reparto").size(), 50);
    QCOMPARE(nthText(departments, "IdIva", 3), save ? QString("03") : QString("0"));
    QCOMPARE(nthText(departments, "IdIva", 7), save ? QString("03") : QString("0"));
    QCOMPARE(nthText(departments, "FlagOmaggio", 7), save ? QString("True") : QString("False"));
    QCOMPARE(nthText(departments, "Scelto", 7), save ? QString("True") : QString("False"));
    QCOMPARE(nthText(departments, "Descrizione", 7), QString("Reparto n. 07"));
    if (!save) {
        QCOMPARE(fileBytes(f.path(kDeptFile)), departmentsBefore);
        QCOMPARE(fileBytes(f.path(kVatFile)), vatBefore);
    }
    // The VAT table is never changed by the editor, only written again.
    const QDomDocument vat = parsedFile(f.path(kVatFile));
    QCOMPARE(vat.elementsByTagName("Aliquota").size(), 12);
    QCOMPARE(nthText(vat, "Descrizione", 3), QString("Aliquota 22% "));
    QCOMPARE(nthText(vat, "Percentuale", 3), QString("22.00"));

    // Closed: the lookup reads the files again.
    QCOMPARE(f.tables.SearchDepartmentOmaggioBuono(3, 0),
             save ? std::optional<std::int16_t>(7) : std::nullopt);
    QVERIFY(f.ui.boxes.isEmpty());
}

QTEST_GUILESS_MAIN(TestDepartmentEditor)
#include "tst_departmenteditor.moc"
