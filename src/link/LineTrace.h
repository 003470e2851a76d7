#pragma once
// The trace lines every exchange writes: what was sent, what came back (in
// ReplyBuffer), and a fault with the procedure that met it.

#include "channel/TraceLog.h"
#include "link/LinkState.h"

namespace velmar {

class LineTrace {
public:
    LineTrace(TraceLog& trace, const LinkState& link) : trace_(trace), link_(link) {}
    void sent(const QByteArray& s) { trace_.line(" --> " + s); }
    void reply(bool withLength) {
        const QByteArray& r = link_.ReplyBuffer;
        trace_.line(withLength ? " <-- " + r + " , " + QByteArray::number(r.size()) : " <-- " + r);
    }
    void fault(const Fault& f, const char* procedure) { trace_.fault(f, procedure); }
    void line(const QByteArray& text) { trace_.line(text); }

private:
    TraceLog& trace_;
    const LinkState& link_;
};

} // namespace velmar
