#pragma once
// Files in a folder that others write too (the data directory): Velmar reads
// only regular files that are not symbolic links, never waits opening one (a
// pipe or a device in a file's place is refused at once), and never writes
// through a link or into a file that has another name elsewhere: such a name
// is replaced by a file of Velmar's own.
//
// Files that hold receipt contents (XON.txt, traces, the job records, the
// logs) are made readable by Velmar's user and group only, whatever the
// umask; the host's answers follow the umask, so a host in Velmar's group can
// read them.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class QFile;

namespace velmar::safefile {

inline constexpr mode_t kPrivateMode = 0640; // receipt contents
inline constexpr mode_t kSharedMode = 0666;  // answers, settings: as the umask allows

// The name exists as a directory entry of any kind (a dangling link too).
bool exists(const QString& path);

// Opens a regular file that is not a link for reading, without waiting on a
// pipe or a device. `ownOnly`: the file must belong to Velmar's user (a file
// Velmar wrote itself and reads back). -1 with the reason in `why` when not.
int openForReading(const QString& path, QString* why = nullptr, bool ownOnly = false);
bool openForReading(QFile& file, const QString& path, QString* why = nullptr, bool ownOnly = false);
// The whole file, at most `limit` bytes; false when it could not be read.
bool readAll(const QString& path, QByteArray& bytes, qint64 limit = 16 * 1024 * 1024,
             QString* why = nullptr);

enum class Write { Truncate, Append };
// Opens `path` for writing, creating it with `mode` (less the umask). A link,
// a pipe, a device, a file with a second name or a file of another user in
// its place is removed first and a file of Velmar's own made; permission
// bits beyond `mode` are taken off an existing file. -1 with `why` when not.
int openForWriting(const QString& path, Write how, mode_t mode, QString* why = nullptr);
bool openForWriting(QFile& file, const QString& path, Write how, mode_t mode,
                    QString* why = nullptr);

// Replaces `path` with a file holding `bytes`: written under a new temporary
// name in the same folder, flushed to disk when `sync`, then renamed into
// place (a rename replaces a link itself, never what it points to). A host
// never sees it half-written. False, with `why`, when any step failed.
bool replaceFile(const QString& path, const QByteArray& bytes, mode_t mode = kSharedMode,
                 bool sync = false, QString* why = nullptr);

// Whether replaceFile(path) can be expected to succeed, as far as can be told
// before: the folder exists and takes new files, and no folder has the
// file's name. False with `why` when not.
bool canReplace(const QString& path, QString* why = nullptr);

// Copies the regular file `from` to `to` as replaceFile does.
bool copyFile(const QString& from, const QString& to, mode_t mode = kSharedMode,
              QString* why = nullptr);

// A folder that is really one (not a link to one).
bool isRealFolder(const QString& path);
// Makes `path` a folder with `mode` unless it is one already; false when it
// is something else (a link, a file) or cannot be made.
bool makeFolder(const QString& path, mode_t mode);

// Whether Velmar may create, write and delete a file in `folder`: a probe
// file `probeName` of `bytes` bytes is made and removed. The reason in `why`.
bool canWriteIn(const QString& folder, const QString& probeName, qint64 bytes, QString* why);

// The process that holds a lock (flock) on the file open as `fd`, as
// "pid N, NAME", or empty when it cannot be told.
QString lockHolder(int fd);

// The reason for errno `number`, in Italian where Velmar's texts need it.
QString reason(int number);

// An exclusive lock on a lock file in a folder, held for the program's run:
// a second Velmar on the same folder finds it taken and is told by whom.
class FolderLock {
public:
    enum class Result { Taken, Held, Failed };
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock file `fileName` in `folder`, writing `owner` into it.
    Result take(const QString& folder, const QString& fileName, const QByteArray& owner);
    bool held() const { return fd_ >= 0; }
    void release();
    // Held: what the holder wrote into the lock file, on one line, and the
    // process holding it. Failed: the reason.
    const QString& about() const { return about_; }

private:
    int fd_ = -1;
    int folderFd_ = -1; // the folder itself, locked too: see take()
    QString about_;
};

} // namespace velmar::safefile
