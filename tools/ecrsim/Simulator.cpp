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
    : QObject(parent), m_model(std::move(config)), m_link(link), m_journal(journal),
      m_quiet(quiet) {
    m_clock.start();
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, &Simulator::pump);
    connect(m_link, &Link::received, this, [this](const QByteArray& bytes) {
        m_model.receive(bytes, nowUs());
        pump();
    });
    connect(m_link, &Link::lineLost, this, [this] {
        m_model.lineReset();
        pump();
    });
}

bool Simulator::start(QString* error) {
    if (!m_journal.fileName().isEmpty() &&
        !m_journal.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open the journal %1: %2")
                     .arg(m_journal.fileName(), m_journal.errorString());
        return false;
    }
    return true;
}

void Simulator::pump() {
    QByteArray bytes;
    for (const sim::Emission& e : m_model.takeDue(nowUs() + slackUs)) {
        bytes += e.bytes;
        if (e.dropLine) {
            if (!bytes.isEmpty()) {
                m_link->write(bytes);
                bytes.clear();
            }
            m_link->dropLine();
        }
    }
    if (!bytes.isEmpty()) {
        m_link->write(bytes);
    }
    writeJournal();

    if (const auto wake = m_model.nextWakeUs()) {
        const std::int64_t waitUs = std::max<std::int64_t>(0, *wake - slackUs - nowUs());
        m_wake.start(static_cast<int>((waitUs + 500) / 1000));
    } else {
        m_wake.stop();
    }
}

void Simulator::writeJournal() {
    for (const QByteArray& line : m_model.takeJournal()) {
        if (m_journal.isOpen()) {
            m_journal.write(line + '\n');
            m_journal.flush();
        }
        if (!m_quiet) {
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }
}

} // namespace velmar::ecrsim
