// The table editor window on the offscreen platform: what its widgets add to
// the editor's model (showing a department picked in the list, a tick and a
// button reaching the table, the ways the window closes).

#include "common/CaseTable.h"
#include "support/TableFiles.h"
#include "support/TestSupport.h"
#include "tables/FrmConfigurazioneReparti.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDomDocument>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

struct Window {
    QTemporaryDir dir;
    ScriptedOperatorUi ui;
    DepartmentTables tables{ui};
    int manualOpened = 0;
    FrmConfigurazioneReparti form{tables, ui, [this] { ++manualOpened; }};

    explicit Window(const QByteArray& departmentFile = {}) {
        tables.setDataDirectory(dir.path());
        if (!departmentFile.isEmpty()) {
            writeFile(path("Tb-Reparti.xml"), departmentFile);
        }
    }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    template <typename W> W* widget(const char* name) {
        W* w = form.findChild<W*>(QLatin1String(name));
        if (!w) {
            qWarning("no widget %s", name);
        }
        return w;
    }
    QString text(const char* name) { return widget<QLineEdit>(name)->text(); }
    void clickRow(const char* list, int row) {
        auto* l = widget<QListWidget>(list);
        l->scrollToItem(l->item(row));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
    }
    // A click near the left edge: on a tick box's indicator, inside a button.
    void press(const char* name) {
        auto* b = widget<QAbstractButton>(name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    }
};

} // namespace

class TestFrmConfigurazione : public QObject {
    Q_OBJECT
private slots:
    void captionAndManual() {
        Window w;
        QCOMPARE(w.form.windowTitle(), u"Configurazione Tabella Reparti Iva"_s);
        QVERIFY(w.form.isModal());
        auto* manual = w.widget<QAction>("m_Manual");
        QVERIFY(manual);
        QCOMPARE(manual->text(), u"&Manuale Velmar"_s);
        manual->trigger();
        QCOMPARE(w.manualOpened, 1);
    }
    void pickDepartment_data() {
        addCaseRows(u"tables/pickdepartment.txt"_s,
                    {"how", "row", "codice", "vatRow", "codiceIva", "omaggio", "boxes"});
    }
    void pickDepartment() {
        const auto [how, row, codice, vatRow, codiceIva, omaggio, boxes] =
            caseFields("how", "row", "codice", "vatRow", "codiceIva", "omaggio", "boxes");
        Window w(departmentXml(8, {"4.IdIva=3", "4.FlagOmaggio=True", "5.IdIva=2", "6.IdIva=40"}));
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        auto* list1 = w.widget<QListWidget>("List1");
        QCOMPARE(list1->count(), 8);
        QCOMPARE(list1->currentRow(), 0);
        QCOMPARE(w.widget<QListWidget>("List2")->count(), 12); // written at opening
        QCOMPARE(w.text("CodiceReparto"), u"01"_s);

        if (how == "keys") {
            list1->setFocus();
            for (int i = 0; i < row.toInt(); ++i) {
                QTest::keyClick(list1, Qt::Key_Down);
            }
        } else {
            w.clickRow("List1", row.toInt());
        }
        QCOMPARE(list1->currentRow(), row.toInt());
        QCOMPARE(w.text("CodiceReparto").toLatin1(), codice);
        QCOMPARE(w.text("DescrizioneReparto").toLatin1(), "Reparto n. " + codice);
        QCOMPARE(w.text("CodiceIva").toLatin1(), codiceIva);
        QCOMPARE(w.widget<QListWidget>("List2")->currentRow(), vatRow.toInt());
        QCOMPARE(w.widget<QCheckBox>("FlagOmaggio")->isChecked(), omaggio == "1");
        QCOMPARE(w.ui.boxes.size(), boxes.toInt());
    }
    void editAndClose_data() { addCaseRows(u"tables/editandclose.txt"_s, {"how", "reply", "saving"}); }
    // Department 5 takes VAT 3 for gifts through the widgets; then the window
    // closes, asking first when that would lose the change.
    void editAndClose() {
        const auto [how, reply, saving] = caseFields("how", "reply", "saving");
        const int answer = reply == "none" ? -1
                           : int(reply == "Yes" ? MsgAnswer::Yes : reply == "No" ? MsgAnswer::No : MsgAnswer::Cancel);
        const bool saved = saving == "1";
        Window w;
        w.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.form));
        const QByteArray departmentsBefore = readFile(w.path("Tb-Reparti.xml"));
        const QByteArray vatBefore = readFile(w.path("Tb-Iva.xml"));
        QVERIFY(!departmentsBefore.isEmpty() && !vatBefore.isEmpty());
        for (const char* shownOnly : {"DescrizioneReparto", "DescrizioneIva", "Aliquota"}) {
            QVERIFY2(w.widget<QLineEdit>(shownOnly)->isReadOnly(), shownOnly);
        }

        w.clickRow("List1", 4);
        w.clickRow("List2", 2);
        QCOMPARE(w.text("CodiceIva"), u"03"_s);
        w.press("FlagOmaggio");
        auto* store = w.widget<QPushButton>("StoreDataReparto");
        QCOMPARE(store->text(), u"Salva Reparto"_s);
        w.press("StoreDataReparto");
        QDomDocument& doc = w.tables.departmentDocument();
        QCOMPARE(nthText(doc, "FlagOmaggio", 5), u"True"_s);
        QCOMPARE(nthText(doc, "IdIva", 5), u"03"_s);
        QCOMPARE(nthText(doc, "Scelto", 5), u"True"_s);
        QVERIFY(w.widget<QLabel>("lblEsito")->text().startsWith(u"Reparto 05 memorizzato"_s));
        QCOMPARE(w.widget<QListWidget>("List1")->item(4)->text(), u"Reparto n. 05   [IVA 22.00%, Omaggio]"_s);

        if (answer >= 0) {
            w.ui.answers << static_cast<MsgAnswer>(answer);
        }
        if (how == "close") {
            w.form.close();
        } else if (how == "esc") {
            QTest::keyClick(&w.form, Qt::Key_Escape);
        } else {
            QCOMPARE(w.widget<QPushButton>("Command1")->text(), u"Salvataggio Tabelle"_s);
            QVERIFY(QFile::remove(w.path("Tb-Iva.xml"))); // written again: it comes back
            w.press("Command1");
        }
        QCOMPARE(w.ui.boxes.size(), answer >= 0 ? 1 : 0);
        if (answer >= 0) {
            QCOMPARE(w.ui.boxes.first().buttons, MsgButtons::YesNoCancel);
            QCOMPARE(w.ui.boxes.first().defaultAnswer, MsgAnswer::Cancel);
        }
        if (answer == int(MsgAnswer::Cancel)) {
            QVERIFY(w.form.isVisible());
            QCOMPARE(readFile(w.path("Tb-Reparti.xml")), departmentsBefore);
            return;
        }
        QVERIFY(!w.form.isVisible());
        QCOMPARE(w.form.result(), saved ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QVERIFY(w.tables.departmentDocument().elementsByTagName("Reparto").isEmpty()); // dropped

        QDomDocument onDisk;
        QVERIFY(onDisk.setContent(readFile(w.path("Tb-Reparti.xml"))));
        QCOMPARE(nthText(onDisk, "FlagOmaggio", 5), saved ? u"True"_s : u"False"_s);
        QCOMPARE(nthText(onDisk, "IdIva", 5), saved ? u"03"_s : u"0"_s);
        if (!saved) {
            QCOMPARE(readFile(w.path("Tb-Reparti.xml")), departmentsBefore);
            QCOMPARE(readFile(w.path("Tb-Iva.xml")), vatBefore);
        } else {
            QCOMPARE(w.text("CodiceReparto"), QString());
            QVERIFY(!w.widget<QCheckBox>("FlagOmaggio")->isChecked());
            QCOMPARE(readFile(w.path("Tb-Reparti.xml.bak")), departmentsBefore);
            QCOMPARE(readFile(w.path("Tb-Iva.xml")), vatBefore); // never changed by the editor
        }
    }
};

QTEST_MAIN(TestFrmConfigurazione)
#include "tst_frmconfigurazione.moc"
