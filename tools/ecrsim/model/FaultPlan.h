#pragma once
// Which fault, if any, strikes each command. Deterministic: a rule "@N" strikes
// the N-th command; the "%P" rules share one draw per command from a
// std::mt19937_64 seeded with the configured seed, so a run with the same
// seed and the same commands strikes the same commands.

#include "RegisterModel.h"

#include <optional>
#include <QList>
#include <random>

namespace velmar::sim {

class FaultPlan {
public:
    FaultPlan(QList<FaultRule> rules, std::uint64_t seed);

    // The fault for command `sequence` (1-based), at most one: the first
    // "@N" rule for it, otherwise the "%P" rule the draw falls in (the rules'
    // probabilities are laid end to end on [0, 1)). Call once per command.
    std::optional<FaultRule> decide(int sequence);

    // A refuse rule that applies to every command: TCP connections are refused.
    bool refusesEverything() const;

private:
    QList<FaultRule> rules_;
    std::mt19937_64 rng_;
};

} // namespace velmar::sim
