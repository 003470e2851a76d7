#include "SlmMapping.h"

#include "common/Fault.h"
#include "common/TextRules.h"

#include <optional>
#include <vector>

namespace qarn {

namespace {

using velmar::text::leadingNumber;

constexpr std::size_t kMaxCommand = 63;
constexpr long long kMaxAmount = 999999999; // cents
constexpr int kMaxDepartment = 99;

Answer error(std::string reason) {
    std::string text = "ERRO: " + reason;
    if (text.size() > kMaxCommand) {
        text.resize(kMaxCommand);
    }
    return Answer{std::move(text), false};
}

// A normalised line taken apart: keyword and tagged fields (":" for text).
class SlLine {
public:
    explicit SlLine(std::string_view line) {
        std::size_t from = 0;
        bool first = true;
        for (;;) {
            const std::size_t comma = line.find(',', from);
            std::string_view piece = line.substr(from, comma == line.npos ? line.npos : comma - from);
            const std::size_t semicolon = piece.find(';');
            if (semicolon != piece.npos) {
                piece = piece.substr(0, semicolon); // ";" ends the value it stands in
            }
            if (first) {
                keyword_ = velmar::text::toUpper(piece.substr(0, 4));
                first = false;
            } else if (!piece.empty()) {
                fields_.push_back(piece);
            }
            if (comma == line.npos) {
                break;
            }
            from = comma + 1;
        }
    }

    const std::string& keyword() const { return keyword_; }

    // The value of the first field with this tag (after the tag character).
    std::optional<std::string_view> get(char tag) const {
        for (std::string_view f : fields_) {
            if (velmar::text::upperByte(f[0]) == tag) {
                return f.substr(1);
            }
        }
        return std::nullopt;
    }

private:
    std::string keyword_;
    std::vector<std::string_view> fields_;
};

bool allDigits(std::string_view s) {
    if (s.empty()) {
        return false;
    }
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Digits with at most one decimal point and at least one digit.
bool isDecimal(std::string_view s) {
    return velmar::text::isNumeric(s) && s.find_first_of("+- ") == s.npos;
}

// An amount in cents: whole digits, at most nine.
std::optional<std::string> amountCents(std::string_view v) {
    if (!allDigits(v)) {
        return std::nullopt;
    }
    const double value = leadingNumber(v);
    if (value > kMaxAmount) {
        return std::nullopt;
    }
    return velmar::text::numberText(value);
}

// A price: whole cents, or currency units with a decimal point.
std::optional<std::string> priceCents(std::string_view p) {
    if (!isDecimal(p)) {
        return std::nullopt;
    }
    const double units = leadingNumber(p);
    const double cents = p.find('.') == p.npos ? units : velmar::text::roundHalfEven(units * 100);
    if (cents > kMaxAmount) {
        return std::nullopt;
    }
    return velmar::text::numberText(cents);
}

std::optional<int> wholeNumber(std::string_view s, int low, int high) {
    if (!allDigits(s) || s.size() > 5) {
        return std::nullopt;
    }
    const int n = static_cast<int>(leadingNumber(s));
    if (n < low || n > high) {
        return std::nullopt;
    }
    return n;
}

std::string quotedText(std::string_view text) {
    std::string q = "\"";
    for (char c : text) {
        q.push_back(c == '"' ? '\'' : c);
    }
    q.push_back('"');
    return q;
}

// SALE: [description] [quantity*] [amountH] departmentR. Without a price the
// register takes the department's preset price.
Answer sale(const SlLine& l) {
    std::string out;
    if (auto d = l.get(':')) {
        out += quotedText(*d);
    }
    int department = 1;
    if (auto n = l.get('N')) {
        auto dep = wholeNumber(*n, 1, kMaxDepartment);
        if (!dep) {
            return error("reparto non valido (N" + std::string(*n) + ")");
        }
        department = *dep;
    }
    if (auto q = l.get('Q')) {
        if (!isDecimal(*q) || leadingNumber(*q) <= 0 || leadingNumber(*q) > 99999.999) {
            return error("quantita' non valida (Q" + std::string(*q) + ")");
        }
        out += std::string(*q) + "*";
    }
    if (auto p = l.get('P')) {
        auto cents = priceCents(*p);
        if (!cents) {
            return error("prezzo non valido (P" + std::string(*p) + ")");
        }
        out += *cents + "H";
    }
    out += std::to_string(department) + "R";
    return Answer{out};
}

// Payment lines: [amountH] numberT.
Answer payment(const SlLine& l, int number) {
    std::string out;
    if (auto v = l.get('V')) {
        auto cents = amountCents(*v);
        if (!cents) {
            return error("importo non valido (V" + std::string(*v) + ")");
        }
        out += *cents + "H";
    }
    return Answer{out + std::to_string(number) + "T"};
}

// Cash in (10M) and cash out (11M): the amount and how it is paid.
Answer cashMovement(const SlLine& l, const char* code) {
    auto v = l.get('V');
    if (!v) {
        return error("manca l'importo (V)");
    }
    auto cents = amountCents(*v);
    if (!cents) {
        return error("importo non valido (V" + std::string(*v) + ")");
    }
    int how = 1;
    if (auto n = l.get('N')) {
        auto paid = wholeNumber(*n, 1, 5);
        if (!paid) {
            return error("pagamento non previsto (N" + std::string(*n) + ")");
        }
        how = *paid;
    }
    return Answer{std::string(code) + *cents + "H" + std::to_string(how) + "T"};
}

// Discounts and surcharges. The amount mark "|" lets the driver write "*"
// after a percentage and "H" after an amount.
Answer modifier(const SlLine& l, bool onSubtotal, const char* percentCode, const char* amountCode) {
    const std::string subtotal = onSubtotal ? "=" : "";
    if (auto pct = l.get('%')) {
        if (!isDecimal(*pct) || leadingNumber(*pct) <= 0 || leadingNumber(*pct) > 100) {
            return error("percentuale non valida (%" + std::string(*pct) + ")");
        }
        return Answer{subtotal + std::string(*pct) + "|" + percentCode};
    }
    if (auto v = l.get('V')) {
        auto cents = amountCents(*v);
        if (!cents) {
            return error("importo non valido (V" + std::string(*v) + ")");
        }
        return Answer{subtotal + *cents + "|" + amountCode};
    }
    return error("manca la percentuale (%) o l'importo (V)");
}

Answer convert(const SlLine& l) {
    const std::string& k = l.keyword();
    if (velmar::text::trimBlanks(k).empty()) {
        return Answer{};
    }
    if (k == "SALE") return sale(l);
    if (k == "CASH") return payment(l, 1);
    if (k == "DEPO") return cashMovement(l, "10M");
    if (k == "PREL") return cashMovement(l, "11M");
    if (k == "DISC") return modifier(l, false, "1M", "3M");
    if (k == "DOST") return modifier(l, true, "2M", "4M");
    if (k == "MAGG") return modifier(l, false, "5M", "7M");
    if (k == "MOST") return modifier(l, true, "6M", "8M");
    if (k == "CLER") return Answer{"K"};
    if (k == "OPEN") return Answer{"a"};
    if (k == "ADDS") return Answer{"="};
    if (k == "PRNT") return Answer{"\" \"@"}; // a blank line
    if (k == "EXTL") return Answer{};           // no text: nothing to print
    if (k == "QRCO") {
        // Without a QR code command the content is printed as text.
        auto content = l.get(':');
        if (!content || velmar::text::trimBlanks(*content).empty()) {
            return Answer{};
        }
        return Answer{quotedText(*content) + "@"};
    }
    if (k == "RECO") {
        // Credit recovery: a non-fiscal document with one line.
        auto v = l.get('V');
        if (v && allDigits(*v)) {
            return Answer{"j\"RECUPERO CREDITO: " + std::string(*v) + "\"@J"};
        }
        return Answer{"j\"RECUPERO CREDITO\"@J"};
    }
    if (k == "LOTT") {
        return error("codice lotteria non di 8 caratteri");
    }
    if (k == "TEND") {
        auto n = l.get('N');
        if (!n) {
            return payment(l, 1); // no payment number: cash
        }
        return error("pagamento non previsto (N" + std::string(*n) + ")");
    }
    if (k == "FUNC") {
        auto n = l.get('N');
        auto key = n ? wholeNumber(*n, 1, 99) : std::nullopt;
        if (!key) {
            return error("tasto funzione non valido");
        }
        return Answer{std::to_string(*key) + "F"};
    }
    if (k == "NDCR") {
        return error("NDCR senza data del documento (D)");
    }
    return error("comando " + k + " sconosciuto");
}

} // namespace

Answer convertSlLine(std::string_view line) {
    Answer a;
    try {
        a = convert(SlLine(line));
    } catch (const velmar::Fault&) {
        return error("numero fuori limite");
    }
    if (a.command.size() > kMaxCommand) {
        return error("comando troppo lungo per il registratore");
    }
    return a;
}

} // namespace qarn
