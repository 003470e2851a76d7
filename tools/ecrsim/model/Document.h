#pragma once
// What the register prints: a receipt, a non-fiscal document or a cash
// movement, with everything that the journal records of it. Amounts are cents.

#include <cstdint>
#include <QByteArray>
#include <QDateTime>
#include <QList>

namespace velmar::sim {

struct Item {
    int department = 1;
    QByteArray quantity = "1"; // as keyed in
    std::int64_t amount = 0;   // quantity x price, positive also for a return
    QByteArray text;
    bool isReturn = false;
    std::int64_t adjustments = 0; // the item's own discounts (-) and surcharges (+)

    // What the item adds to the total: negative for a return.
    std::int64_t net() const { return isReturn ? -(amount + adjustments) : amount + adjustments; }
};

struct Modifier {
    bool onSubtotal = false;
    int item = 0; // 1-based item it applies to (0 on the subtotal)
    bool surcharge = false;
    QByteArray percent;      // as keyed in; empty for an amount
    std::int64_t amount = 0; // signed: discounts are negative
};

struct Payment {
    int form = 1;
    std::int64_t amount = 0;
    QByteArray quantity; // tickets; empty when not keyed
    QByteArray text;
};

struct Reference {
    QByteArray text;      // date, number and issuing register, as keyed in
    bool cancels = false; // 103M: the document cancels the earlier one
};

struct Code {
    int type = 1; // 1 EAN-13, 2 EAN-8, 3 CODE39, 6 QR
    QByteArray text;
};

struct Document {
    enum class Kind { Receipt, NonFiscal, CashIn, CashOut };
    Kind kind = Kind::Receipt;
    int number = 0;
    QDateTime closedAt;
    QList<Item> items;
    QList<Modifier> modifiers;
    QList<Payment> payments;
    std::int64_t total = 0;
    std::int64_t change = 0;
    QList<QByteArray> lines;    // printed text lines
    QList<QByteArray> courtesy; // 40F
    QByteArray customer;        // 39F
    QList<Code> codes;
    bool hasReference = false;
    Reference reference;

    std::int64_t paid() const {
        std::int64_t sum = 0;
        for (const Payment& p : payments) {
            sum += p.amount;
        }
        return sum;
    }
};

// A document that is finished: printed whole, or voided.
struct FinishedDocument {
    Document document;
    bool voided = false;
};

} // namespace velmar::sim
