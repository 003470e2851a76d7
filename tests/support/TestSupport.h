#pragma once
// What the tests share: an operator who answers from a script and remembers
// every box, the folders of the build, whole files and faults.

#include "common/Fault.h"
#include "common/OperatorUi.h"
#include "support/Journal.h"

#include <QFile>
#include <QList>
#include <QString>

namespace velmar::test {

// Records every message box; answers with the scripted answers in order, then
// with each box's default.
class ScriptedOperatorUi : public OperatorUi {
public:
    MsgAnswer showMessage(const MessageBox& box) override {
        boxes.append(box);
        if (!answers.isEmpty()) {
            return answers.takeFirst();
        }
        return box.defaultAnswer;
    }
    QStringList texts() const {
        QStringList t;
        for (const auto& b : boxes) {
            t << b.text;
        }
        return t;
    }
    QList<MessageBox> boxes;
    QList<MsgAnswer> answers;
};

inline QString binDir() {
    return QStringLiteral(VELMAR_BIN_DIR);
}
inline QString testDataDir() {
    return QStringLiteral(VELMAR_TEST_DATA);
}

// A file's bytes, or `missing` when it cannot be read.
inline QByteArray readFile(const QString& path, const QByteArray& missing = {}) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : missing;
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Copies the golden receipts' department and VAT tables into `folder`.
inline bool copyGoldenTables(const QString& folder) {
    for (const char* table : {"/Tb-Reparti.xml", "/Tb-Iva.xml"}) {
        if (!QFile::copy(testDataDir() + QStringLiteral("/golden/tables") + QLatin1String(table),
                         folder + QLatin1String(table))) {
            return false;
        }
    }
    return true;
}

// The fault number `f` throws, 0 when it returns.
template <typename F> int faultOf(F&& f) {
    try {
        f();
    } catch (const Fault& e) {
        return e.number();
    }
    return 0;
}

} // namespace velmar::test
