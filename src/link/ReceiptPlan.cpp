#include "link/ReceiptPlan.h"

#include <optional>

namespace velmar {

namespace {

// One register command of a line: `"text"`, `q*`, `aH`, then a number and a
// letter (`1R`, `10M`) or a bare letter (`K`, `=`, `@`).
struct Command {
    QByteArray quantity;
    QByteArray amount;
    int number = -1;
    char code = 0;
};

// The commands of one line; nullopt when Velmar cannot read it (a byte that
// belongs to no command), which leaves the sums unknown.
std::optional<std::vector<Command>> commandsOf(const QByteArray& line) {
    std::vector<Command> out;
    Command cmd;
    QByteArray value;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '"') {
            const qsizetype close = line.indexOf('"', i + 1);
            if (close < 0) {
                return std::nullopt;
            }
            i = close;
        } else if ((c >= '0' && c <= '9') || c == '.') {
            value += c;
        } else if (c == 'H') {
            cmd.amount = value;
            value.clear();
        } else if (c == '*') {
            cmd.quantity = value;
            value.clear();
        } else if (QByteArray("RTMFZ%").contains(c) || QByteArray("KkjJaA=Y@").contains(c)) {
            bool ok = false;
            cmd.number = value.toInt(&ok);
            if (!ok) {
                cmd.number = -1;
            }
            cmd.code = c;
            out.push_back(cmd);
            cmd = Command{};
            value.clear();
        } else if (c != ' ') {
            return std::nullopt;
        }
    }
    return out;
}

// A decimal text scaled by 10^decimals ("2.5", 3 -> 2500); nullopt when it is
// not a number.
std::optional<std::int64_t> scaled(const QByteArray& text, int decimals) {
    const qsizetype dot = text.indexOf('.');
    const QByteArray whole = dot < 0 ? text : text.left(dot);
    QByteArray frac = dot < 0 ? QByteArray() : text.mid(dot + 1);
    if ((whole.isEmpty() && frac.isEmpty()) || frac.size() > decimals || whole.size() > 12) {
        return std::nullopt;
    }
    frac = frac.leftJustified(decimals, '0');
    std::int64_t v = 0;
    for (char c : whole + frac) {
        v = v * 10 + (c - '0');
    }
    return v;
}

// a x b / scale, halves rounded up: how the register rounds.
std::int64_t product(std::int64_t a, std::int64_t b, std::int64_t scale) {
    return (a * b + scale / 2) / scale;
}

// The register's documents as the commands change them.
class Register {
public:
    ReceiptPlan::State state;

    // Returns what the command did: opened a fiscal document, keyed a payment.
    std::pair<bool, bool> apply(const Command& c) {
        const bool wasOpen = state.fiscalOpen;
        bool payment = false;
        switch (c.code) {
        case 'R': sale(c); break;
        case 'M': modifier(c); break;
        case 'T': payment = pay(c); break;
        case 'F':
            if (c.number == 25) {
                voidOpen();
            }
            break;
        case 'k': voidOpen(); break;
        case 'K': returnNext_ = false; break;
        case 'j': state.nonFiscalOpen = state.nonFiscalOpen || !state.fiscalOpen; break;
        case 'J': state.nonFiscalOpen = false; break;
        default: break;
        }
        return {!wasOpen && state.fiscalOpen, payment};
    }

private:
    void open(bool receipt) {
        state.fiscalOpen = true;
        state.paymentKeyed = false;
        receipt_ = receipt;
        total_ = 0;
        paid_ = 0;
        lastItem_ = 0;
    }
    void sale(const Command& c) {
        if (state.nonFiscalOpen || (state.fiscalOpen && !receipt_)) {
            return; // refused by the register
        }
        if (!state.fiscalOpen) {
            open(true);
        }
        const auto price = c.amount.isEmpty() ? std::nullopt : scaled(c.amount, 0);
        const auto quantity = c.quantity.isEmpty() ? std::optional<std::int64_t>(1000)
                                                   : scaled(c.quantity, 3);
        if (!price || !quantity) {
            state.sumsKnown = false; // the department's preset price, or a value Velmar cannot read
            return;
        }
        const std::int64_t amount = product(*quantity, *price, 1000);
        lastItem_ = returnNext_ ? -amount : amount;
        total_ += lastItem_;
        returnNext_ = false;
    }
    void modifier(const Command& c) {
        const int n = c.number;
        if (n == 0 || n == 9) {
            returnNext_ = n == 9;
        } else if (n >= 1 && n <= 8) {
            const bool percent = n == 1 || n == 2 || n == 5 || n == 6;
            const bool onItem = n % 2 == 1;
            const std::int64_t base = onItem ? lastItem_ : total_;
            const auto value = percent ? scaled(c.quantity, 2) : scaled(c.amount, 0);
            if (!value) {
                state.sumsKnown = false;
                return;
            }
            const std::int64_t delta = percent ? product(base < 0 ? 0 : base, *value, 10000) : *value;
            const std::int64_t signedDelta = n >= 5 ? delta : -delta;
            if (onItem) {
                lastItem_ += signedDelta;
            }
            total_ += signedDelta;
        } else if ((n == 10 || n == 11 || n == 14 || n == 15) && !state.fiscalOpen &&
                   !state.nonFiscalOpen) {
            open(false);
        }
    }
    bool pay(const Command& c) {
        if (!state.fiscalOpen) {
            return false; // refused: nothing to pay
        }
        state.paymentKeyed = true;
        if (!receipt_) {
            close(); // a cash movement closes with its payment
            return true;
        }
        if (c.amount.isEmpty()) {
            close(); // pays the rest
            return true;
        }
        const auto amount = scaled(c.amount, 0);
        const auto quantity = c.quantity.isEmpty() ? std::optional<std::int64_t>(1000)
                                                   : scaled(c.quantity, 3);
        if (!amount || !quantity) {
            state.sumsKnown = false;
            return true;
        }
        paid_ += product(*quantity, *amount, 1000);
        if (state.sumsKnown && total_ >= 0 && paid_ >= total_) {
            close();
        }
        return true;
    }
    void close() {
        state.fiscalOpen = false;
        state.paymentKeyed = false;
        (receipt_ ? state.receiptsClosed : state.movementsClosed) += 1;
    }
    void voidOpen() {
        state.fiscalOpen = false;
        state.paymentKeyed = false;
        returnNext_ = false;
    }

    bool receipt_ = false;
    bool returnNext_ = false;
    std::int64_t total_ = 0;
    std::int64_t paid_ = 0;
    std::int64_t lastItem_ = 0;
};

} // namespace

ReceiptPlan::ReceiptPlan(const std::vector<QByteArray>& lines) {
    Register reg;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto commands = commandsOf(lines[i]);
        if (!commands) {
            reg.state.sumsKnown = false;
        } else {
            for (const Command& c : *commands) {
                const auto [opened, paid] = reg.apply(c);
                if (opened && firstOpening_ < 0) {
                    firstOpening_ = static_cast<int>(i);
                }
                if (paid && firstPayment_ < 0) {
                    firstPayment_ = static_cast<int>(i);
                }
            }
        }
        after_.push_back(reg.state);
    }
}

const ReceiptPlan::State& ReceiptPlan::after(int count) const {
    const int last = static_cast<int>(after_.size()) - 1;
    return after_[static_cast<std::size_t>(count < 0 ? 0 : (count > last ? last : count))];
}

} // namespace velmar
