#pragma once
// The benchmarks' command lines: Qt's QCommandLineParser, with whole-number
// options checked against their range (a wrong one ends the program with
// status 1, like an unknown option).

#include <cstdio>
#include <cstdlib>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace velmar::bench {

// An option taking a whole number, its default shown in --help.
inline QCommandLineOption numberOption(const char* name, const char* what, long fallback) {
    return QCommandLineOption(
        QString::fromLatin1(name),
        QStringLiteral("%1 (default %2).").arg(QLatin1String(what)).arg(fallback),
        QStringLiteral("N"), QString::number(fallback));
}

// The option's value, or the end of the program when it is no number in [low, high].
inline long numberValue(const QCommandLineParser& parser, const QCommandLineOption& option,
                        long low, long high) {
    bool ok = false;
    const QString text = parser.value(option);
    const long v = text.toLong(&ok);
    if (!ok || v < low || v > high) {
        std::fprintf(stderr, "%s: --%s takes %ld to %ld, not '%s'\n",
                     qPrintable(QCoreApplication::applicationName()),
                     qPrintable(option.names().first()), low, high, qPrintable(text));
        std::exit(1);
    }
    return v;
}

} // namespace velmar::bench
