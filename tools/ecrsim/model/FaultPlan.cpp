#include "FaultPlan.h"

#include <utility>

namespace velmar::sim {

namespace {

struct KindName {
    FaultRule::Kind kind;
    const char* name;
};

constexpr KindName kindNames[] = {
    {FaultRule::Kind::NoEcho, "no-echo"},     {FaultRule::Kind::WrongEcho, "wrong-echo"},
    {FaultRule::Kind::LateEcho, "late-echo"}, {FaultRule::Kind::XoffStall, "xoff-stall"},
    {FaultRule::Kind::Drop, "drop"},          {FaultRule::Kind::Refuse, "refuse"},
    {FaultRule::Kind::Garble, "garble"},      {FaultRule::Kind::LostAnswer, "lost-answer"},
    {FaultRule::Kind::PaperOut, "paper-out"}, {FaultRule::Kind::CoverOpen, "cover-open"},
    {FaultRule::Kind::JournalFull, "journal-full"},
    {FaultRule::Kind::JournalNearlyFull, "journal-near-full"},
    {FaultRule::Kind::PowerCycle, "power-cycle"}, {FaultRule::Kind::Split, "split"},
    {FaultRule::Kind::Hang, "hang"},
};

bool takesTime(FaultRule::Kind k) {
    return k == FaultRule::Kind::LateEcho || k == FaultRule::Kind::XoffStall ||
           k == FaultRule::Kind::Drop || k == FaultRule::Kind::PowerCycle ||
           k == FaultRule::Kind::Hang;
}

std::optional<FaultRule> failed(QString* error, const QString& why) {
    if (error) {
        *error = why;
    }
    return std::nullopt;
}

} // namespace

std::optional<FaultRule> FaultRule::parse(const QString& text, QString* error) {
    QString rest = text.trimmed();
    FaultRule rule;
    rule.probability = 1; // without @N or %P: every command

    const qsizetype at = rest.indexOf(QLatin1Char('@'));
    const qsizetype pct = rest.indexOf(QLatin1Char('%'));
    if (at >= 0 && pct >= 0) {
        return failed(error, QStringLiteral("\"%1\": give @N or %P, not both").arg(text));
    }
    if (at >= 0) {
        bool ok = false;
        rule.atCommand = rest.mid(at + 1).toInt(&ok);
        if (!ok || rule.atCommand < 1) {
            return failed(error,
                          QStringLiteral("\"%1\": @N needs a command number from 1").arg(text));
        }
        rule.probability = 0;
        rest.truncate(at);
    } else if (pct >= 0) {
        bool ok = false;
        rule.probability = rest.mid(pct + 1).toDouble(&ok);
        if (!ok || !(rule.probability > 0 && rule.probability <= 1)) {
            return failed(
                error,
                QStringLiteral("\"%1\": %P needs a probability above 0 and at most 1").arg(text));
        }
        rest.truncate(pct);
    }

    QString ms;
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        ms = rest.mid(colon + 1);
        rest.truncate(colon);
    }
    bool known = false;
    for (const KindName& k : kindNames) {
        if (rest == QLatin1String(k.name)) {
            rule.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        return failed(error, QStringLiteral("\"%1\": unknown fault \"%2\"").arg(text, rest));
    }
    if (colon >= 0) {
        bool ok = false;
        const int value = ms.toInt(&ok);
        if (!takesTime(rule.kind)) {
            return failed(error, QStringLiteral("\"%1\": %2 takes no time").arg(text, rest));
        }
        if (!ok || value < 1) {
            return failed(error, QStringLiteral("\"%1\": :ms needs milliseconds from 1").arg(text));
        }
        if (rule.kind == Kind::LateEcho) {
            rule.delayMs = value;
        } else {
            rule.durationMs = value;
        }
    }
    return rule;
}

QString FaultRule::toString() const {
    QString s;
    for (const KindName& k : kindNames) {
        if (k.kind == kind) {
            s = QLatin1String(k.name);
        }
    }
    if (kind == Kind::LateEcho) {
        s += QStringLiteral(":%1").arg(delayMs);
    } else if (takesTime(kind) && durationMs > 0) {
        s += QStringLiteral(":%1").arg(durationMs);
    }
    if (atCommand > 0) {
        s += QStringLiteral("@%1").arg(atCommand);
    } else if (probability < 1) {
        s += QStringLiteral("%%1").arg(probability);
    }
    return s;
}

FaultPlan::FaultPlan(QList<FaultRule> rules, std::uint64_t seed)
    : rules_(std::move(rules)), rng_(seed) {}

std::optional<FaultRule> FaultPlan::decide(int sequence) {
    // 53 random bits as a fraction in [0, 1): the same on every platform.
    const double draw = static_cast<double>(rng_() >> 11) * 0x1.0p-53;
    for (const FaultRule& r : rules_) {
        if (r.atCommand == sequence) {
            return r;
        }
    }
    double edge = 0;
    for (const FaultRule& r : rules_) {
        if (r.atCommand == 0) {
            edge += r.probability;
            if (draw < edge) {
                return r;
            }
        }
    }
    return std::nullopt;
}

bool FaultPlan::refusesEverything() const {
    for (const FaultRule& r : rules_) {
        if (r.kind == FaultRule::Kind::Refuse && r.atCommand == 0 && r.probability >= 1) {
            return true;
        }
    }
    return false;
}

} // namespace velmar::sim
