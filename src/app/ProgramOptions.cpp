#include "app/ProgramOptions.h"

#include "common/ProgramIdentity.h"

#include <cstdio>
#include <QCommandLineParser>

namespace velmar {

std::optional<int> answerCommandLine(const QString& program, const QStringList& args,
                                     const char* help, bool qtOptionsLeft) {
    // Only the options below exist: -platform and the like are one unknown
    // word each, never a row of one-letter options.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({helpOption, versionOption});
    const bool parsed = parser.parse(args);
    if (parser.isSet(helpOption)) {
        std::fputs(help, stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("%s %s\n", program.toLocal8Bit().constData(), identity::kVersionText);
        return 0;
    }
    if (qtOptionsLeft) {
        return std::nullopt;
    }
    QString why;
    if (!parser.unknownOptionNames().isEmpty()) {
        why = QStringLiteral("unknown option '%1'").arg(parser.unknownOptionNames().first());
    } else if (!parsed) {
        why = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        why = QStringLiteral("it takes no arguments");
    } else {
        return std::nullopt;
    }
    std::fprintf(stderr, "%s: %s (try %s --help)\n", program.toLocal8Bit().constData(),
                 why.toLocal8Bit().constData(), program.toLocal8Bit().constData());
    return 2;
}

} // namespace velmar
