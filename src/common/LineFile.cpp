#include "common/LineFile.h"

#include "common/Fault.h"

#include <QDir>
#include <QFileInfo>

namespace velmar {

namespace {
constexpr qint64 kChunk = 64 * 1024;

// Fault `number` with the file's name and the reason, for the trace and logs.
Fault fileFault(int number, const QString& path, const QString& why) {
    const std::string name = QFileInfo(path).fileName().toStdString();
    return Fault(number, std::string(standardFaultDescription(number)) + " (" + name + ": " +
                             why.toStdString() + ")");
}
} // namespace

bool LineReader::open(const QString& path, bool ownOnly) {
    file_.close();
    buffer_.clear();
    why_.clear();
    pos_ = 0;
    eof_ = false;
    if (!safefile::openForReading(file_, path, &why_, ownOnly)) {
        why_ = QFileInfo(path).fileName() + QLatin1Char(' ') + why_;
        return false;
    }
    return true;
}

bool LineReader::fill() {
    if (eof_) {
        return false;
    }
    buffer_.erase(0, pos_);
    pos_ = 0;
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kChunk);
    const qint64 got = file_.read(buffer_.data() + old, kChunk);
    if (got < 0) {
        buffer_.resize(old);
        throw Fault(faultno::FileAccess);
    }
    buffer_.resize(old + static_cast<std::size_t>(got));
    if (got == 0) {
        eof_ = true;
        return false;
    }
    return true;
}

bool LineReader::next(std::string& line) {
    if (!file_.isOpen()) {
        return false;
    }
    std::size_t rel = 0; // bytes after pos_ already known to hold no line end
    for (;;) {
        std::size_t end = pos_ + rel;
        while (end < buffer_.size() && buffer_[end] != '\n' && buffer_[end] != '\r') {
            ++end;
        }
        rel = end - pos_;
        if (end < buffer_.size()) {
            // A CR at the very end of the buffer may be the first half of CR LF.
            if (buffer_[end] == '\r' && end + 1 == buffer_.size() && !eof_) {
                fill(); // moves the data to the front; `rel` stays valid
                continue;
            }
            line.assign(buffer_, pos_, rel);
            std::size_t next = end + 1;
            if (buffer_[end] == '\r' && next < buffer_.size() && buffer_[next] == '\n') {
                ++next;
            }
            pos_ = next;
            return true;
        }
        if (!fill()) {
            if (pos_ < buffer_.size()) {
                line.assign(buffer_, pos_, std::string::npos);
                pos_ = buffer_.size();
                return true;
            }
            return false;
        }
    }
}

LineWriter::~LineWriter() {
    if (open_) {
        try {
            close();
        } catch (const Fault&) {
            // Nothing more can be done for a file abandoned by a fault.
        }
    }
}

void LineWriter::create(const QString& path, mode_t mode) {
    path_ = path;
    mode_ = mode;
    bytes_.clear();
    open_ = false;
    // What would stop the file at close() is found now, before the caller
    // acts on it: a folder that is missing or takes no new file.
    QString why;
    if (!safefile::canReplace(path, &why)) {
        throw fileFault(QFileInfo(path).absoluteDir().exists() ? faultno::FileAccess
                                                               : faultno::PathNotFound,
                        path, why);
    }
    open_ = true;
}

void LineWriter::close() {
    if (!open_) {
        return;
    }
    open_ = false;
    QString why;
    const bool written = safefile::replaceFile(path_, bytes_, mode_, false, &why);
    bytes_.clear();
    if (!written) {
        throw fileFault(faultno::FileAccess, path_, why);
    }
}

LinesRead readLines(const QString& path) {
    LinesRead read;
    try {
        LineReader reader;
        if (!reader.open(path)) {
            const int number =
                QFileInfo::exists(path) ? faultno::FileAccess : faultno::FileNotFound;
            throw Fault(number, std::string(standardFaultDescription(number)) + " (" +
                                    reader.why().toStdString() + ")");
        }
        std::string line;
        while (reader.next(line)) {
            read.lines.push_back(line);
        }
    } catch (const Fault& fault) {
        read.lines.clear();
        read.fault = fault.number();
        read.description = fault.description();
    }
    return read;
}

bool writeLines(const QString& path, const std::vector<std::string>& lines, QString* why) {
    QByteArray bytes;
    for (const auto& l : lines) {
        bytes.append(l.data(), static_cast<qsizetype>(l.size()));
        bytes.append("\r\n");
    }
    return safefile::replaceFile(path, bytes, safefile::kSharedMode, false, why);
}

} // namespace velmar
