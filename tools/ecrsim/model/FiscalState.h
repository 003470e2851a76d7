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
    int lastReceiptNumber() const { return lastReceipt_; }
    // When the last receipt closed; invalid before the first one.
    QDateTime lastReceiptTime() const { return lastReceiptAt_; }
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
    Document& target() { return doc_ ? *doc_ : pending_; }

    int family_;
    std::int64_t presetPrice_;
    int lastReceipt_;
    QDateTime lastReceiptAt_;
    int lastNonFiscal_ = 0;

    std::optional<Document> doc_; // the open document
    Document pending_;            // lines, codes and a reference printed before the next document
    bool returnNext_ = false;     // 9M keyed: the next sale is a return
    bool subtotalShown_ = false;  // the last accepted command was "=" in a receipt
    bool linePrinted_ = false;    // the last accepted command printed a text line
    QByteArray display_[2];
};

} // namespace velmar::sim
