#pragma once
// The register's fiscal memory: which document is open, what it holds, the
// receipt counter, and the checks that accept or refuse each command.

#include "CommandParser.h"
#include "Document.h"

#include <optional>
#include <QByteArray>
#include <QDateTime>

namespace velmar::sim {

// What one command did.
struct Outcome {
    enum class Request {
        None,
        LastReceipt, // Y: date, time and number of the last receipt
        Identity,    // 89F: registration number and status
    };
    bool accepted = true;
    QByteArray reason;                        // refused: why
    std::optional<FinishedDocument> finished; // a document closed or voided by the command
    Request request = Request::None;
};

class FiscalState {
public:
    FiscalState(int family, int firstReceiptNumber, std::int64_t presetPriceCents);

    // Applies one command at the register's clock time `now`. A refused
    // command changes nothing.
    Outcome apply(const Command& command, const QDateTime& now);

    // The power goes: an open receipt or cash movement is voided.
    std::optional<FinishedDocument> powerLoss(const QDateTime& now) { return voidOpen(now).finished; }

    bool receiptOpen() const;
    bool nonFiscalOpen() const;
    bool cashMovementOpen() const;
    int lastReceiptNumber() const { return m_lastReceipt; }
    // When the last receipt closed; invalid before the first one.
    QDateTime lastReceiptTime() const { return m_lastReceiptAt; }
    // The open document's total so far (0 when none is open).
    std::int64_t runningTotal() const;

private:
    Outcome sale(const Command& c);
    Outcome modifierOrMovement(const Command& c);
    Outcome itemModifier(const Command& c);
    Outcome subtotalModifier(const Command& c);
    Outcome priceModifier(const Command& c, bool percent, std::int64_t base, const char* on, Modifier& m);
    Outcome cashMovement(const Command& c, Document::Kind kind);
    Outcome reference(const Command& c);
    Outcome payment(const Command& c, const QDateTime& now);
    Outcome functionKey(const Command& c, const QDateTime& now);
    Outcome code(const Command& c);
    Outcome printLine(const Command& c);
    Outcome nonFiscal(const Command& c, const QDateTime& now);
    Outcome voidOpen(const QDateTime& now);

    Document openDocument(Document::Kind kind, int number);
    // Where texts, codes and references go: the open document, or the next one.
    Document& target() { return m_doc ? *m_doc : m_pending; }

    int m_family;
    std::int64_t m_presetPrice;
    int m_lastReceipt;
    QDateTime m_lastReceiptAt;
    int m_lastNonFiscal = 0;

    std::optional<Document> m_doc; // the open document
    Document m_pending;            // lines, codes and a reference printed before the next document
    bool m_returnNext = false;     // 9M keyed: the next sale is a return
    bool m_subtotalShown = false;  // the last accepted command was "=" in a receipt
    bool m_linePrinted = false;    // the last accepted command printed a text line
    QByteArray m_display[2];
};

} // namespace velmar::sim
