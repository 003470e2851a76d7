#pragma once
// The register's journal: one compact JSON object per finished document or
// refused command, so a test or a person can see exactly what was printed.
//
//   {"kind":"receipt","number":12,"datetime":"2026-12-06T09:15:03",
//    "items":[{"dept":1,"qty":"2","amount":300,"text":"MILK","return":false}],
//    "modifiers":[...],"payments":[{"form":1,"amount":500}],"total":300,"change":200}
//
// kind is receipt, void, nonfiscal, cash-in, cash-out or refused. Amounts are
// cents; texts are the register's bytes read as Windows-1252.

#include "Document.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace velmar::sim {

// A finished document. `ack` is given for the families that expect ACK after
// their closing answer (5 and 6 over serial).
QByteArray journalDocumentLine(const FinishedDocument& finished, std::optional<bool> ack);

// A refused command: its sequence number (1-based count of commands), its
// bytes as received and why it was refused.
QByteArray journalRefusalLine(int sequence, const QByteArray& command, const QByteArray& reason,
                              const QDateTime& at);

// Windows-1252 bytes as text.
QString fromCp1252(const QByteArray& bytes);

} // namespace velmar::sim
