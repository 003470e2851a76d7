#include "FiscalState.h"

#include <QRegularExpression>

namespace velmar::sim {

namespace {

constexpr std::int64_t maxAmount = 999999999;
constexpr std::int64_t maxQuantityMilli = 99999999; // 99999.999

Outcome refuse(const QByteArray& reason) {
    Outcome o;
    o.accepted = false;
    o.reason = reason;
    return o;
}

// Whole cents, 1 to 999999999.
std::optional<std::int64_t> cents(const QByteArray& text) {
    if (text.isEmpty() || text.contains('.') || text.size() > 9) {
        return std::nullopt;
    }
    const std::int64_t v = text.toLongLong();
    if (v < 1) {
        return std::nullopt;
    }
    return v;
}

// A decimal text with at most `decimals` decimals, as an integer scaled by
// 10^decimals ("2.5" with 3 decimals is 2500).
std::optional<std::int64_t> scaled(const QByteArray& text, int decimals) {
    const int dot = text.indexOf('.');
    QByteArray whole = dot < 0 ? text : text.left(dot);
    QByteArray frac = dot < 0 ? QByteArray() : text.mid(dot + 1);
    if ((whole.isEmpty() && frac.isEmpty()) || frac.size() > decimals) {
        return std::nullopt;
    }
    frac = frac.leftJustified(decimals, '0');
    std::int64_t v = 0;
    for (char c : whole + frac) {
        v = v * 10 + (c - '0');
    }
    return v;
}

// a x b / scale, halves rounded up.
std::int64_t scaledProduct(std::int64_t a, std::int64_t b, std::int64_t scale) {
    return (a * b + scale / 2) / scale;
}

QByteArray range(const char* what, int n, const char* limits) {
    return QByteArray(what) + ' ' + QByteArray::number(n) + " out of range (" + limits + ")";
}

} // namespace

FiscalState::FiscalState(int family, int firstReceiptNumber, std::int64_t presetPriceCents)
    : family_(family), presetPrice_(presetPriceCents), lastReceipt_(firstReceiptNumber - 1) {}

bool FiscalState::receiptOpen() const {
    return doc_ && doc_->kind == Document::Kind::Receipt;
}

bool FiscalState::nonFiscalOpen() const {
    return doc_ && doc_->kind == Document::Kind::NonFiscal;
}

bool FiscalState::cashMovementOpen() const {
    return doc_ &&
           (doc_->kind == Document::Kind::CashIn || doc_->kind == Document::Kind::CashOut);
}

std::int64_t FiscalState::runningTotal() const {
    if (!doc_) {
        return 0;
    }
    std::int64_t total = 0;
    for (const Item& i : doc_->items) {
        total += i.net();
    }
    for (const Modifier& m : doc_->modifiers) {
        if (m.onSubtotal) {
            total += m.amount;
        }
    }
    return total;
}

Document FiscalState::openDocument(Document::Kind kind, int number) {
    Document d = pending_;
    pending_ = Document();
    d.kind = kind;
    d.number = number;
    return d;
}

Outcome FiscalState::apply(const Command& c, const QDateTime& now) {
    Outcome o;
    switch (c.code) {
    case 'R':
        o = sale(c);
        break;
    case 'M':
        o = modifierOrMovement(c);
        break;
    case 'T':
        o = payment(c, now);
        break;
    case 'F':
        o = functionKey(c, now);
        break;
    case 'Z':
        o = code(c);
        break;
    case '@':
        o = printLine(c);
        break;
    case 'j':
    case 'J':
        o = nonFiscal(c, now);
        break;
    case '%':
        if (c.number != 1 && c.number != 2) {
            o = refuse(range("display line", c.number, "1-2"));
        } else if (!c.hasText || !c.quantity.isEmpty() || !c.amount.isEmpty()) {
            o = refuse("a display line is a text only");
        } else {
            display_[c.number - 1] = c.text;
        }
        break;
    case 'K':
        returnNext_ = false; // the pending entry, whatever it was, is cleared
        break;
    case 'k':
        o = c.hasFields() ? refuse("k takes no fields") : voidOpen(now);
        break;
    case 'a':
        if (c.hasFields()) {
            o = refuse("a takes no fields");
        } else if (doc_) {
            o = refuse("the drawer opens only between documents");
        }
        break;
    case 'A':
    case '=':
    case 'Y':
        if (c.hasFields()) {
            o = refuse(QByteArray(1, c.code) + " takes no fields");
        } else if (c.code == 'Y') {
            o.request = Outcome::Request::LastReceipt;
        }
        break;
    default:
        o = refuse("unknown command " + c.name());
    }
    if (o.accepted) {
        subtotalShown_ = c.code == '=' && receiptOpen();
        linePrinted_ = c.code == '@';
    }
    return o;
}

Outcome FiscalState::sale(const Command& c) {
    if (nonFiscalOpen()) {
        return refuse("a sale in a non-fiscal document");
    }
    if (cashMovementOpen()) {
        return refuse("a sale in a cash movement");
    }
    if (c.number < 1 || c.number > 99) {
        return refuse(range("department", c.number, "1-99"));
    }
    if (receiptOpen() && !doc_->payments.isEmpty()) {
        return refuse("a sale after a payment");
    }
    std::int64_t price = presetPrice_;
    if (!c.amount.isEmpty()) {
        const auto a = cents(c.amount);
        if (!a) {
            return refuse("amount " + c.amount + " is not 1 to 999999999 whole cents");
        }
        price = *a;
    }
    std::int64_t quantityMilli = 1000;
    if (!c.quantity.isEmpty()) {
        const auto q = scaled(c.quantity, 3);
        if (!q || *q < 1 || *q > maxQuantityMilli) {
            return refuse("quantity " + c.quantity + " is not 0.001 to 99999.999");
        }
        quantityMilli = *q;
    }
    Item item;
    item.department = c.number;
    item.quantity = c.quantity.isEmpty() ? QByteArray("1") : c.quantity;
    item.amount = scaledProduct(quantityMilli, price, 1000);
    item.text = c.text;
    item.isReturn = returnNext_;
    if (item.amount < 1 || item.amount > maxAmount) {
        return refuse("item amount " + QByteArray::number(item.amount) + " out of range");
    }
    if (!doc_) {
        doc_ = openDocument(Document::Kind::Receipt, lastReceipt_ + 1);
    }
    doc_->items.append(item);
    returnNext_ = false;
    return {};
}

Outcome FiscalState::modifierOrMovement(const Command& c) {
    switch (c.number) {
    case 0:
    case 9:
        if (c.hasFields()) {
            return refuse(c.name() + " takes no fields");
        }
        if (doc_ && !receiptOpen()) {
            return refuse(c.name() + " outside a receipt");
        }
        returnNext_ = c.number == 9;
        return {};
    case 1:
    case 3:
    case 5:
    case 7:
        return itemModifier(c);
    case 2:
    case 4:
    case 6:
    case 8:
        return subtotalModifier(c);
    case 10:
    case 11:
        if (family_ == 1) {
            return refuse(c.name() + " is not a code of family 1 (14M, 15M)");
        }
        return cashMovement(c, c.number == 10 ? Document::Kind::CashIn : Document::Kind::CashOut);
    case 14:
    case 15:
        if (family_ != 1) {
            return refuse(c.name() + " is a code of family 1 only (10M, 11M)");
        }
        return cashMovement(c, c.number == 14 ? Document::Kind::CashIn : Document::Kind::CashOut);
    case 102:
    case 103:
        return reference(c);
    default:
        return refuse("unknown command " + c.name());
    }
}

// The signed amount of a discount or surcharge on `base`: a percentage (p*,
// two decimals) or an amount in cents (aH). A discount may not exceed its base.
Outcome FiscalState::priceModifier(const Command& c, bool percent, std::int64_t base, const char* on,
                                   Modifier& m) {
    std::int64_t delta = 0;
    if (percent) {
        const auto p = scaled(c.quantity, 2);
        if (!p || *p < 1 || *p > 10000) {
            return refuse("percentage " + c.quantity + " is not 0.01 to 100");
        }
        m.percent = c.quantity;
        delta = scaledProduct(base < 0 ? 0 : base, *p, 10000);
    } else {
        const auto a = cents(c.amount);
        if (!a) {
            return refuse("amount " + c.amount + " is not 1 to 999999999 whole cents");
        }
        delta = *a;
    }
    if (!m.surcharge && delta > base) {
        return refuse(QByteArray("a discount larger than the ") + on);
    }
    m.amount = m.surcharge ? delta : -delta;
    return {};
}

Outcome FiscalState::itemModifier(const Command& c) {
    const bool percent = c.number == 1 || c.number == 5;
    if (percent ? (c.quantity.isEmpty() || !c.amount.isEmpty())
                : (c.amount.isEmpty() || !c.quantity.isEmpty())) {
        return refuse(c.name() + (percent ? " needs a percentage (p*)" : " needs an amount (aH)"));
    }
    if (!receiptOpen()) {
        return refuse(c.name() + " with no receipt open");
    }
    if (!doc_->payments.isEmpty()) {
        return refuse(c.name() + " after a payment");
    }
    Item& item = doc_->items.last();
    if (item.isReturn) {
        return refuse(c.name() + " on a returned item");
    }
    Modifier m;
    m.item = static_cast<int>(doc_->items.size());
    m.surcharge = c.number >= 5;
    const Outcome priced = priceModifier(c, percent, item.amount + item.adjustments, "item", m);
    if (!priced.accepted) {
        return priced;
    }
    item.adjustments += m.amount;
    doc_->modifiers.append(m);
    return {};
}

Outcome FiscalState::subtotalModifier(const Command& c) {
    const bool percent = c.number == 2 || c.number == 6;
    if (percent ? (c.quantity.isEmpty() || !c.amount.isEmpty())
                : (c.amount.isEmpty() || !c.quantity.isEmpty())) {
        return refuse(c.name() + (percent ? " needs a percentage (p*)" : " needs an amount (aH)"));
    }
    if (!receiptOpen()) {
        return refuse(c.name() + " with no receipt open");
    }
    if (!subtotalShown_) {
        return refuse(c.name() + " without = right before it");
    }
    if (!doc_->payments.isEmpty()) {
        return refuse(c.name() + " after a payment");
    }
    Modifier m;
    m.onSubtotal = true;
    m.surcharge = c.number >= 5;
    const Outcome priced = priceModifier(c, percent, runningTotal(), "subtotal", m);
    if (!priced.accepted) {
        return priced;
    }
    doc_->modifiers.append(m);
    return {};
}

Outcome FiscalState::cashMovement(const Command& c, Document::Kind kind) {
    if (c.hasFields()) {
        return refuse(c.name() + " takes no fields");
    }
    if (doc_) {
        return refuse("a cash movement while a document is open");
    }
    doc_ = openDocument(kind, lastNonFiscal_ + 1);
    return {};
}

Outcome FiscalState::reference(const Command& c) {
    static const QRegularExpression shape(QStringLiteral("^[0-9]{14}(POS|ND|VR|.{11})?$"));
    if (!c.hasText || !c.quantity.isEmpty() || !c.amount.isEmpty()) {
        return refuse(c.name() + " needs the reference as its only field");
    }
    if (!shape.match(QString::fromLatin1(c.text)).hasMatch()) {
        return refuse("reference \"" + c.text + "\" is not date, number and issuing register");
    }
    if (doc_) {
        return refuse(c.name() + " while a document is open");
    }
    if (pending_.hasReference) {
        return refuse("a second reference for one document");
    }
    pending_.hasReference = true;
    pending_.reference = Reference{c.text, c.number == 103};
    return {};
}

Outcome FiscalState::payment(const Command& c, const QDateTime& now) {
    if (c.number > 19) {
        return refuse(range("payment form", c.number, "0-19"));
    }
    if (!receiptOpen() && !cashMovementOpen()) {
        return refuse("a payment with no receipt or cash movement open");
    }
    Payment p;
    p.form = c.number;
    p.text = c.text;
    p.quantity = c.quantity;
    std::int64_t quantityMilli = 1000;
    if (!c.quantity.isEmpty()) {
        const auto q = scaled(c.quantity, 3);
        if (!q || *q < 1 || *q > maxQuantityMilli) {
            return refuse("quantity " + c.quantity + " is not 0.001 to 99999.999");
        }
        quantityMilli = *q;
    }
    std::optional<std::int64_t> given;
    if (!c.amount.isEmpty()) {
        const auto a = cents(c.amount);
        if (!a) {
            return refuse("amount " + c.amount + " is not 1 to 999999999 whole cents");
        }
        given = scaledProduct(quantityMilli, *a, 1000);
    }
    Document& d = *doc_;
    if (cashMovementOpen()) {
        if (!given) {
            return refuse("a cash movement needs its amount");
        }
        p.amount = *given;
        d.payments.append(p);
        d.total = p.amount;
        lastNonFiscal_ = d.number;
    } else {
        const std::int64_t total = runningTotal();
        if (total < 0 && given) {
            return refuse("a refund is paid without an amount");
        }
        p.amount = given ? *given : total - d.paid();
        d.payments.append(p);
        if (d.paid() < total) {
            returnNext_ = false;
            return {}; // more to pay
        }
        d.total = total;
        d.change = d.paid() - total;
        lastReceipt_ = d.number;
        lastReceiptAt_ = now;
    }
    d.closedAt = now;
    Outcome o;
    o.finished = FinishedDocument{d, false};
    doc_.reset();
    returnNext_ = false;
    return o;
}

Outcome FiscalState::functionKey(const Command& c, const QDateTime& now) {
    if (c.number < 1 || c.number > 99) {
        return refuse(range("function key", c.number, "1-99"));
    }
    if (c.hasFields()) {
        return refuse(c.name() + " takes no fields");
    }
    Outcome o;
    switch (c.number) {
    case 25:
        return voidOpen(now);
    case 89:
        o.request = Outcome::Request::Identity;
        return o;
    case 39:
    case 40:
        if (!linePrinted_) {
            return refuse(c.name() + " without a line printed right before it");
        }
        if (c.number == 39) {
            target().customer = target().lines.takeLast();
        } else {
            target().courtesy.append(target().lines.takeLast());
        }
        return o;
    default:
        return o; // a key with nothing to show here
    }
}

Outcome FiscalState::code(const Command& c) {
    if (c.number != 1 && c.number != 2 && c.number != 3 && c.number != 6) {
        return refuse(range("code type", c.number, "1-3, 6"));
    }
    if (!c.hasText || c.text.isEmpty() || !c.quantity.isEmpty() || !c.amount.isEmpty()) {
        return refuse(c.name() + " needs the code as its only field");
    }
    target().codes.append(Code{c.number, c.text});
    return {};
}

Outcome FiscalState::printLine(const Command& c) {
    if (!c.hasText || !c.quantity.isEmpty() || !c.amount.isEmpty()) {
        return refuse("@ needs a text as its only field");
    }
    target().lines.append(c.text);
    return {};
}

Outcome FiscalState::nonFiscal(const Command& c, const QDateTime& now) {
    if (c.hasFields()) {
        return refuse(QByteArray(1, c.code) + " takes no fields");
    }
    if (c.code == 'j') {
        if (doc_) {
            return refuse("j while a document is open");
        }
        doc_ = openDocument(Document::Kind::NonFiscal, lastNonFiscal_ + 1);
        return {};
    }
    if (!nonFiscalOpen()) {
        return refuse("J with no non-fiscal document open");
    }
    doc_->closedAt = now;
    lastNonFiscal_ = doc_->number;
    Outcome o;
    o.finished = FinishedDocument{*doc_, false};
    doc_.reset();
    return o;
}

Outcome FiscalState::voidOpen(const QDateTime& now) {
    returnNext_ = false;
    pending_ = Document(); // lines, codes and a reference keyed for it go too
    if (!receiptOpen() && !cashMovementOpen()) {
        return {}; // nothing to void
    }
    Document d = *doc_;
    d.total = runningTotal();
    d.closedAt = now;
    doc_.reset();
    Outcome o;
    o.finished = FinishedDocument{d, true};
    return o;
}

} // namespace velmar::sim
