#pragma once
// The one way the engine talks to the operator: message boxes.
//
// `velmar` shows real dialogs, `velmard` and the command-line tools write a log
// line and take the default answer, tests script the answers. Engine code never
// creates a dialog itself.

#include <QString>
#include <functional>

namespace velmar {

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageBox {
    QString text;
    QString title; // empty: the program's title, unless `untitled`
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
    bool untitled = false;    // a box with an empty title bar
    bool systemModal = false; // on top of every window, not only Velmar's
};

class OperatorUi {
public:
    virtual ~OperatorUi() = default;
    // Shows the box modally and returns the operator's answer.
    virtual MsgAnswer showMessage(const MessageBox& box) = 0;

    // The common case: a text with an OK button.
    void message(const QString& text, MsgIcon icon = MsgIcon::None, const QString& title = {}) {
        showMessage(MessageBox{text, title, MsgButtons::Ok, icon, MsgAnswer::Ok});
    }
};

// Writes every box as one line through `sink` and answers with its default.
class LoggingOperatorUi : public OperatorUi {
public:
    explicit LoggingOperatorUi(std::function<void(const QString&)> sink) : sink_(std::move(sink)) {}
    MsgAnswer showMessage(const MessageBox& box) override;

    // "[title] text" on one line, the form used in logs.
    static QString describe(const MessageBox& box);

private:
    std::function<void(const QString&)> sink_;
};

// "End the program": the one place every component goes through when a fault
// leaves it no way on. The component shows its message first, calls
// endProgram and then unwinds at once; the program decides how to stop.
class ProgramExit {
public:
    virtual ~ProgramExit() = default;
    virtual void endProgram(const QString& reason) = 0;
};

// Remembers the request; for tools and tests that check after the call.
class RecordingProgramExit : public ProgramExit {
public:
    void endProgram(const QString& reason) override {
        requested_ = true;
        reason_ = reason;
    }
    bool requested() const { return requested_; }
    const QString& reason() const { return reason_; }
    void reset() {
        requested_ = false;
        reason_.clear();
    }

private:
    bool requested_ = false;
    QString reason_;
};

} // namespace velmar
