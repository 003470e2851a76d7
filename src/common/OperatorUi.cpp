#include "common/OperatorUi.h"

namespace velmar {

QString LoggingOperatorUi::describe(const MessageBox& box) {
    QString line;
    if (!box.title.isEmpty()) {
        line += QLatin1Char('[') + box.title + QLatin1String("] ");
    }
    // A box may hold line breaks; a log line may not.
    QString text = box.text;
    text.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    text.replace(QLatin1Char('\n'), QLatin1String(" / "));
    return line + text;
}

MsgAnswer LoggingOperatorUi::showMessage(const MessageBox& box) {
    if (sink_) {
        sink_(describe(box));
    }
    return box.defaultAnswer;
}

} // namespace velmar
