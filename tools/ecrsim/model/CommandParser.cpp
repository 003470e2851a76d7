#include "CommandParser.h"

namespace velmar::sim {

namespace {

bool isNumberedTerminator(char c) {
    return c == 'R' || c == 'T' || c == 'M' || c == 'F' || c == 'Z' || c == '%';
}

bool isBareTerminator(char c) {
    return c == 'k' || c == 'j' || c == 'J' || c == 'a' || c == 'A' || c == '=' || c == 'Y' ||
           c == '@';
}

QByteArray describeByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x21 && u < 0x7f) {
        return QByteArray("'") + c + "'";
    }
    return "0x" + QByteArray::number(u, 16).rightJustified(2, '0');
}

} // namespace

QByteArray Command::name() const {
    return number >= 0 ? QByteArray::number(number) + code : QByteArray(1, code);
}

void CommandParser::reset() {
    cmd_ = Command();
    value_.clear();
    begun_ = false;
    inText_ = false;
}

CommandParser::Step CommandParser::fail(const QByteArray& reason) {
    Step s;
    s.kind = Step::Error;
    s.command = cmd_;
    s.reason = reason;
    reset();
    return s;
}

CommandParser::Step CommandParser::done() {
    Step s;
    s.kind = Step::Done;
    s.command = cmd_;
    reset();
    return s;
}

CommandParser::Step CommandParser::feed(char c) {
    if (!begun_ && !inText_ && c == ' ') {
        return Step{}; // a blank between commands
    }
    begun_ = true;
    cmd_.raw += c;

    if (inText_) {
        if (c == '"') {
            inText_ = false;
        } else if (cmd_.text.size() >= maxTextLength) {
            return fail("text longer than " + QByteArray::number(maxTextLength) + " bytes");
        } else {
            cmd_.text += c;
        }
        return Step{};
    }

    if (c == ' ') {
        return Step{};
    }
    if (c == '"') {
        if (cmd_.hasText) {
            return fail("a second text in one command");
        }
        if (!value_.isEmpty()) {
            return fail("a value without separator before a text");
        }
        cmd_.hasText = true;
        inText_ = true;
        return Step{};
    }
    if ((c >= '0' && c <= '9') || c == '.') {
        if (c == '.' && value_.contains('.')) {
            return fail("two decimal points in one value");
        }
        if (value_.size() >= maxValueLength) {
            return fail("a value longer than " + QByteArray::number(maxValueLength) +
                        " characters");
        }
        value_ += c;
        return Step{};
    }
    if (c == 'H' || c == '*') {
        QByteArray& field = c == 'H' ? cmd_.amount : cmd_.quantity;
        if (value_.isEmpty()) {
            return fail(QByteArray(1, c) + " without a value");
        }
        if (!field.isEmpty()) {
            return fail("two " + QByteArray(1, c) + " fields in one command");
        }
        field = value_;
        value_.clear();
        return Step{};
    }
    if (c == 'K') {
        // The clear key ends whatever was being keyed in.
        cmd_.code = 'K';
        return done();
    }
    if (isNumberedTerminator(c)) {
        if (value_.isEmpty()) {
            return fail(QByteArray(1, c) + " without a number");
        }
        if (value_.contains('.')) {
            return fail("a decimal point in the number of " + QByteArray(1, c));
        }
        cmd_.number = value_.toInt();
        cmd_.code = c;
        return done();
    }
    if (isBareTerminator(c)) {
        if (!value_.isEmpty()) {
            return fail("a value without separator before " + QByteArray(1, c));
        }
        cmd_.code = c;
        return done();
    }
    return fail("unexpected byte " + describeByte(c));
}

QList<CommandParser::Step> CommandParser::parseAll(const QByteArray& stream) {
    CommandParser parser;
    QList<Step> steps;
    for (char c : stream) {
        Step s = parser.feed(c);
        if (s.kind != Step::More) {
            steps.append(s);
        }
    }
    return steps;
}

} // namespace velmar::sim
