#include "convert/SlNormalizer.h"

#include "common/Fault.h"
#include "common/TextRules.h"

#include <array>
#include <vector>

namespace velmar {

namespace {

using text::leadingNumber;
using text::numberText;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    std::size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
}

// Plain-letter replacements for description text, by Windows-1252 byte value.
// Applied after upper-casing, so an entry for a small letter only acts on
// bytes that upper-casing leaves alone.
using ReplacementTable = std::array<const char*, 256>;

constexpr ReplacementTable makeReplacements() {
    ReplacementTable t{};
    const auto set = [&t](int code, const char* s) { t[static_cast<std::size_t>(code)] = s; };
    set(128, "E");
    set(130, "e");
    set(133, "a");
    set(135, "c");
    set(136, "e");
    set(138, "e");
    set(141, "i");
    set(149, "o");
    set(151, "u");
    set(156, "L");
    set(192, "A");
    set(193, "A");
    set(195, "E");
    set(200, "E");
    set(201, "E");
    set(204, "I");
    set(205, "I");
    set(210, "O");
    set(211, "O");
    set(217, "U");
    set(218, "U");
    set(224, "a");
    set(225, "a");
    set(232, "e");
    set(233, "e");
    set(236, "i");
    set(237, "i");
    set(242, "o");
    set(243, "o");
    set(245, " ");
    set(248, " ");
    set(249, "u");
    set(250, "u");
    set('&', "e");
    set(228, "ae");
    set(196, "AE");
    set(246, "oe");
    set(214, "OE");
    set(252, "ue");
    set(220, "UE");
    set('\t', ""); // tabs vanish from descriptions
    // Texts stand in double quotes in register commands: a double quote of
    // the host's would end them early, so no text keeps one.
    set('"', "'");
    return t;
}

constexpr ReplacementTable kReplacements = makeReplacements();

void plainLetters(std::string& field) {
    bool any = false;
    for (char c : field) {
        if (kReplacements[static_cast<unsigned char>(c)] != nullptr) {
            any = true;
            break;
        }
    }
    if (!any) {
        return;
    }
    std::string out;
    out.reserve(field.size() + 8);
    for (char c : field) {
        const char* r = kReplacements[static_cast<unsigned char>(c)];
        if (r != nullptr) {
            out.append(r);
        } else {
            out.push_back(c);
        }
    }
    field.swap(out);
}

// Gives a decimal text exactly `places` decimals (pads with zeros or cuts),
// when it has a decimal point at all.
void fixDecimals(std::string& value, std::size_t places) {
    const std::size_t point = value.find('.');
    if (point == std::string::npos) {
        return;
    }
    const std::size_t have = value.size() - point - 1;
    if (have < places) {
        value.append(places - have, '0');
    } else {
        value.resize(point + 1 + places);
    }
}

bool isOneOf(std::string_view kw, std::initializer_list<std::string_view> words) {
    for (auto w : words) {
        if (kw == w) {
            return true;
        }
    }
    return false;
}

// Trimming, upper case, digit filter and number form of a field without ":".
void normalizeDataField(std::string& field, std::string_view kw) {
    text::toUpperInPlace(field);
    const char tag = field[0];

    const bool exempt = (tag == 'C' && (kw == "PLUD" || kw == "LOTT")) ||
                        (tag == '>' && kw == "NDCR") || kw == "DELD";
    if (!exempt) {
        std::size_t w = 1;
        for (std::size_t r = 1; r < field.size(); ++r) {
            if (isDigit(field[r]) || field[r] == '.') {
                field[w++] = field[r];
            }
        }
        field.resize(w);
        if (w == 1 && tag != 'R' && tag != 'S') {
            field.push_back('1');
        }
    }

    const std::string_view value = std::string_view(field).substr(1);
    if (kw == "PLUD" && tag == 'C') {
        return;
    }
    if ((kw == "PLUD" || kw == "SALE") && (tag == 'Q' || tag == 'N' || tag == 'P')) {
        std::string number = numberText(leadingNumber(value));
        if (tag == 'Q') {
            fixDecimals(number, 3);
        }
        field.resize(1);
        field += number;
        return;
    }
    if (isOneOf(kw, {"MOST", "DISC", "DOST", "MAGG"}) && tag == '%') {
        std::string number = numberText(leadingNumber(value));
        fixDecimals(number, 2);
        field.resize(1);
        field += number;
        return;
    }
    if (!isOneOf(kw, {"NDCR", "LOTT", "DELD", "CLER"}) && (tag == 'V' || tag == 'N' || tag == 'C')) {
        std::string number = numberText(leadingNumber(value));
        field.resize(1);
        field += number;
    }
}

// Text treatment of a field that starts with ":".
void normalizeTextField(std::string& field, std::int16_t maxDescrLen) {
    replaceAll(field, "TOTALE", "TOT.  ");
    replaceAll(field, "totale", "tot.  ");
    text::toUpperInPlace(field);
    replaceAll(field, "TOTALE", "TOT.  ");

    plainLetters(field);

    const int keep = maxDescrLen + 1; // the ":" and the text
    if (keep < 0) {
        throw Fault(faultno::InvalidCall);
    }
    if (field.size() > static_cast<std::size_t>(keep)) {
        field.resize(static_cast<std::size_t>(keep));
    }
    if (field == ":") {
        field.push_back(' ');
    }
}

} // namespace

std::string NormalizeSlLine(std::string_view sLine, std::int16_t MaxDescrLen) {
    if (sLine.empty()) {
        return {};
    }

    // Split at every comma: a comma inside a description splits it too.
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = sLine.find(',', from);
        fields.emplace_back(sLine.substr(from, comma == std::string_view::npos ? sLine.npos : comma - from));
        if (comma == std::string_view::npos) {
            break;
        }
        from = comma + 1;
    }

    std::string& keyword = fields[0];
    if (keyword.size() > 4) {
        keyword.resize(4);
    }
    text::toUpperInPlace(keyword);

    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::string& field = fields[i];
        if (field.empty()) {
            continue;
        }
        const std::size_t colon = field.find(':');
        if (colon != std::string::npos) {
            field.erase(0, colon);
            normalizeTextField(field, MaxDescrLen);
        } else {
            field = std::string(text::trimBlanks(field));
            // A field of blanks only has no tag left: it vanishes like an empty one.
            if (!field.empty()) {
                normalizeDataField(field, keyword);
            }
        }
    }

    // Empty fields vanish with their comma; every field but the array's last
    // is followed by a comma.
    std::string out;
    out.reserve(sLine.size() + 8);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].empty()) {
            continue;
        }
        out += fields[i];
        if (i + 1 < fields.size()) {
            out.push_back(',');
        }
    }
    if (out.find(';') == std::string::npos) {
        out.push_back(';');
    }
    return out;
}

} // namespace velmar
