#pragma once
// What each register family is, one row a family: the commands the
// translator writes for it and how the link talks to it. The translator and
// the link ask the row for a named property and never test a family's
// number, so a new family is one more row in EcrFamily.cpp.

#include <QByteArray>

namespace velmar {

struct EcrFamily {
    // The payment form of a receipt line that names none, or kChosenByLine.
    struct PaymentNumbers {
        int cheque = 0;       // CHEQ
        int card = 0;         // CARD
        int credit = 0;       // CRED
        int bankTransfer = 0; // BANC
        int mealTicket = 0;   // TICK
    };
    // The receipt line chooses: CHEQ and CARD take the position of its ",%"
    // field (0 when it has none), CRED the form its ",T" field names.
    static constexpr int kChosenByLine = -1;

    // Which display texts (DISP) reach the register, always on its line 1.
    enum class Display {
        None,         // every DISP line is dropped
        EveryLine,    // every DISP line
        NotSecondLine // a DISP line for display line 2 (",N2") is dropped
    };

    // How a cash in / cash out (DEPO, PREL) command is rewritten.
    enum class CashMovement {
        AsTranslated,      // "10M"/"11M" as the library gives them
        NoClosingSubtotal, // a closing "=" is dropped
        Codes14And15InCash // "14M"/"15M", paid in cash (form 1), no closing "="
    };

    // How a line is sent and its echo checked.
    enum class Echo {
        PerByte,     // serial: each byte's echo awaited; TCP: resent up to three waits
        WholeCommand // the echo of the whole command (one wait over TCP)
    };

    // Serial: how the register tells Velmar about a receipt it closed. Over
    // TCP every family answers the command that closes a document.
    enum class SerialAnswer {
        None,                 // it tells nothing
        Footer,               // its closing answer after every receipt, acknowledged with ACK
        AskedAfterClosingKey, // a receipt ended by the key "1F" is followed by the
                              // number request, answered in the closing answer's layout
        StatusAfterReceipt    // "89F" after every receipt: the number from its answer,
                              // the time from the computer's clock
    };

    int index = 0;

    // --- What the translator writes ------------------------------------
    PaymentNumbers payments{kChosenByLine, kChosenByLine, kChosenByLine, 4, 4};
    // Written before the first sale or text of a receipt and before a
    // non-fiscal document (and first in the operator's test receipt); the
    // link gives the register 500 ms after it. Empty: no document start.
    QByteArray documentStart{};
    Display display = Display::None;
    bool barCodes = false;   // BARC becomes "tZ"; otherwise dropped
    bool qrCodes = false;    // QRCO becomes "6Z"; otherwise printed as text
    bool extraLines = false; // EXTL becomes "@40F"; otherwise dropped
    // FUNC,N3 is "8F" and FUNC,N8 is "3F" (a FUNC without a number is
    // dropped); otherwise the conversion library translates FUNC.
    bool swapsKeys3And8 = false;
    // RECO is translated by Velmar itself, not by the conversion library.
    bool creditRecoveryByDriver = false;
    CashMovement cashMovement = CashMovement::AsTranslated;

    // --- How the link talks to it --------------------------------------
    int defaultTcpPort = 9100; // when the port field is left empty
    Echo echo = Echo::PerByte;
    // What a host's "25F" (void the open receipt) is sent as; empty: as written.
    QByteArray receiptVoid{};
    SerialAnswer serialAnswer = SerialAnswer::None;
    // SR_OUT's TIME and DATE lines are read from its closing answer.
    bool infoLinesFromFooter = false;
    // Its closing answer has " RT" after the time (28 bytes in all).
    bool footerWithRt = false;
    // The request that asks for the last receipt's number; empty when the
    // family cannot be asked.
    QByteArray numberRequest{};
    // Its answer has the closing answer's layout (the number ends three bytes
    // before ETX); otherwise the number follows " N".
    bool numberAsInFooter = false;
    // The request whose answer tells the registration number (for the
    // configuration dump); empty when the family cannot tell it.
    QByteArray identityRequest{};
    // Cancels the receipt in progress: the clear key, then the void key.
    QByteArray cancel = "Kk";
};

// The row of family 0-6 (family 0 for any other number).
const EcrFamily& ecrFamily(int index);

} // namespace velmar
