#pragma once
// What each register family tells Velmar about a receipt, one row a family:
// whether it answers every closed receipt over serial, and how it is asked
// for its last receipt number. Over TCP every family answers the command
// that closes a document.

#include <QByteArray>

namespace velmar {

struct EcrFamily {
    int index = 0;
    // Serial: the register sends its closing answer (date, time, number)
    // after every receipt, and expects ACK.
    bool footerAfterReceipt = false;
    // The request that asks for the last receipt's number; empty when the
    // family cannot be asked.
    QByteArray numberRequest;
    // Its answer has the closing answer's layout (the number ends three bytes
    // before ETX); otherwise the number follows " N".
    bool numberAsInFooter = false;
    // Cancels the receipt in progress: the clear key, then the void key.
    QByteArray cancel = "Kk";
};

// The row of family 0-6 (family 0 for any other number).
const EcrFamily& ecrFamily(int index);

} // namespace velmar
