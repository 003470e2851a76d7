#include "PtyLink.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace velmar::ecrsim {

namespace {

// `what` and the system's reason for the error `err` (errno, taken right
// after the failing call).
QString failure(const QString& what, int err) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(err)));
}

} // namespace

PtyLink::PtyLink(QString linkPath, QObject* parent)
    : Link(parent), m_linkPath(std::move(linkPath)) {}

PtyLink::~PtyLink() {
    close();
}

bool PtyLink::open(QString* error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = failure(QStringLiteral("cannot make a pseudo-terminal"), errno);
        close();
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        *error = failure(QStringLiteral("cannot name the pseudo-terminal"), errno);
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    termios t{};
    if (m_slave < 0 || tcgetattr(m_slave, &t) != 0) {
        *error = failure(QStringLiteral("cannot open the pseudo-terminal's slave"), errno);
        close();
        return false;
    }
    cfmakeraw(&t); // no echo, no line editing, XON and XOFF pass as data
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    const QFileInfo existing(m_linkPath);
    if (existing.isSymLink()) {
        QFile::remove(m_linkPath); // left by an earlier run
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(m_linkPath);
        close();
        return false;
    }
    if (::symlink(QFile::encodeName(m_slavePath).constData(),
                  QFile::encodeName(m_linkPath).constData()) != 0) {
        const int err = errno;
        *error = failure(QStringLiteral("cannot make the link %1").arg(m_linkPath), err);
        close();
        return false;
    }
    m_linkMade = true;

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyLink::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyLink::flushPending);
    return true;
}

void PtyLink::close() {
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_linkMade) {
        QFile::remove(m_linkPath);
        m_linkMade = false;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

QString PtyLink::where() const {
    return QStringLiteral("%1 (%2)").arg(m_linkPath, m_slavePath);
}

void PtyLink::readMaster() {
    char buf[4096];
    QByteArray got;
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break; // EAGAIN: all read
    }
    if (!got.isEmpty()) {
        emit received(got);
    }
}

void PtyLink::write(const QByteArray& bytes) {
    m_pending += bytes;
    flushPending();
}

void PtyLink::flushPending() {
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), m_pending.size());
        if (n > 0) {
            m_pending.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // full for now: wait until the master can take more
        }
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
    }
}

} // namespace velmar::ecrsim
