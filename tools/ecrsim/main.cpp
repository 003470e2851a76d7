// ecrsim: a fiscal cash register of one of Velmar's seven families on a
// pseudo-terminal, a serial device or loopback TCP. See --help.

#include "Options.h"
#include "PtyLink.h"
#include "SerialDeviceLink.h"
#include "common/SignalWatcher.h"
#include "Simulator.h"
#include "TcpLink.h"

#include <cstdio>
#include <memory>
#include <QCoreApplication>

using namespace velmar::ecrsim;

namespace {

void say(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    bool help = false;
    const auto options = parseOptions(app.arguments().mid(1), &error, &help);
    if (help) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }
    if (!options) {
        say(QStringLiteral("ecrsim: %1 (see ecrsim --help)").arg(error));
        return 2;
    }

    std::unique_ptr<Simulator> simulator;
    std::unique_ptr<Link> link;
    switch (options->mode) {
    case Options::Mode::Pty:
        link = std::make_unique<PtyLink>(options->target);
        break;
    case Options::Mode::Serial:
        link = std::make_unique<SerialDeviceLink>(options->target, options->config.baud);
        break;
    case Options::Mode::Tcp: {
        const bool refuseAll = velmar::sim::RegisterModel(options->config).refusesConnections();
        link = std::make_unique<TcpLink>(options->port, refuseAll, [&simulator] {
            return simulator && simulator->acceptConnection();
        });
        break;
    }
    }
    simulator = std::make_unique<Simulator>(options->config, link.get(), options->journalPath,
                                            options->quiet);
    if (!simulator->start(&error) || !link->open(&error)) {
        say(QStringLiteral("ecrsim: %1").arg(error));
        return 1;
    }

    velmar::SignalWatcher watcher;
    QObject::connect(&watcher, &velmar::SignalWatcher::stopRequested, &app, &QCoreApplication::quit);

    QString where = link->where();
    if (options->mode != Options::Mode::Tcp) {
        where += QStringLiteral(" at %1 baud").arg(options->config.baud);
    }
    say(QStringLiteral("ecrsim: family %1 listening on %2").arg(options->config.family).arg(where));

    const int status = app.exec();
    link->close();
    return status;
}
