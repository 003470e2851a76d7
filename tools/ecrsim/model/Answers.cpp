#include "Answers.h"

namespace velmar::sim {

namespace {

QByteArray fourDigits(int number) {
    return QByteArray::number(((number % 10000) + 10000) % 10000).rightJustified(4, '0');
}

QByteArray latin1(const QString& s) {
    return s.toLatin1();
}

} // namespace

QByteArray checksum(const QByteArray& bytes) {
    unsigned sum = 0;
    for (char c : bytes) {
        sum += static_cast<unsigned char>(c);
    }
    return QByteArray::number(sum % 256, 16).toUpper().rightJustified(2, '0');
}

QByteArray footer(FooterLayout layout, const QDateTime& at, int number) {
    QByteArray body = latin1(at.toString(QStringLiteral("dd/MM/yyyy HH-mm "))) +
                      (layout == FooterLayout::WithRt ? QByteArray("RT ") : QByteArray()) +
                      fourDigits(number);
    return STX + body + checksum(body) + ETX;
}

QByteArray identityAnswer(int family, const QByteArray& matricola, int lastReceipt,
                          const QDateTime& now) {
    const QByteArray id = matricola.left(11).leftJustified(11, ' ');
    if (family == 6) {
        return STX + QByteArray("ID:") + id + " N" + fourDigits(lastReceipt) + ETX;
    }
    if (family == 3) {
        return STX + QByteArray("ID: ") + id + " N" + fourDigits(lastReceipt) + ' ' +
               latin1(now.toString(QStringLiteral("dd/MM/yyyy HH:mm"))) + ETX;
    }
    return {};
}

QByteArray errorAnswer(int code) {
    return STX + QByteArray("ERR") + QByteArray::number(code).rightJustified(2, '0') + ETX;
}

} // namespace velmar::sim
