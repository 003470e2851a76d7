#pragma once
// The dialogue with the register over a RegisterLine: a translated receipt
// played line by line (RunEcrDialogue), the register's closing answer read
// into the host's SR_OUT (the TIME and DATE lines, the receipt number), the
// receipt number asked, and after a job what it left on the register
// (settleReceipt, ReceiptSettlement.cpp). It knows the families' answers,
// not how the bytes travel.

#include "channel/JobState.h"
#include "common/LineFile.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "link/LineTrace.h"
#include "link/LinkSettings.h"
#include "link/LinkState.h"
#include "link/ReceiptPlan.h"
#include "link/RegisterLine.h"
#include "link/SerialLine.h"

#include <functional>
#include <optional>
#include <vector>

namespace velmar {

struct DialogueContext {
    Runtime& runtime;
    LinkState& link;
    JobState& job;
    LineTrace& trace;
    const LinkSettingsSource& settings;
    OperatorUi& ui;
    ProgramExit& exit;
    // The line the settings choose now (serial or TCP).
    std::function<RegisterLine&()> line;
    // The serial line, for the status a serial family is asked after a receipt.
    SerialLine& serial;
};

class EcrDialogue {
public:
    // Results Velmar adds to those of the transmission.
    static constexpr std::int16_t kOutcomeUnknown = -13; // may have printed: look at the register

    explicit EcrDialogue(DialogueContext context) : ctx_(std::move(context)) {}

    // Plays the receipt in `path`, its answer into the job's SR_OUT.
    bool RunEcrDialogue(const QString& path);
    // The receipt about to be played (its plan), and where its answer goes.
    void setReceipt(const std::vector<QByteArray>& lines) { plan_ = ReceiptPlan(lines); }
    void setOutput(LineWriter* output) { output_ = output; }
    // Plays `lines` into the register: true when the register took every one.
    bool playLines(const std::vector<QByteArray>& lines);
    // One receipt line as the line sends it, a closing frame on the way read.
    bool sendReceiptLine(const QByteArray& s);
    // Tells the job's observer; its answer other than 0 stops the job.
    std::int16_t reachStage(TransmitObserver::Stage stage);

    // --- After a job (ReceiptSettlement.cpp) -------------------------------
    // What the job left on the register, from the dialogue's report: printed
    // (0), not printed with nothing left open (the failure's code), or not
    // known (kOutcomeUnknown). Voids a receipt left open when the link lets it.
    std::int16_t settleReceipt(bool played);
    // Cancels the receipt in progress (the family's cancel); false when the
    // register did not take it.
    bool voidOpenReceipt();
    // The register's last receipt number, where the family can be asked.
    std::optional<int> askReceiptNumber();
    // The receipt number in a register's answer to the family's number request.
    std::optional<int> numberInAnswer(const QByteArray& answer) const;
    // A job Velmar stopped in the middle of (killed, power lost), answered
    // from how far its record says it went: the register is reset, asked
    // where the family can tell, and an open receipt voided.
    std::int16_t settleInterrupted(TransmitObserver::Stage stage);
    // Opens the channel's line and sends the reset: false when the register
    // did not answer it.
    bool resetRegister();
    // Closes what resetRegister opened; the link is free again.
    void releasePort();
    // An idle channel whose register may still hold a receipt open: reset,
    // cancel. True when the cancel was delivered.
    bool sendPendingVoid();

private:
    RegisterLine& line() { return ctx_.line(); }
    LinkSettings settings() const { return ctx_.settings.linkSettings(); }
    bool QueryReceiptNumber();
    std::optional<int> askReceiptNumberOnce();
    // Reads a footer in ReplyBuffer into ClosingNumber (and the observer).
    void noteClosingAnswer(int etx);
    // After a failure: the register's closing answer, where the family sends
    // one, for up to `ms`.
    bool listenForClosingAnswer(int ms);
    // The TIME and DATE lines of SR_OUT from a footer in ReplyBuffer.
    bool writeInfoLinesFromFooter(int stx, int etx, bool family6Time);
    void writeInfoLines(const QByteArray& time, const QByteArray& date, const QByteArray& number,
                        bool blankBeforeComma);
    // A frame met while a receipt line went out: true when it closed the receipt.
    bool closedByFrame(int stx, int etx);
    // Ends the program for a closed port (true); shows any other fault.
    bool dialogueFault(const Fault& fault);
    // Families 1, 3, 5 and 6: the TIME and DATE lines from the register's
    // answer after the receipt; the line's fault when its acknowledgement
    // could not be sent.
    LineFault closingAnswer(int variant, bool serial);

    DialogueContext ctx_;
    ReceiptPlan plan_;          // of the receipt being played
    bool askingNumber_ = false; // the frame now awaited answers a number request
    LineWriter* output_ = nullptr; // SR_OUT, while a dialogue runs
};

} // namespace velmar
