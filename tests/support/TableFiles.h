#pragma once
// Department and VAT table files as the tests write and read them.

#include "support/TestSupport.h"

#include <QDomDocument>
#include <QList>
#include <QStringList>

namespace velmar::test {

// A table file: the declaration, the root, and per row an `entry` element
// holding the children "name=text" of the row; `sep` goes between any two elements.
inline QByteArray tableXml(const QString& root, const QString& entry,
                           const QList<QStringList>& rows, const QString& sep = "\n ") {
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
inline QList<QStringList> defaultEntries(bool vat) {
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

// Tb-Reparti.xml with the first `count` default departments, changed by
// overrides "5.IdIva=03" (a child of department 5).
inline QByteArray departmentXml(int count, const QStringList& overrides = {},
                                const QString& sep = "\n ") {
    QList<QStringList> rows = defaultEntries(false).mid(0, count);
    for (const QString& o : overrides) {
        const QString name = o.section('.', 1).section('=', 0, 0);
        for (QString& child : rows[o.section('.', 0, 0).toInt() - 1]) {
            if (child.section('=', 0, 0) == name) {
                child = name + '=' + o.section('=', 1);
            }
        }
    }
    return tableXml("TabReparti", "Reparto", rows, sep);
}

inline QDomDocument parsedFile(const QString& path) {
    QDomDocument doc;
    doc.setContent(readFile(path));
    return doc;
}

// The text of the n-th element `name` of a document ("<missing>" when there is none).
inline QString nthText(const QDomDocument& doc, const QString& name, int n) {
    const QDomNodeList nodes = doc.elementsByTagName(name);
    return n >= 1 && n <= nodes.size() ? nodes.item(n - 1).toElement().text()
                                       : QStringLiteral("<missing>");
}

} // namespace velmar::test
