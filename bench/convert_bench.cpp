// convert_bench: how fast a receipt file is converted, and whether the cost
// grows in proportion to the file.
//
//   convert_bench [LINES] [--family N] [--no-lookups]
//
// Converts LINES lines (default 1,000,000) as receipts of 4,000 lines each,
// as a host can send them (the converter refuses a receipt beyond 5,000
// register commands or 1 MB, and so one beyond the 16-bit payment count),
// one receipt file that cycles through every keyword path of every register
// family: item sales by department with
// whole and decimal prices and the S1/S2/S3 sale types (the department tables
// are set up so gift and voucher lookups succeed), library sales, payments of
// every kind, discounts and surcharges by percentage and by amount, deposits,
// non-fiscal documents with tax codes, display, bar and QR codes, extra lines,
// lottery codes, function keys, surcharges, credit recovery and clear. The
// last two lines refer to and cancel an earlier document (from then on sale
// types are ignored, so they close the receipt). Converting 1/4 and 1/2 of
// the lines shows whether the time grows linearly.
//
// The receipt is converted by SlConverter with the real qarn_slm1 loaded from
// this program's folder, again and again up to the number of lines, three
// times per family; the median is reported.
// --no-lookups leaves the two gift and voucher lines (S3, S2) out of the
// cycle, to show what the department table lookups cost.

#include "BenchOptions.h"
#include "common/OperatorUi.h"
#include "convert/Mod_SLParser.h"
#include "panel/OperatorPanel.h"
#include "tables/DepartmentTables.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <string_view>
#include <vector>

using namespace velmar;

namespace {

// Lines per receipt: within the converter's limits in every family.
constexpr long kReceiptLines = 4000;

// One cycle of the receipt. Lines a family does not translate are dropped or
// go to the library, as in a real job; none is refused in any family.
const char* const kCycle[] = {
    "PLUD,:PANE,P150,N1;",
    "PLUD,:LATTE,P1.5,Q2,N2;",
    "PLUD,:FORMAGGIO,P2.35,Q0.25,N3;",
    "PLUD,:ACQUA,Q3,P50,N1;",
    "PLUD,:RESO,S1,P500,N2;",
    "PLUD,:OMAGGIO,S3,P500,N1;",
    "PLUD,:BUONO,S2,P1000,N1;",
    "PLUD,:PIATTO,S,P100,N2,CABC123;",
    "plud,:Caff\xe8 Totale,p120,n6",
    "SALE,N1,P1000;",
    "SALE,:MELE,N2,Q1.5,P250;",
    "ADDS,V150;",
    "DISC,%10.5;",
    "DISC,V100;",
    "MOST,%5;",
    "MOST,V200;",
    "DOST,%20;",
    "DOST,V50;",
    "MAGG,%7.25;",
    "MAGG,V30;",
    "DEPO,V500;",
    "PREL,V200,N3;",
    "OPNF;",
    "PRNT,:Grazie della visita;",
    "PRNT,:RSSMRA85T10A562S;",
    "PRNT,:12345678903;",
    "CLNF;",
    "DISP,N1,:Benvenuto;",
    "DISP,N2,:Totale 12.50;",
    "BARC,T2,:8001234567890;",
    "BARC,:12345670;",
    "QRCO,:https://x.it/r/1;",
    "EXTL,:Punti fedelta 120;",
    "LOTT,C[abcd1234];",
    "FUNC,N3;",
    "FUNC,N8;",
    "RECO,V500;",
    "CLER;",
    "CHEQ,V1000;",
    "CARD,V500;",
    "CRED,T3,V500;",
    "TEND,N3,V1200;",
    "BANC,:BONIFICO,V300;",
    "TICK,:PASTI,Q2,V700;",
    "CASH,V100;",
    "OPEN,N1;",
};
const char* const kClosing[] = {
    "NDCR,D010125,N00120034,>99MEX012345;",
    "DELD,D311224,N12345678,>POS;",
};

std::vector<const char*> cycle(bool lookups) {
    std::vector<const char*> c;
    for (const char* line : kCycle) {
        const std::string_view l(line);
        if (lookups || (l.find(",S3,") == l.npos && l.find(",S2,") == l.npos)) {
            c.push_back(line);
        }
    }
    return c;
}

QByteArray receipt(long lines, const std::vector<const char*>& cycle) {
    constexpr long kClose = static_cast<long>(std::size(kClosing));
    QByteArray r;
    r.reserve(lines * 24);
    const long body = std::max(0L, lines - kClose);
    for (long i = 0; i < body; ++i) {
        r += cycle[static_cast<std::size_t>(i) % cycle.size()];
        r += "\r\n";
    }
    for (long i = 0; i < lines - body; ++i) {
        r += kClosing[i];
        r += "\r\n";
    }
    return r;
}

// 50 departments as in the default table. VAT positions 1-5 in turn;
// departments 11-15 take gifts and 16-20 take vouchers, one per VAT rate, so
// every gift or voucher sale finds its department.
QByteArray departmentTable() {
    QByteArray x = "<?xml version='1.0' encoding='UTF-8'?>\n<TabReparti>\n";
    for (int k = 1; k <= 50; ++k) {
        const QByteArray id = QByteArray::number(k).rightJustified(2, '0');
        const bool gift = k >= 11 && k <= 15;
        const bool voucher = k >= 16 && k <= 20;
        x += "  <Reparto>\n    <Id>" + id + "</Id>\n    <Descrizione>Reparto n. " + id +
             "</Descrizione>\n    <FlagOmaggio>" + (gift ? "True" : "False") +
             "</FlagOmaggio>\n    <FlagBuono>" + (voucher ? "True" : "False") +
             "</FlagBuono>\n    <IdIva>" + QByteArray::number((k - 1) % 5 + 1) +
             "</IdIva>\n    <Scelto>True</Scelto>\n  </Reparto>\n";
    }
    return x + "</TabReparti>\n";
}

QByteArray vatTable() {
    QByteArray x = "<?xml version='1.0' encoding='UTF-8'?>\n<TbIva>\n";
    const char* const rates[] = {"4.00", "10.00", "22.00", "36.00", "5.00"};
    for (int k = 1; k <= 5; ++k) {
        const QByteArray id = QByteArray::number(k).rightJustified(2, '0');
        x += "  <Aliquota>\n    <Id>" + id + "</Id>\n    <Descrizione>Aliquota " + rates[k - 1] +
             "% </Descrizione>\n    <Percentuale>" + rates[k - 1] +
             "</Percentuale>\n    <Tipo>1</Tipo>\n  </Aliquota>\n";
    }
    return x + "</TbIva>\n";
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

[[noreturn]] void fail(const QString& why) {
    std::fprintf(stderr, "convert_bench: %s\n", qPrintable(why));
    std::exit(1);
}

double median3(std::array<double, 3> t) {
    std::sort(t.begin(), t.end());
    return t[1];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("LINES"),
                                 QStringLiteral("lines converted, at least 8 (default 1000000)."),
                                 QStringLiteral("[LINES]"));
    const QCommandLineOption familyOption(QStringLiteral("family"),
                                          QStringLiteral("Only register family N (default all)."),
                                          QStringLiteral("N"));
    const QCommandLineOption noLookups(QStringLiteral("no-lookups"),
                                       QStringLiteral("Leave the gift and voucher lines out."));
    parser.addOptions({familyOption, noLookups});
    parser.process(app);
    const int onlyFamily =
        parser.isSet(familyOption) ? int(bench::numberValue(parser, familyOption, 0, 6)) : -1;
    const bool lookups = !parser.isSet(noLookups);
    long lines = 1000000;
    if (const QStringList given = parser.positionalArguments(); !given.isEmpty()) {
        bool ok = false;
        lines = given.first().toLong(&ok);
        if (!ok || lines < 8 || given.size() > 1) {
            fail(QStringLiteral("LINES must be one number of at least 8, not '%1'")
                     .arg(given.join(QLatin1Char(' '))));
        }
    }

    LoggingOperatorUi ui([](const QString& text) {
        std::fprintf(stderr, "convert_bench: message: %s\n", qPrintable(text));
    });
    ConversionLibrary library;
    if (!ProbeConversionLibrary(library, QCoreApplication::applicationDirPath(), ui)) {
        fail(QStringLiteral("qarn_slm1 not usable: %1").arg(library.errorString()));
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        fail(QStringLiteral("cannot create a temporary folder"));
    }
    const QString dataDir = dir.path();
    if (!writeFile(dir.filePath(QString::fromLatin1(DepartmentTables::kDepartmentFile)),
                   departmentTable()) ||
        !writeFile(dir.filePath(QString::fromLatin1(DepartmentTables::kVatFile)), vatTable())) {
        fail(QStringLiteral("cannot write the tables in %1").arg(dataDir));
    }

    // One receipt within the converter's limits, converted as many times as
    // a quarter, a half and all of the lines take.
    const long perReceipt = std::min(lines, kReceiptLines);
    const std::vector<const char*> lineCycle = cycle(lookups);
    const QString file = dir.filePath(QStringLiteral("SR_DATI.001"));
    const QByteArray r = receipt(perReceipt, lineCycle);
    if (!writeFile(file, r)) {
        fail(QStringLiteral("cannot write %1").arg(file));
    }
    std::array<long, 3> receipts{};
    const std::array<long, 3> parts = {4, 2, 1};
    for (std::size_t s = 0; s < receipts.size(); ++s) {
        receipts[s] = std::max(1L, lines / parts[s] / perReceipt);
    }
    lines = receipts[2] * perReceipt;
    const double megabytes = static_cast<double>(r.size()) * static_cast<double>(receipts[2]) / 1e6;

    std::printf("convert_bench: %ld lines (%.1f MB) as %ld receipts of %ld lines, %zu distinct "
                "lines per cycle, median of 3 runs\n",
                lines, megabytes, receipts[2], perReceipt, lineCycle.size());
    std::printf("library: %s\n\n", qPrintable(library.filePath()));
    std::printf("%-6s %-24s %9s %9s %9s %12s %8s %8s %8s\n", "family", "name", "1/4 (s)", "1/2 (s)",
                "1/1 (s)", "lines/s", "MB/s", "1/2:1/4", "1/1:1/2");

    double slowest = 0;
    for (int family = 0; family <= 6; ++family) {
        if (onlyFamily >= 0 && family != onlyFamily) {
            continue;
        }
        ConverterSettings settings;
        settings.family = family;
        settings.registrationNumber = "99MEX012345";
        DepartmentTables tables(ui);
        tables.setDataDirectory(dataDir);
        const std::int16_t channel = 1;
        SlConverter converter({tables, library, ui, dataDir, channel});

        std::array<double, 3> seconds{};
        for (std::size_t s = 0; s < receipts.size(); ++s) {
            std::array<double, 3> runs{};
            for (double& run : runs) {
                QElapsedTimer timer;
                timer.start();
                for (long k = 0; k < receipts[s]; ++k) {
                    const std::int16_t result = converter.ConvertSlFile(file, settings).code;
                    if (result != 0 || converter.lastOutcome() != ConversionOutcome::Converted) {
                        fail(QStringLiteral("family %1: not converted: %2")
                                 .arg(family)
                                 .arg(converter.lastReason()));
                    }
                }
                run = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            }
            seconds[s] = median3(runs);
        }
        const double perSecond = static_cast<double>(lines) / seconds[2];
        slowest = slowest == 0 ? perSecond : std::min(slowest, perSecond);
        std::printf("%-6d %-24s %9.3f %9.3f %9.3f %12.0f %8.1f %8.2f %8.2f\n", family,
                    qPrintable(OperatorPanel::familyNames().at(family)), seconds[0], seconds[1],
                    seconds[2], perSecond, megabytes / seconds[2], seconds[1] / seconds[0],
                    seconds[2] / seconds[1]);
        std::fflush(stdout);
    }
    std::printf("\nslowest family: %.0f lines/s\n", slowest);
    return 0;
}
