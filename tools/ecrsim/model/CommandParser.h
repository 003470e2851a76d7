#pragma once
// The register's reader of the command stream, one byte at a time.
//
// A command is an optional quoted text, any number of "value separator"
// fields (separator H: an amount, *: a quantity or a percentage) and a
// terminator: a number and one of R T M F Z %, or one of the bare letters
// K k j J a A = Y @. Spaces outside a text are skipped. The reader checks the
// shape only; what a command means is the fiscal state's business.

#include <QByteArray>
#include <QList>

namespace velmar::sim {

struct Command {
    QByteArray raw;  // every byte of the command as received, spaces included
    QByteArray text; // the quoted text, without its quotes
    bool hasText = false;
    QByteArray quantity; // the value before '*'; empty when none
    QByteArray amount;   // the value before 'H'; empty when none
    int number = -1;     // the number before the terminator; -1 for a bare one
    char code = 0;       // the terminator: R T M F Z % K k j J a A = Y @

    bool hasFields() const { return hasText || !quantity.isEmpty() || !amount.isEmpty(); }
    // "10M", "1T", "K": the terminator as it was written.
    QByteArray name() const;
};

class CommandParser {
public:
    static constexpr int maxTextLength = 128; // bytes of one quoted text
    static constexpr int maxValueLength = 12; // characters of one value

    struct Step {
        enum Kind { More, Done, Error };
        Kind kind = More;
        Command command;   // Done: the whole command; Error: what was read of it
        QByteArray reason; // Error: why the byte could not continue the command
    };

    // Reads one byte. Done and Error end the command; the next byte starts a
    // new one.
    Step feed(char byte);
    // No command begun (spaces between commands do not begin one).
    bool idle() const { return !begun_; }
    // The bytes of the command begun so far.
    const QByteArray& pendingBytes() const { return cmd_.raw; }
    // Forgets a half-read command.
    void reset();

    // The Done and Error steps of a whole stream, for tests and tools.
    static QList<Step> parseAll(const QByteArray& stream);

private:
    Step fail(const QByteArray& reason);
    Step done();

    Command cmd_;
    QByteArray value_; // digits and '.' read since the last separator
    bool begun_ = false;
    bool inText_ = false;
};

} // namespace velmar::sim
