// Fuzzes a whole conversion: the input becomes a receipt file (SR_DATI.001) in
// a data directory made once, SlConverter::ConvertSlFile converts it with the
// real qarn_slm1 loaded from the build's bin folder, and the outcome is
// checked:
//   - the result is 0 or 1 and matches the outcome;
//   - Converted: XON.txt exists, holds 1 to kMaxCommands lines, every line ends
//     with CR LF and holds no other CR or LF and is not empty, and
//     the payment line count the link gets equals the number of written
//     lines that are payment lines (isPaymentLine, tested on its own in
//     tst_converter); the receipt is within kMaxReceiptBytes and holds no control
//     byte but tabs and line ends;
//   - Refused: XON.txt is left well-formed as far as it was written, with at
//     most kMaxCommands lines;
//   - Empty: no XON.txt; Failed: the receipt is refused all the same;
//   - every command holds at most one quoted text (at most two double
//     quotes), and no double quote of the host's reaches a command: the
//     receipt with every double quote outside READ lines made an apostrophe
//     converts to the very same result and bytes;
//   - the receipt file and the table files are left as they were.
//
// Input layout: four header bytes, each read as (byte - '0') so seeds can be
// plain text, then the receipt.
//   h0  register family: value % 7
//   h1  department/VAT tables: value % 6
//         0 good tables (gift and voucher departments found)
//         1 Tb-Reparti.xml cut short at h3/256 of its length
//         2 Tb-Iva.xml cut short at h3/256 of its length
//         3 both from the input: receipt, then a line "--8<--", the
//           department table, another "--8<--" line, the VAT table
//         4 no table files
//         5 the default tables (no department flagged: lookups find nothing)
//   h2  maximum description length text: 0 "30", 1-15 "18".."32", 16 "abc",
//       254 "99999", 255 "-3", otherwise (value - 17) % 201
//   h3  the receipt repeated up to 6: 16 kB, 7: 200 kB, 8: 1.1 MB, and at
//       most 33000 lines (a 1 MB line when it holds no line end, more
//       commands than a receipt may hold when it does); other values: as
//       given
//
// READ lines name a file to create. The converter refuses names with a
// folder in them; "/" in them is replaced by "_" all the same, so that a
// fault of that rule can never empty a file outside the data directory of
// the machine running the fuzzer.

#include "common/Cp1252.h"
#include "common/OperatorUi.h"
#include "common/TextRules.h"
#include "convert/CommandFixes.h"
#include "convert/Mod_SLParser.h"
#include "FuzzCheck.h"
#include "tables/DepartmentTables.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>
#include <string_view>

using namespace velmar;

namespace {

struct Setup {
    QTemporaryDir dir;
    QString dataDir;
    ConversionLibrary library;
};

Setup* setup = nullptr;

// Departments 1..9 with VAT positions 1,2,3,1,2,3,...; 4-6 take vouchers,
// 7-9 take gifts; 10 has an empty IdIva, 11 has IdIva 0.
QByteArray departmentTable(bool flagged) {
    QByteArray x = "<?xml version='1.0' encoding='UTF-8'?>\n<TabReparti>\n";
    for (int k = 1; k <= 11; ++k) {
        const QByteArray id = QByteArray::number(k).rightJustified(2, '0');
        const QByteArray vat =
            k == 10 ? QByteArray() : QByteArray::number(k == 11 ? 0 : (k - 1) % 3 + 1);
        const bool gift = flagged && k >= 7 && k <= 9;
        const bool voucher = flagged && k >= 4 && k <= 6;
        x += " <Reparto><Id>" + id + "</Id><Descrizione>Reparto n. " + id +
             "</Descrizione><FlagOmaggio>" + (gift ? "True" : "False") +
             "</FlagOmaggio><FlagBuono>" + (voucher ? "True" : "False") + "</FlagBuono><IdIva>" +
             vat + "</IdIva><Scelto>True</Scelto></Reparto>\n";
    }
    return x + "</TabReparti>\n";
}

QByteArray vatTable() {
    QByteArray x = "<?xml version='1.0' encoding='UTF-8'?>\n<TbIva>\n";
    const char* const rates[] = {"4.00", "10.00", "22.00"};
    for (int k = 1; k <= 3; ++k) {
        const QByteArray id = QByteArray::number(k).rightJustified(2, '0');
        x += " <Aliquota><Id>" + id + "</Id><Descrizione>Aliquota " + rates[k - 1] +
             "% </Descrizione><Percentuale>" + rates[k - 1] +
             "</Percentuale><Tipo>1</Tipo></Aliquota>\n";
    }
    return x + "</TbIva>\n";
}

// Writes a file of the data directory, or removes it when it is not `present`.
void putFile(const QString& name, const QByteArray& bytes, bool present = true) {
    QFile f(QDir(setup->dataDir).filePath(name));
    if (!present) {
        f.remove();
    } else if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzz_convert: cannot write %s\n", qPrintable(f.fileName()));
        std::abort();
    }
}

// Every file of the data directory goes (READ lines create files there).
void clearDataDir() {
    QDir dir(setup->dataDir);
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        dir.remove(name);
    }
}

unsigned headerValue(const std::uint8_t* data, std::size_t size, std::size_t i) {
    const std::uint8_t b = i < size ? data[i] : '0';
    return static_cast<std::uint8_t>(b - '0');
}

QString maxLenText(unsigned v) {
    // 99999: beyond 16 bits.
    const char* const odd = v == 0 ? "30" : v == 16 ? "abc" : v == 254 ? "99999" : v == 255 ? "-3" : nullptr;
    return odd ? QString::fromLatin1(odd) : QString::number(v <= 15 ? 17 + v : (v - 17) % 201);
}

// Replaces `from` by `to` in the READ lines (inRead) or in the other lines;
// true when the receipt has a READ line.
bool replaceInLines(QByteArray& receipt, bool inRead, char from, char to) {
    bool any = false;
    for (qsizetype start = 0, end = 0; start < receipt.size(); start = end + 1) {
        for (end = start; end < receipt.size() && receipt[end] != '\r' && receipt[end] != '\n';) {
            ++end;
        }
        const bool read = text::startsWithNoCase(
            std::string_view(receipt.constData() + start, static_cast<std::size_t>(end - start)), "READ");
        any = any || read;
        if (read == inRead) {
            std::replace(receipt.begin() + start, receipt.begin() + end, from, to);
        }
    }
    return any;
}

bool hasControlByte(const QByteArray& receipt) {
    return std::any_of(receipt.begin(), receipt.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F;
    });
}

struct OutputFile {
    QByteArray bytes;
    std::size_t commands = 0;
    long payments = 0;
};

// Checks the line structure of XON.txt and counts its commands and payment lines.
OutputFile checkOutputFile(const QString& path) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    OutputFile o{f.readAll()};
    const std::string_view all(o.bytes.constData(), static_cast<std::size_t>(o.bytes.size()));
    std::size_t pos = 0;
    while (pos < all.size()) {
        const std::size_t lf = all.find('\n', pos);
        FUZZ_CHECK(lf != std::string_view::npos); // the last line has its CR LF too
        FUZZ_CHECK(lf > pos && all[lf - 1] == '\r');
        const std::string_view command = all.substr(pos, lf - 1 - pos);
        FUZZ_CHECK(!command.empty());
        FUZZ_CHECK(command.find('\r') == std::string_view::npos);
        FUZZ_CHECK(std::count(command.begin(), command.end(), '"') <= 2);
        ++o.commands;
        if (isPaymentLine(command)) {
            ++o.payments;
        }
        pos = lf + 1;
    }
    FUZZ_CHECK(o.commands <= SlConverter::kMaxCommands);
    return o;
}

qint64 fileSize(const QString& name) {
    return QFileInfo(QDir(setup->dataDir).filePath(name)).size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setup = new Setup;
    if (!setup->dir.isValid()) {
        std::fprintf(stderr, "fuzz_convert: cannot create a temporary folder\n");
        std::abort();
    }
    setup->dataDir = setup->dir.path();
    LoggingOperatorUi ui(nullptr);
    if (!ProbeConversionLibrary(setup->library, QStringLiteral(VELMAR_FUZZ_BIN_DIR), ui)) {
        std::fprintf(stderr, "fuzz_convert: qarn_slm1 not usable in %s: %s\n", VELMAR_FUZZ_BIN_DIR,
                     qPrintable(setup->library.errorString()));
        std::abort();
    }
    std::atexit([] {
        delete setup; // removes the data directory
        setup = nullptr;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int family = static_cast<int>(headerValue(data, size, 0) % 7);
    const unsigned tablesMode = headerValue(data, size, 1) % 6;
    const QString maxLen = maxLenText(headerValue(data, size, 2));
    const unsigned h3 = headerValue(data, size, 3);
    const std::size_t skip = size < 4 ? size : 4;
    QByteArray receipt(reinterpret_cast<const char*>(data + skip),
                       static_cast<qsizetype>(size - skip));

    static const QByteArray goodDepartments = departmentTable(true), goodVat = vatTable();
    static const QByteArray defaultDepartments = departmentTable(false);
    QByteArray departments = goodDepartments;
    QByteArray vat = goodVat;
    bool withDepartments = true;
    bool withVat = true;
    switch (tablesMode) {
    case 1:
        departments.truncate(departments.size() * qsizetype(h3) / 256);
        break;
    case 2:
        vat.truncate(vat.size() * qsizetype(h3) / 256);
        break;
    case 3: {
        static const QByteArray cut = "\n--8<--\n";
        const qsizetype first = receipt.indexOf(cut);
        const qsizetype second = first < 0 ? -1 : receipt.indexOf(cut, first + cut.size());
        withDepartments = first >= 0;
        withVat = second >= 0;
        if (withDepartments) {
            departments =
                receipt.mid(first + cut.size(), second < 0 ? -1 : second - first - cut.size());
            vat = second < 0 ? QByteArray() : receipt.mid(second + cut.size());
            receipt.truncate(first);
        }
        break;
    }
    case 4:
        withDepartments = withVat = false;
        break;
    case 5:
        departments = defaultDepartments;
        break;
    default:
        break;
    }

    if (h3 >= 6 && h3 <= 8 && !receipt.isEmpty()) {
        // Up to the size, or to 33000 line ends: enough to pass the 16-bit
        // line count, few enough that an instrumented run stays in seconds.
        const qsizetype target = h3 == 6 ? 16 * 1000 : h3 == 7 ? 200 * 1000 : 1100 * 1000;
        const QByteArray unit = receipt;
        const qsizetype unitLineEnds = unit.count('\n') + unit.count('\r') - unit.count("\r\n");
        qsizetype lineEnds = unitLineEnds;
        receipt.reserve(target + unit.size());
        while (receipt.size() < target && lineEnds < 33000) {
            receipt += unit;
            lineEnds += unitLineEnds;
        }
    }
    const bool hasRead = replaceInLines(receipt, true, '/', '_');

    const QString input = QStringLiteral("SR_DATI.001");
    const QString departmentFile = QString::fromLatin1(DepartmentTables::kDepartmentFile);
    const QString vatFile = QString::fromLatin1(DepartmentTables::kVatFile);
    putFile(input, receipt);
    putFile(departmentFile, departments, withDepartments);
    putFile(vatFile, vat, withVat);

    const ConverterSettings settings{family, cp1252::encode(maxLen).toStdString(), "99MEX012345"};
    LoggingOperatorUi ui(nullptr);
    DepartmentTables tables(ui);
    tables.setDataDirectory(setup->dataDir);
    const std::int16_t channel = 1;
    SlConverter converter({tables, setup->library, ui, setup->dataDir, channel});
    const qint64 departmentSize = withDepartments ? departments.size() : 0;
    const qint64 vatSize = withVat ? vat.size() : 0;

    const ConversionResult link =
        converter.ConvertSlFile(QDir(setup->dataDir).filePath(input), settings);
    const std::int16_t result = link.code;
    const ConversionOutcome outcome = converter.lastOutcome();
    const QString output = converter.outputPath();

    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(outcome != ConversionOutcome::MissingInput);
    FUZZ_CHECK((result == 1) ==
               (outcome == ConversionOutcome::Refused || outcome == ConversionOutcome::Failed));
    FUZZ_CHECK((outcome == ConversionOutcome::Empty) == receipt.isEmpty());
    FUZZ_CHECK(outcome == ConversionOutcome::Converted || !converter.lastReason().isEmpty());
    FUZZ_CHECK(fileSize(input) == receipt.size());
    FUZZ_CHECK(fileSize(departmentFile) == departmentSize);
    FUZZ_CHECK(fileSize(vatFile) == vatSize);
    OutputFile written;
    switch (outcome) {
    case ConversionOutcome::Converted:
        FUZZ_CHECK(QFileInfo::exists(output));
        FUZZ_CHECK(link.outputPath == output);
        FUZZ_CHECK(receipt.size() <= SlConverter::kMaxReceiptBytes);
        FUZZ_CHECK(!hasControlByte(receipt));
        written = checkOutputFile(output);
        FUZZ_CHECK(written.commands >= 1);
        FUZZ_CHECK(written.payments == link.paymentLines);
        break;
    case ConversionOutcome::Refused:
        FUZZ_CHECK(QFileInfo::exists(output));
        FUZZ_CHECK(link.outputPath.isEmpty());
        written = checkOutputFile(output);
        break;
    case ConversionOutcome::Empty:
        FUZZ_CHECK(!QFileInfo::exists(output));
        FUZZ_CHECK(link.outputPath.isEmpty());
        break;
    case ConversionOutcome::Failed:
        FUZZ_CHECK(link.outputPath.isEmpty());
        break;
    case ConversionOutcome::MissingInput:
        break;
    }

    // The host's double quotes count for nothing: as apostrophes they give
    // the same commands, so none of them ended up as a double quote.
    QByteArray plain = receipt;
    replaceInLines(plain, false, '"', '\'');
    if (plain != receipt) {
        putFile(input, plain);
        SlConverter again({tables, setup->library, ui, setup->dataDir, channel});
        FUZZ_CHECK(again.ConvertSlFile(QDir(setup->dataDir).filePath(input), settings).code ==
                   result);
        FUZZ_CHECK(again.lastOutcome() == outcome);
        if (outcome == ConversionOutcome::Converted || outcome == ConversionOutcome::Refused) {
            FUZZ_CHECK(checkOutputFile(output).bytes == written.bytes);
        }
    }

    if (hasRead) {
        clearDataDir();
    }
    return 0;
}
