#pragma once
// Test cases kept as data under tests/data/: one case a line, its fields
// separated by " | ", the first field naming the row. Blank lines and lines
// starting with "#" are skipped. In a field \xHH, \t, \r, \n, \0 and \\ stand
// for their bytes and \e for nothing, so that blanks at a field's ends and
// empty fields can be seen (written \x20 and \e).

#include "support/TestSupport.h"

#include <QTest>

#include <array>

namespace velmar::test {

inline QByteArray unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 'x') {
            out += char(field.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else if (c != 'e') {
            out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c == '0' ? '\0' : c;
        }
    }
    return out;
}

// Adds a QByteArray column per name and a row per case of tests/data/`file`;
// a case with another number of fields stops the test program.
inline void addCaseRows(const QString& file, const QList<const char*>& columns) {
    for (const char* c : columns) {
        QTest::addColumn<QByteArray>(c);
    }
    const QString path = testDataDir() + QLatin1Char('/') + file;
    const QByteArray all = readFile(path);
    if (all.isEmpty()) {
        qFatal("cannot read %s", qPrintable(path));
    }
    for (QByteArray line : all.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty() || line.startsWith('#')) {
            continue;
        }
        QByteArrayList cells;
        qsizetype from = 0;
        for (qsizetype at; (at = line.indexOf(" | ", from)) >= 0; from = at + 3) {
            cells << line.mid(from, at - from);
        }
        cells << line.mid(from);
        if (cells.size() != columns.size() + 1) {
            qFatal("%s: %d fields where %d belong: %s", qPrintable(path), int(cells.size()),
                   int(columns.size() + 1), line.constData());
        }
        QTestData& row = QTest::newRow(cells[0].constData());
        for (qsizetype i = 1; i < cells.size(); ++i) {
            row << unescaped(cells[i]);
        }
    }
}

// The current row's fields by column name, for a structured binding:
//   const auto [line, expected] = caseFields("line", "expected");
template <typename... Names> std::array<QByteArray, sizeof...(Names)> caseFields(Names... names) {
    return {*static_cast<QByteArray*>(QTest::qData(names, QMetaType::QByteArray))...};
}

} // namespace velmar::test
