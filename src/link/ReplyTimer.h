#pragma once
// Timer1, the reply timer both lines wait on: it lets ReplyExtraTicks ticks
// pass, then raises ReplyTimedOut, and keeps ticking until the waiting
// routine stops it.

#include "common/Runtime.h"
#include "link/LinkState.h"

#include <memory>

namespace velmar {

class ReplyTimer {
public:
    ReplyTimer(Runtime& runtime, LinkState& link);
    void start(int ms);
    void stop();
    bool active() const;

private:
    std::unique_ptr<RuntimeTimer> Timer1_;
};

} // namespace velmar
