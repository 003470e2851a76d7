#pragma once
// The register's journal as the tests read it: one JSON object a line.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>

namespace velmar::test {

// The register's journal lines (one JSON object each) of one kind.
inline QList<QJsonObject> ofKind(const QList<QByteArray>& lines, const QString& kind) {
    QList<QJsonObject> out;
    for (const QByteArray& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("kind")).toString() == kind) {
            out << o;
        }
    }
    return out;
}

// The printed lines of a journal document.
inline QStringList printedLines(const QJsonObject& document) {
    QStringList out;
    for (const QJsonValue& v : document.value(QStringLiteral("lines")).toArray()) {
        out << v.toString();
    }
    return out;
}

} // namespace velmar::test
