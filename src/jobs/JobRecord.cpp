#include "jobs/JobRecord.h"

#include "common/SafeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {

struct Name {
    JobRecord::State state;
    const char* text;
};
constexpr Name kStates[] = {{JobRecord::State::Idle, "idle"},
                            {JobRecord::State::InFlight, "in-flight"},
                            {JobRecord::State::Answering, "answering"},
                            {JobRecord::State::Done, "done"}};

struct StageName {
    JobRecord::Stage stage;
    const char* text;
};
constexpr StageName kStages[] = {{JobRecord::Stage::Sending, "sending"},
                                 {JobRecord::Stage::DocumentOpening, "document-opening"},
                                 {JobRecord::Stage::Paying, "paying"},
                                 {JobRecord::Stage::Closed, "closed"}};

qint64 nanoseconds(const struct timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

} // namespace

FileIdentity FileIdentity::of(const QString& path) {
    FileIdentity id;
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        return id;
    }
    id.device = qint64(st.st_dev);
    id.inode = qint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modifiedNs = nanoseconds(st.st_mtim);
    id.changedNs = nanoseconds(st.st_ctim);
    return id;
}

QByteArray FileIdentity::text() const {
    return QByteArray::number(device) + ':' + QByteArray::number(inode) + ':' +
           QByteArray::number(size) + ':' + QByteArray::number(modifiedNs) + ':' +
           QByteArray::number(changedNs);
}

FileIdentity FileIdentity::fromText(const QByteArray& text) {
    const QList<QByteArray> f = text.split(':');
    FileIdentity id;
    if (f.size() == 5) {
        id.device = f[0].toLongLong();
        id.inode = f[1].toLongLong();
        id.size = f[2].toLongLong();
        id.modifiedNs = f[3].toLongLong();
        id.changedNs = f[4].toLongLong();
    }
    return id;
}

QByteArray contentHash(const QString& path) {
    QFile f;
    if (!safefile::openForReading(f, path)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) {
        return {};
    }
    return hash.result().toHex();
}

QString JobRecord::fileName(int channel) {
    return QStringLiteral("VMJOB.00") + QString::number(channel);
}

JobRecord JobRecord::load(const QString& path, bool* ok) {
    JobRecord r;
    if (ok) {
        *ok = true;
    }
    QFile f;
    if (!safefile::openForReading(f, path)) {
        if (ok) {
            *ok = !safefile::exists(path);
        }
        return r;
    }
    bool known = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) {
            continue;
        }
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "state") {
            for (const Name& n : kStates) {
                if (value == n.text) {
                    r.state = n.state;
                    known = true;
                }
            }
        } else if (key == "stage") {
            for (const StageName& n : kStages) {
                if (value == n.text) {
                    r.stage = n.stage;
                }
            }
        } else if (key == "family") {
            r.family = value.toInt();
        } else if (key == "link") {
            r.tcp = value == "tcp";
        } else if (key == "start") {
            r.start = FileIdentity::fromText(value);
        } else if (key == "receipt") {
            r.receiptHash = value;
        } else if (key == "taken") {
            r.takenAt = QDateTime::fromString(QString::fromLatin1(value), Qt::ISODateWithMs);
        } else if (key == "code") {
            r.code = static_cast<std::int16_t>(value.toInt());
        } else if (key == "voided") {
            r.voided = value == "1";
        } else if (key == "closing") {
            r.closingNumber = value.toInt();
        } else if (key == "start-left") {
            r.startLeft = value == "1";
        } else if (key == "replay-answered") {
            r.replayAnswered = value == "1";
        } else if (key == "last-receipt") {
            r.lastReceipt = value.toInt();
        } else if (key == "pending-void") {
            r.pendingVoid = value == "1";
        }
    }
    if (!known && ok) {
        *ok = false;
    }
    return r;
}

bool JobRecord::save(const QString& path) const {
    QByteArray text;
    const auto put = [&text](const char* key, const QByteArray& value) {
        text += QByteArray(key) + '=' + value + '\n';
    };
    for (const Name& n : kStates) {
        if (n.state == state) {
            put("state", n.text);
        }
    }
    for (const StageName& n : kStages) {
        if (n.stage == stage) {
            put("stage", n.text);
        }
    }
    put("family", QByteArray::number(family));
    put("link", tcp ? "tcp" : "serial");
    put("start", start.text());
    put("receipt", receiptHash);
    put("taken", takenAt.toString(Qt::ISODateWithMs).toLatin1());
    put("code", QByteArray::number(code));
    put("voided", voided ? "1" : "0");
    put("closing", QByteArray::number(closingNumber));
    put("start-left", startLeft ? "1" : "0");
    put("replay-answered", replayAnswered ? "1" : "0");
    put("last-receipt", QByteArray::number(lastReceipt));
    put("pending-void", pendingVoid ? "1" : "0");

    // Only Velmar's user and group read it: it names the receipt it played.
    return safefile::replaceFile(path, text, safefile::kPrivateMode, true);
}

} // namespace velmar
