#include "link/ReplyTimer.h"

namespace velmar {

ReplyTimer::ReplyTimer(Runtime& runtime, LinkState& link)
    : Timer1_(runtime.createTimer([&link] {
          if (link.ReplyExtraTicks > 0) {
              --link.ReplyExtraTicks;
          }
          if (link.ReplyExtraTicks == 0) {
              link.ReplyTimedOut = true;
          }
      })) {}

void ReplyTimer::start(int ms) {
    Timer1_->setInterval(ms);
    Timer1_->start();
}

void ReplyTimer::stop() {
    Timer1_->stop();
}

bool ReplyTimer::active() const {
    return Timer1_->isActive();
}

} // namespace velmar
