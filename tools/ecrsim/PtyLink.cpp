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
    : Link(parent), linkPath_(std::move(linkPath)) {}

PtyLink::~PtyLink() {
    close();
}

bool PtyLink::open(QString* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = failure(QStringLiteral("cannot make a pseudo-terminal"), errno);
        close();
        return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
        *error = failure(QStringLiteral("cannot name the pseudo-terminal"), errno);
        close();
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    termios t{};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0) {
        *error = failure(QStringLiteral("cannot open the pseudo-terminal's slave"), errno);
        close();
        return false;
    }
    cfmakeraw(&t); // no echo, no line editing, XON and XOFF pass as data
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    const QFileInfo existing(linkPath_);
    if (existing.isSymLink()) {
        QFile::remove(linkPath_); // left by an earlier run
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath_);
        close();
        return false;
    }
    if (::symlink(QFile::encodeName(slavePath_).constData(),
                  QFile::encodeName(linkPath_).constData()) != 0) {
        const int err = errno;
        *error = failure(QStringLiteral("cannot make the link %1").arg(linkPath_), err);
        close();
        return false;
    }
    linkMade_ = true;

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyLink::readMaster);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyLink::flushPending);
    return true;
}

void PtyLink::close() {
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    if (linkMade_) {
        QFile::remove(linkPath_);
        linkMade_ = false;
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

QString PtyLink::where() const {
    return QStringLiteral("%1 (%2)").arg(linkPath_, slavePath_);
}

void PtyLink::readMaster() {
    char buf[4096];
    QByteArray got;
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
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
    pending_ += bytes;
    flushPending();
}

void PtyLink::flushPending() {
    while (!pending_.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, pending_.constData(), pending_.size());
        if (n > 0) {
            pending_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break; // full for now: wait until the master can take more
        }
    }
    if (writeNotifier_) {
        writeNotifier_->setEnabled(!pending_.isEmpty());
    }
}

} // namespace velmar::ecrsim
