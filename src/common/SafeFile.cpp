#include "common/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::safefile {

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

void tell(QString* why, const QString& text) {
    if (why) {
        *why = text;
    }
}

// The umask, read once: it only ever takes bits away from a mode.
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void syncFolderOf(const QByteArray& path) {
    const QByteArray folder = native(QFileInfo(QFile::decodeName(path)).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

QString reason(int number) {
    switch (number) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case EROFS:
        return QStringLiteral("file system in sola lettura");
    case ENOSPC:
        return QStringLiteral("disco pieno");
    case EDQUOT:
        return QStringLiteral("quota disco esaurita");
    case ENOENT:
        return QStringLiteral("non esiste");
    case ELOOP:
        return QStringLiteral("è un collegamento simbolico");
    case EISDIR:
        return QStringLiteral("è una cartella");
    case ENXIO:
        return QStringLiteral("non è un file normale");
    default:
        return QString::fromLocal8Bit(std::strerror(number));
    }
}

bool exists(const QString& path) {
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0;
}

int openForReading(const QString& path, QString* why, bool ownOnly) {
    const int fd = ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        tell(why, reason(errno));
        return -1;
    }
    struct stat st {};
    QString refused;
    if (::fstat(fd, &st) != 0) {
        refused = reason(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refused = S_ISDIR(st.st_mode) ? reason(EISDIR) : QStringLiteral("non è un file normale");
    } else if (st.st_nlink > 1) {
        refused = QStringLiteral("ha più di un nome (collegamento fisso)");
    } else if (ownOnly && st.st_uid != ::geteuid()) {
        refused = QStringLiteral("non è un file di Velmar (di un altro utente)");
    } else if (!blocking(fd)) {
        refused = reason(errno);
    }
    if (!refused.isEmpty()) {
        ::close(fd);
        tell(why, refused);
        return -1;
    }
    return fd;
}

bool openForReading(QFile& file, const QString& path, QString* why, bool ownOnly) {
    const int fd = openForReading(path, why, ownOnly);
    if (fd < 0) {
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        tell(why, file.errorString());
        return false;
    }
    return true;
}

bool readAll(const QString& path, QByteArray& bytes, qint64 limit, QString* why) {
    QFile file;
    if (!openForReading(file, path, why)) {
        return false;
    }
    bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError) {
        tell(why, file.errorString());
        return false;
    }
    return true;
}

int openForWriting(const QString& path, Write how, mode_t mode, QString* why) {
    const QByteArray name = native(path);
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (how == Write::Append) {
        flags |= O_APPEND;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(name.constData(), flags, mode);
        if (fd < 0) {
            const int error = errno;
            // A link, or a pipe nobody reads, in the file's place: it goes.
            if ((error == ELOOP || error == ENXIO) && ::unlink(name.constData()) == 0) {
                flags |= O_EXCL;
                continue;
            }
            tell(why, reason(error));
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            tell(why, reason(errno));
            ::close(fd);
            return -1;
        }
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1 || st.st_uid != ::geteuid()) {
            // Not a file of Velmar's own: it is replaced, never written into.
            ::close(fd);
            if (::unlink(name.constData()) != 0) {
                tell(why, reason(errno));
                return -1;
            }
            flags |= O_EXCL;
            continue;
        }
        if ((how == Write::Truncate && ::ftruncate(fd, 0) != 0) || !blocking(fd) ||
            ((st.st_mode & 07777 & ~mode) != 0 && ::fchmod(fd, st.st_mode & mode) != 0)) {
            tell(why, reason(errno));
            ::close(fd);
            return -1;
        }
        return fd;
    }
    tell(why, QStringLiteral("il nome è preso da un altro file"));
    return -1;
}

bool openForWriting(QFile& file, const QString& path, Write how, mode_t mode, QString* why) {
    const int fd = openForWriting(path, how, mode, why);
    if (fd < 0) {
        return false;
    }
    const QIODevice::OpenMode openMode =
        how == Write::Append ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly;
    if (!file.open(fd, openMode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        tell(why, file.errorString());
        return false;
    }
    return true;
}

bool replaceFile(const QString& path, const QByteArray& bytes, mode_t mode, bool sync,
                 QString* why) {
    const QByteArray target = native(path);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        temp = target + '.' +
               QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000, 16);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    mode & ~processUmask());
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        tell(why, reason(errno));
        return false;
    }
    bool ok = writeAll(fd, bytes) && (!sync || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && ok) { // a delayed write error shows here
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        tell(why, reason(error));
        return false;
    }
    if (sync) {
        syncFolderOf(target); // the rename itself reaches the disk
    }
    return true;
}

bool canReplace(const QString& path, QString* why) {
    struct stat st {};
    if (::lstat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
        tell(why, reason(EISDIR));
        return false;
    }
    const QByteArray folder = native(QFileInfo(path).absolutePath());
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        tell(why, reason(errno));
        return false;
    }
    return true;
}

bool copyFile(const QString& from, const QString& to, mode_t mode, QString* why) {
    QByteArray bytes;
    return readAll(from, bytes, 64 * 1024 * 1024, why) && replaceFile(to, bytes, mode, false, why);
}

bool isRealFolder(const QString& path) {
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeFolder(const QString& path, mode_t mode) {
    if (isRealFolder(path)) {
        return true;
    }
    return ::mkdir(native(path).constData(), mode) == 0 || isRealFolder(path);
}

bool canWriteIn(const QString& folder, const QString& probeName, qint64 bytes, QString* why) {
    const QByteArray probe = native(QDir(folder).filePath(probeName));
    ::unlink(probe.constData()); // one left by a program that stopped, or put there
    const int fd =
        ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        tell(why, reason(errno));
        return false;
    }
    bool ok = writeAll(fd, QByteArray(bytes, '\0'));
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (::unlink(probe.constData()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        tell(why, reason(error));
    }
    return ok;
}

QString lockHolder(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return {};
    }
    // /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    const QByteArray self = QByteArray::number(qlonglong(::getpid()));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || !f.at(5).endsWith(inode) || f.at(4) == self) {
            continue;
        }
        QByteArray comm;
        QFile name(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(f.at(4))));
        if (name.open(QIODevice::ReadOnly)) {
            comm = name.readAll().trimmed();
        }
        return QStringLiteral("pid %1%2")
            .arg(QString::fromLatin1(f.at(4)),
                 comm.isEmpty() ? QString() : QStringLiteral(", ") + QString::fromLocal8Bit(comm));
    }
    return {};
}

FolderLock::~FolderLock() {
    release();
}

void FolderLock::release() {
    if (fd_ >= 0) {
        ::close(fd_); // the lock goes with the last descriptor
        fd_ = -1;
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
        folderFd_ = -1;
    }
}

FolderLock::Result FolderLock::take(const QString& folder, const QString& fileName,
                                    const QByteArray& owner) {
    release();
    about_.clear();
    const QByteArray path = native(QDir(folder).filePath(fileName));
    // The folder itself is locked first: a lock file someone deleted must not
    // let a second Velmar serve the same folder. A share that cannot lock a
    // folder falls back to the lock file alone.
    folderFd_ = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ >= 0 && ::flock(folderFd_, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        if (held) {
            about_ = lockHolder(folderFd_);
            const int said =
                ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (said >= 0) {
                QByteArray text(4096, '\0');
                const ssize_t n = ::pread(said, text.data(), static_cast<size_t>(text.size()), 0);
                text.resize(n > 0 ? n : 0);
                ::close(said);
                if (!text.simplified().isEmpty()) {
                    about_ = QString::fromUtf8(text.simplified());
                }
            }
        }
        ::close(folderFd_);
        folderFd_ = -1;
        if (held) {
            return Result::Held;
        }
    }
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0 && (errno == EACCES || errno == EROFS)) {
            // A lock file of another user, or a folder Velmar may not write:
            // it can still be read, and locked, to learn who serves the folder.
            const int refused = errno;
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) {
                errno = refused; // no lock file, and none can be made
            }
        }
        if (fd < 0) {
            if ((errno == ELOOP || errno == ENXIO) && ::unlink(path.constData()) == 0) {
                continue; // a link or a pipe in its place
            }
            about_ = reason(errno);
            release(); // the folder's lock too
            return Result::Failed;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fd = -1;
            if (::unlink(path.constData()) != 0) {
                about_ = reason(errno);
                release(); // the folder's lock too
                return Result::Failed;
            }
        }
    }
    if (fd < 0) {
        about_ = reason(EEXIST);
        release(); // the folder's lock too
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK) {
            ::close(fd);
            about_ = reason(error);
            release(); // the folder's lock too
            return Result::Failed;
        }
        QByteArray said(4096, '\0');
        const ssize_t n = ::pread(fd, said.data(), static_cast<size_t>(said.size()), 0);
        said.resize(n > 0 ? n : 0);
        const QString holder = lockHolder(fd);
        about_ = QString::fromUtf8(said.simplified());
        if (about_.isEmpty()) { // a lock file it may not read: the system tells
            about_ = holder;
        }
        ::close(fd);
        release();
        return Result::Held;
    }
    blocking(fd);
    // Who holds it, for a second Velmar to tell; a lock file Velmar may not
    // write still locks.
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n =
            ::pwrite(fd, owner.constData(), static_cast<size_t>(owner.size()), 0);
    }
    fd_ = fd;
    return Result::Taken;
}

} // namespace velmar::safefile
