#pragma once
// The frames the register sends besides its echo: the closing answer
// ("footer") with date, time and receipt number, and the identity answer to
// 89F. Every frame is STX ... ETX.

#include <QByteArray>
#include <QDateTime>

namespace velmar::sim {

inline constexpr char STX = 2;
inline constexpr char ETX = 3;
inline constexpr char ACK = 6;
inline constexpr char XON = 17;
inline constexpr char XOFF = 19;

enum class FooterLayout {
    Plain,  // families 1 and 5, and every family over TCP: DD/MM/YYYY HH-MM NNNNCC
    WithRt, // family 6: DD/MM/YYYY HH-MM RT NNNNCC
};

// Two upper-case hexadecimal digits of the byte sum modulo 256.
QByteArray checksum(const QByteArray& bytes);

// The closing answer for receipt `number` closed at `at`; the number is
// written with four digits (modulo 10000).
QByteArray footer(FooterLayout layout, const QDateTime& at, int number);

// The answer to 89F in `family` (3 and 6; empty for the others). The
// registration number is cut or blank-padded to 11 characters; both families
// then tell the last receipt's number as " N" and four digits.
QByteArray identityAnswer(int family, const QByteArray& matricola, int lastReceipt,
                          const QDateTime& now);

// The answer to a command the register cannot carry out because of its own
// state: STX "ERR" and two digits ETX (01 paper out, 02 cover open, 03
// electronic journal full, 04 nearly full).
QByteArray errorAnswer(int code);

} // namespace velmar::sim
