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
    m_cmd = Command();
    m_value.clear();
    m_begun = false;
    m_inText = false;
}

CommandParser::Step CommandParser::fail(const QByteArray& reason) {
    Step s;
    s.kind = Step::Error;
    s.command = m_cmd;
    s.reason = reason;
    reset();
    return s;
}

CommandParser::Step CommandParser::done() {
    Step s;
    s.kind = Step::Done;
    s.command = m_cmd;
    reset();
    return s;
}

CommandParser::Step CommandParser::feed(char c) {
    if (!m_begun && !m_inText && c == ' ') {
        return Step{}; // a blank between commands
    }
    m_begun = true;
    m_cmd.raw += c;

    if (m_inText) {
        if (c == '"') {
            m_inText = false;
        } else if (m_cmd.text.size() >= maxTextLength) {
            return fail("text longer than " + QByteArray::number(maxTextLength) + " bytes");
        } else {
            m_cmd.text += c;
        }
        return Step{};
    }

    if (c == ' ') {
        return Step{};
    }
    if (c == '"') {
        if (m_cmd.hasText) {
            return fail("a second text in one command");
        }
        if (!m_value.isEmpty()) {
            return fail("a value without separator before a text");
        }
        m_cmd.hasText = true;
        m_inText = true;
        return Step{};
    }
    if ((c >= '0' && c <= '9') || c == '.') {
        if (c == '.' && m_value.contains('.')) {
            return fail("two decimal points in one value");
        }
        if (m_value.size() >= maxValueLength) {
            return fail("a value longer than " + QByteArray::number(maxValueLength) +
                        " characters");
        }
        m_value += c;
        return Step{};
    }
    if (c == 'H' || c == '*') {
        QByteArray& field = c == 'H' ? m_cmd.amount : m_cmd.quantity;
        if (m_value.isEmpty()) {
            return fail(QByteArray(1, c) + " without a value");
        }
        if (!field.isEmpty()) {
            return fail("two " + QByteArray(1, c) + " fields in one command");
        }
        field = m_value;
        m_value.clear();
        return Step{};
    }
    if (c == 'K') {
        // The clear key ends whatever was being keyed in.
        m_cmd.code = 'K';
        return done();
    }
    if (isNumberedTerminator(c)) {
        if (m_value.isEmpty()) {
            return fail(QByteArray(1, c) + " without a number");
        }
        if (m_value.contains('.')) {
            return fail("a decimal point in the number of " + QByteArray(1, c));
        }
        m_cmd.number = m_value.toInt();
        m_cmd.code = c;
        return done();
    }
    if (isBareTerminator(c)) {
        if (!m_value.isEmpty()) {
            return fail("a value without separator before " + QByteArray(1, c));
        }
        m_cmd.code = c;
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
