#pragma once
// What a translated receipt does to the register, line by line, worked out
// before it is played: where a fiscal document opens, where a payment is
// keyed, and where the payments reach the total, summed as the register sums
// (an item is quantity x price, a percentage is taken of what it reduces,
// both rounded half up to the cent). After a failure this tells whether a
// receipt may be open or may have been printed; after a job the register did
// not answer, whether its payments closed the receipt.

#include <QByteArray>
#include <vector>

namespace velmar {

class ReceiptPlan {
public:
    // The register's documents after some lines.
    struct State {
        int receiptsClosed = 0;  // fiscal receipts printed whole
        int movementsClosed = 0; // cash movements closed by their payment
        bool fiscalOpen = false; // a receipt or cash movement is open
        bool nonFiscalOpen = false;
        bool sumsKnown = true; // false: a preset price or a line Velmar cannot read
        bool paymentKeyed = false; // the open receipt has a payment already
    };

    ReceiptPlan() = default;
    explicit ReceiptPlan(const std::vector<QByteArray>& lines);

    int lines() const { return static_cast<int>(after_.size()) - 1; }
    // The state once the first `count` lines were carried out (0: before any).
    const State& after(int count) const;
    // 0-based index of the first line that opens a fiscal document / keys a
    // payment; -1 when none does.
    int firstOpening() const { return firstOpening_; }
    int firstPayment() const { return firstPayment_; }

private:
    std::vector<State> after_{State{}};
    int firstOpening_ = -1;
    int firstPayment_ = -1;
};

} // namespace velmar
