#pragma once
// Byte-exact line files. Lines are read as bytes and end at CR LF, LF or a
// lone CR (the end markers are not part of the line; a last line without an
// end marker still counts). Lines are written with CR LF.
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

class LineWriter {
public:
    LineWriter() = default;
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Creates or truncates the file with `mode` (less the umask), never
    // writing through a link (see SafeFile.h). Throws Fault 76 or 75 when it
    // cannot.
    void create(const QString& path, mode_t mode = safefile::kSharedMode);
    bool isOpen() const { return file_.isOpen(); }
    // Writes the line and CR LF. Throws Fault 75 on a write error.
    void writeLine(std::string_view line);
    void writeLine(const char* line) { writeLine(std::string_view(line)); }
    void writeLine(const QByteArray& line) {
        writeLine(std::string_view(line.constData(), static_cast<std::size_t>(line.size())));
    }
    // Flushes and closes; throws Fault 75 when the data did not reach the file.
    void close();

private:
    void flush();

    QFile file_;
    std::string pending_;
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
// writeLines: true when the whole file was written (each line with CR LF).
bool writeLines(const QString& path, const std::vector<std::string>& lines);

} // namespace velmar
