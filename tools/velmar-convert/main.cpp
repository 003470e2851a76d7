// velmar-convert: converts a host receipt file into the register commands the
// driver would send (the bytes of XON.txt), for integrators and for tests.

#include "common/Cp1252.h"
#include "common/OperatorUi.h"
#include "convert/Mod_SLParser.h"
#include "tables/DepartmentTables.h"

#include <cstdio>
#include <optional>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

using namespace velmar;

namespace {

enum Exit { Converted = 0, Refused = 1, Usage = 2, Failed = 3 };

const char* const kHelp = R"(Usage: velmar-convert [--family N] [--max-len N] [--matricola TEXT]
                      [--data-dir DIR] [--channel N] FILE

Converts the receipt file FILE (the host's SR_DATI.00n, in the receipt
language: SALE,N1,P1000; PLUD,:BREAD,P150,N1; CHEQ,V1000; ...) exactly as the
Velmar driver does, and writes the register commands (the bytes of XON.txt,
one command per line, CR LF) to standard output.

Options:
  --family N       register family 0-6 (default 0):
                   0 Vers. Standard, 1 Vers. Custom Eng., 2 Vers. Ditron,
                   3 Vers. 3I, 4 Vers. SystemConnection, 5 Vers. Emotiq,
                   6 Vers. Asem SF85
  --max-len N      maximum description length, 1-200 (default 30; the
                   operator window offers 18-32)
  --matricola TEXT the register's registration number (default empty);
                   references to documents of this register leave it out
  --data-dir DIR   the data directory: XON.txt is written there, files named
                   by READ lines are created there, and Tb-Reparti.xml and
                   Tb-Iva.xml are read from there for gift and voucher sales
                   (default: a fresh temporary folder, removed afterwards)
  --channel N      channel 1-4 (default 1), the suffix of READ file names
  -h, --help       this text

The conversion library qarn_slm1 is loaded from this program's folder.

Exit status:
  0  converted
  1  the receipt was refused (an empty file too); the reason is on standard
     error
  2  usage error, missing input file or missing conversion library
  3  the receipt was refused for a fault while converting it: a number
     beyond its type, a file that cannot be read or created ("Errore Conv =
     ..." on standard error)

Example:
  printf 'PLUD,:BREAD,P150,N1;\r\nCHEQ,V150;\r\n' > receipt.txt
  velmar-convert --family 1 receipt.txt
  "BREAD"150H1R
  150H2T
)";

void toStderr(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

struct Options {
    int family = 0;
    int maxLen = 30;
    QByteArray matricola;
    QString dataDir;
    int channel = 1;
    QString file;
};

std::optional<int> number(const QString& text, int low, int high) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high) {
        return std::nullopt;
    }
    return n;
}

// Parses the command line; nullopt after printing a usage error. --help
// prints kHelp, not Qt's own text.
std::optional<Options> parse(const QStringList& args, bool& help) {
    Options o;
    const auto fail = [](const QString& why) {
        toStderr(QStringLiteral("velmar-convert: ") + why);
        toStderr(QStringLiteral("Try 'velmar-convert --help'."));
        return std::nullopt;
    };
    QCommandLineParser parser;
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption family(QStringLiteral("family"), QString(), QStringLiteral("N"));
    const QCommandLineOption maxLen(QStringLiteral("max-len"), QString(), QStringLiteral("N"));
    const QCommandLineOption matricola(QStringLiteral("matricola"), QString(), QStringLiteral("T"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption channel(QStringLiteral("channel"), QString(), QStringLiteral("N"));
    parser.addOptions({helpOption, family, maxLen, matricola, dataDir, channel});
    const bool parsed = parser.parse(args);
    if (parser.isSet(helpOption)) {
        help = true;
        return o;
    }
    if (!parsed) {
        return fail(parser.errorText());
    }
    // Each whole-number option: its range and where it goes.
    struct Ranged {
        const QCommandLineOption& option;
        int low, high;
        int* out;
    };
    for (const Ranged& r : {Ranged{family, 0, 6, &o.family}, Ranged{maxLen, 1, 200, &o.maxLen},
                            Ranged{channel, 1, 4, &o.channel}}) {
        if (!parser.isSet(r.option)) {
            continue;
        }
        const QString value = parser.value(r.option);
        const auto n = number(value, r.low, r.high);
        if (!n) {
            return fail(QStringLiteral("--%1 takes %2 to %3, not '%4'")
                            .arg(r.option.names().first())
                            .arg(r.low)
                            .arg(r.high)
                            .arg(value));
        }
        *r.out = *n;
    }
    o.matricola = cp1252::encode(parser.value(matricola));
    if (parser.isSet(dataDir)) {
        const QString value = parser.value(dataDir);
        if (!QFileInfo(value).isDir()) {
            return fail(QStringLiteral("--data-dir: '%1' is not a folder").arg(value));
        }
        o.dataDir = QDir(value).absolutePath();
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty()) {
        return fail(QStringLiteral("no input file"));
    }
    if (files.size() > 1) {
        return fail(QStringLiteral("only one input file, please"));
    }
    o.file = files.first();
    return o;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif

    bool help = false;
    const std::optional<Options> options = parse(QCoreApplication::arguments(), help);
    if (help) {
        std::fputs(kHelp, stdout);
        return Converted;
    }
    if (!options) {
        return Usage;
    }

    LoggingOperatorUi ui(toStderr);
    ConversionLibrary library;
    if (!ProbeConversionLibrary(library, QCoreApplication::applicationDirPath(), ui)) {
        if (library.isLoaded()) {
            toStderr(QStringLiteral("velmar-convert: %1 does not convert the test line "
                                    "SALE,N1,P1000; to 1000H1R")
                         .arg(library.filePath()));
        } else {
            toStderr(QStringLiteral("velmar-convert: %1").arg(library.errorString()));
        }
        return Usage;
    }

    QTemporaryDir scratch;
    QString dataDir = options->dataDir;
    if (dataDir.isEmpty()) {
        if (!scratch.isValid()) {
            toStderr(QStringLiteral("velmar-convert: cannot create a temporary folder"));
            return Failed;
        }
        dataDir = scratch.path();
    }

    const ConverterSettings settings{options->family, std::to_string(options->maxLen),
                                     options->matricola.toStdString()};
    DepartmentTables tables(ui);
    tables.setDataDirectory(dataDir);
    const std::int16_t channel = static_cast<std::int16_t>(options->channel);
    SlConverter converter({tables, library, ui, dataDir, channel});

    converter.ConvertSlFile(options->file, settings);
    switch (converter.lastOutcome()) {
    case ConversionOutcome::MissingInput:
        return Usage;
    case ConversionOutcome::Empty: // the driver refuses it as well
    case ConversionOutcome::Refused:
        toStderr(QStringLiteral("velmar-convert: receipt refused, ") + converter.lastReason());
        return Refused;
    case ConversionOutcome::Failed:
        toStderr(QStringLiteral("velmar-convert: receipt refused, ") + converter.lastReason());
        return Failed;
    case ConversionOutcome::Converted:
        break;
    }

    QFile xon(converter.outputPath());
    if (!xon.open(QIODevice::ReadOnly)) {
        toStderr(QStringLiteral("velmar-convert: cannot read %1").arg(xon.fileName()));
        return Failed;
    }
    const QByteArray bytes = xon.readAll();
    if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) !=
            static_cast<std::size_t>(bytes.size()) ||
        std::fflush(stdout) != 0) {
        return Failed;
    }
    return Converted;
}
