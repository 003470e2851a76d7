// The link's shared machinery: the reply timer, answer collection and the
// trace lines every send writes.

#include "link/EcrLink.h"

#include "common/Cp1252.h"
#include "common/Fault.h"

namespace velmar {

EcrLink::EcrLink(LinkContext context, QObject* parent) : QObject(parent), ctx_(context) {
    // Timer1: lets ReplyExtraTicks ticks pass, then raises ReplyTimedOut; it
    // keeps ticking until the waiting routine stops it.
    Timer1_ = ctx_.runtime.createTimer([this] {
        LinkState& l = ctx_.link;
        if (l.ReplyExtraTicks > 0) {
            --l.ReplyExtraTicks;
        }
        if (l.ReplyExtraTicks == 0) {
            l.ReplyTimedOut = true;
        }
    });
    connect(&ctx_.socket, &SocketControl::connectEvent, this, &EcrLink::onSocketConnect);
    connect(&ctx_.socket, &SocketControl::dataArrival, this, &EcrLink::onDataArrival);
    connect(&ctx_.socket, &SocketControl::errorEvent, this, &EcrLink::onSocketError);

    // The operator's link actions.
    OperatorPanel& p = ctx_.panel;
    // Actions that send bytes wait for the receipt being printed: "Kk" typed
    // into a receipt's text voids nothing and breaks the receipt.
    const auto unlessBusy = [this](void (EcrLink::*action)()) {
        return [this, action] {
            if (linkBusy()) {
                ctx_.ui.message(QStringLiteral("Stampa in corso: operazione non eseguita, "
                                               "riprovare al termine"));
                return;
            }
            (this->*action)();
        };
    };
    connect(&p.AnnullaSco, &ButtonControl::clicked, this, unlessBusy(&EcrLink::AnnullaSco_Click));
    connect(&p.Command1, &ButtonControl::clicked, this, &EcrLink::Command1_Click);
    connect(&p.cmdResetConn, &ButtonControl::clicked, this, unlessBusy(&EcrLink::cmdResetConn_Click));
    connect(&p.cmdValidateIP, &ButtonControl::clicked, this, &EcrLink::cmdValidateIP_Click);
    // The last clicked channel tick decides the operating mode.
    for (int channel = 1; channel <= 4; ++channel) {
        CheckControl& tick = p.check(channel);
        connect(&tick, &CheckControl::clicked, this,
                [this, &tick] { tick.value() == 1 ? EnterServiceMode() : EnterConfigMode(); });
    }
}

EcrLink::~EcrLink() = default;

bool EcrLink::linkBusy() const {
    return ctx_.link.ExchangeDepth > 0 || ctx_.job.bJobRunning || ctx_.job.bDumpConfActive;
}

void EcrLink::startReplyTimer(int ms) {
    Timer1_->setInterval(ms);
    Timer1_->start();
}

void EcrLink::stopReplyTimer() {
    Timer1_->stop();
}

bool EcrLink::replyTimerActive() const {
    return Timer1_->isActive();
}

void EcrLink::collect(int ms, const std::function<bool()>& done, bool append) {
    LinkState& l = ctx_.link;
    l.ReplyTimedOut = false;
    l.ReplyExtraTicks = 0;
    startReplyTimer(ms);
    if (!append) {
        l.ReplyBuffer.clear();
    }
    try {
        ctx_.runtime.serveEvents(false);
        for (;;) {
            l.ReplyBuffer += ctx_.serial.input();
            if (done() || l.ReplyTimedOut) {
                break;
            }
            ctx_.runtime.serveEvents(true); // sleeps until the port or the timer has news
        }
    } catch (...) {
        stopReplyTimer();
        l.ReplyExtraTicks = 0;
        throw;
    }
    stopReplyTimer();
    l.ReplyExtraTicks = 0;
}

void EcrLink::traceSent(const QByteArray& s) {
    ctx_.trace.line(" --> " + s);
}

void EcrLink::traceReply(bool withLength) {
    const QByteArray& r = ctx_.link.ReplyBuffer;
    ctx_.trace.line(withLength ? " <-- " + r + " , " + QByteArray::number(r.size()) : " <-- " + r);
}

void EcrLink::traceFault(const Fault& fault, const char* procedure) {
    ctx_.trace.fault(fault, procedure);
}

} // namespace velmar
