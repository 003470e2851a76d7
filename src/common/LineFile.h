#pragma once
// Byte-exact line files. Lines are read as bytes and end at CR LF, LF or a
// lone CR (the end markers are not part of the line; a last line without an
// end marker still counts). Lines are written with CR LF, and a file written
// appears whole.
//
// Reading streams through a fixed buffer, so a large file costs time in
// proportion to its size and memory in proportion to its longest line.

#include "common/Fault.h"
#include "common/SafeFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

class LineReader {
public:
    LineReader() = default;
    explicit LineReader(const QString& path) { open(path); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Only a regular file that is not a link (see SafeFile.h); `ownOnly`: one
    // of Velmar's own user. False, with why() telling the reason, when not.
    bool open(const QString& path, bool ownOnly = false);
    const QString& why() const { return why_; }
    bool isOpen() const { return file_.isOpen(); }
    void close() { file_.close(); }
    // The next line into `line`; false at the end of the file.
    // Throws Fault 75 when the file cannot be read.
    bool next(std::string& line);

private:
    bool fill();

    QFile file_;
    QString why_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
};

// Gathers the lines of a file and puts the whole file in place at close():
// written under a temporary name in the same folder and renamed (see
// safefile::replaceFile), so a reader, or a crash, never leaves half a file
// under its name. Nothing is written before close().
class LineWriter {
public:
    LineWriter() = default;
    ~LineWriter(); // closes a file left open
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Starts the file `path` with `mode` (less the umask). Throws Fault 76
    // when its folder is missing, 75 when the folder takes no new file or a
    // folder has the file's name.
    void create(const QString& path, mode_t mode = safefile::kSharedMode);
    bool isOpen() const { return open_; }
    // Adds the line and CR LF.
    void writeLine(std::string_view line) {
        bytes_.append(line.data(), static_cast<qsizetype>(line.size()));
        bytes_.append("\r\n");
    }
    void writeLine(const char* line) { writeLine(std::string_view(line)); }
    void writeLine(const QByteArray& line) {
        writeLine(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    }
    // Puts the file in place (a link or any other file of that name is
    // replaced, never written through); throws Fault 75 when it could not.
    void close();

private:
    QString path_;
    mode_t mode_ = safefile::kSharedMode;
    QByteArray bytes_;
    bool open_ = false;
};

// Whole-file helpers for small files (settings, channel files).
// What readLines found: every line, or no line and the fault that stopped it,
// so a caller can tell a missing file from one it could not read.
struct LinesRead {
    std::vector<std::string> lines;
    int fault = 0;           // 0: read whole; faultno::FileNotFound: missing; else unreadable
    std::string description; // the fault's description, for a log or a message

    bool missing() const { return fault == faultno::FileNotFound; }
};
LinesRead readLines(const QString& path);
// writeLines: true when the whole file was put in place (each line with CR LF,
// as LineWriter does); false with the reason in `why` when not.
bool writeLines(const QString& path, const std::vector<std::string>& lines, QString* why = nullptr);

} // namespace velmar
