// The link's parts wired together.

#include "link/EcrLink.h"

namespace velmar {

EcrLink::EcrLink(LinkContext context, QObject* parent)
    : QObject(parent), ctx_(context), trace_(ctx_.trace, ctx_.link), Timer1(ctx_.runtime, ctx_.link),
      serialLine(SerialLineContext{ctx_.runtime, ctx_.link, ctx_.job, trace_, ctx_.serial, Timer1,
                                   ctx_.ui, [this](const QString& what) { emit portInUse(what); }}),
      tcpLine(TcpLineContext{ctx_.runtime, ctx_.link, ctx_.job, trace_, ctx_.socket, Timer1, ctx_.ui,
                             ctx_.settings, ctx_.status, [this] { actions.connectionRefused(); }}),
      dialogue(DialogueContext{ctx_.runtime, ctx_.link, ctx_.job, trace_, ctx_.settings, ctx_.ui,
                               ctx_.exit, [this]() -> RegisterLine& { return line(); }, serialLine}),
      actions(LinkActionsContext{ctx_.runtime, ctx_.link, ctx_.job, trace_, serialLine, tcpLine,
                                 ctx_.ui, ctx_.settings, ctx_.status, ctx_.Timer21}) {}

EcrLink::~EcrLink() = default;

RegisterLine& EcrLink::line() {
    if (ctx_.settings.linkSettings().serialMode) {
        return serialLine;
    }
    return tcpLine;
}

} // namespace velmar
