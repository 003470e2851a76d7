#pragma once
// What the tests share: an operator who answers from a script and remembers
// every box, and the folders of the build.

#include "common/OperatorUi.h"

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

inline QString binDir() { return QStringLiteral(VELMAR_BIN_DIR); }
inline QString testDataDir() { return QStringLiteral(VELMAR_TEST_DATA); }

} // namespace velmar::test
