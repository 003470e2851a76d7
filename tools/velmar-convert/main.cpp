// velmar-convert: converts a host receipt file into the register commands the
// driver would send (the bytes of XON.txt), for integrators and for tests.

#include "common/Cp1252.h"
#include "common/OperatorUi.h"
#include "convert/Mod_SLParser.h"
#include "tables/DepartmentTables.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>
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

// Parses the command line; nullopt after printing a usage error.
std::optional<Options> parse(const QStringList& args, bool& help) {
    Options o;
    const auto fail = [](const QString& why) {
        toStderr(QStringLiteral("velmar-convert: ") + why);
        toStderr(QStringLiteral("Try 'velmar-convert --help'."));
        return std::nullopt;
    };
    for (int i = 1; i < args.size(); ++i) {
        QString arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            help = true;
            return o;
        }
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            if (arg == QLatin1String("--") && i + 1 < args.size()) {
                arg = args.at(++i);
            }
            if (!o.file.isEmpty()) {
                return fail(QStringLiteral("only one input file, please"));
            }
            o.file = arg;
            continue;
        }
        QString name = arg;
        QString value;
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size()) {
                return fail(QStringLiteral("%1 needs a value").arg(name));
            }
            value = args.at(++i);
        }
        if (name == QLatin1String("--family")) {
            auto n = number(value, 0, 6);
            if (!n) {
                return fail(QStringLiteral("--family takes 0 to 6, not '%1'").arg(value));
            }
            o.family = *n;
        } else if (name == QLatin1String("--max-len")) {
            auto n = number(value, 1, 200);
            if (!n) {
                return fail(QStringLiteral("--max-len takes 1 to 200, not '%1'").arg(value));
            }
            o.maxLen = *n;
        } else if (name == QLatin1String("--matricola")) {
            o.matricola = cp1252::encode(value);
        } else if (name == QLatin1String("--data-dir")) {
            if (!QFileInfo(value).isDir()) {
                return fail(QStringLiteral("--data-dir: '%1' is not a folder").arg(value));
            }
            o.dataDir = QDir(value).absolutePath();
        } else if (name == QLatin1String("--channel")) {
            auto n = number(value, 1, 4);
            if (!n) {
                return fail(QStringLiteral("--channel takes 1 to 4, not '%1'").arg(value));
            }
            o.channel = *n;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(name));
        }
    }
    if (o.file.isEmpty()) {
        return fail(QStringLiteral("no input file"));
    }
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
