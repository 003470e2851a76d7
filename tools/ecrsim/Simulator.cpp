#include "Simulator.h"

#include <cstdio>

namespace velmar::ecrsim {

namespace {

// Timers wake in whole milliseconds. The wake-up is rounded to the nearest
// millisecond and bytes due within this much of now go out at once, so a byte
// leaves at most half a millisecond early or late and on average on time: a
// character's round trip at 9600 baud stays close to its 2.1 ms on the wire.
constexpr std::int64_t slackUs = 500;

} // namespace

Simulator::Simulator(sim::RegisterConfig config, Link* link, const QString& journal, bool quiet,
                     QObject* parent)
    : QObject(parent), model_(std::move(config)), link_(link), journal_(journal),
      quiet_(quiet) {
    clock_.start();
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, &Simulator::pump);
    connect(link_, &Link::received, this, [this](const QByteArray& bytes) {
        model_.receive(bytes, nowUs());
        pump();
    });
    connect(link_, &Link::lineLost, this, [this] {
        model_.lineReset();
        pump();
    });
}

bool Simulator::start(QString* error) {
    if (!journal_.fileName().isEmpty() &&
        !journal_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open the journal %1: %2")
                     .arg(journal_.fileName(), journal_.errorString());
        return false;
    }
    return true;
}

void Simulator::pump() {
    QByteArray bytes;
    for (const sim::Emission& e : model_.takeDue(nowUs() + slackUs)) {
        bytes += e.bytes;
        if (e.dropLine) {
            if (!bytes.isEmpty()) {
                link_->write(bytes);
                bytes.clear();
            }
            link_->dropLine();
        }
    }
    if (!bytes.isEmpty()) {
        link_->write(bytes);
    }
    writeJournal();

    if (const auto wake = model_.nextWakeUs()) {
        const std::int64_t waitUs = std::max<std::int64_t>(0, *wake - slackUs - nowUs());
        wake_.start(static_cast<int>((waitUs + 500) / 1000));
    } else {
        wake_.stop();
    }
}

void Simulator::writeJournal() {
    for (const QByteArray& line : model_.takeJournal()) {
        if (journal_.isOpen()) {
            journal_.write(line + '\n');
            journal_.flush();
        }
        if (!quiet_) {
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace velmar::ecrsim
