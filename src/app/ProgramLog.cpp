#include "app/ProgramLog.h"

#include "common/SafeFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <cstdio>

namespace velmar {

void ProgramLog::line(const QString& text) {
    const QString stamped =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + text;
    std::fprintf(stderr, "%s\n", stamped.toLocal8Bit().constData());
    std::fflush(stderr);
    if (file_.isOpen()) {
        file_.write(stamped.toUtf8() + '\n');
        file_.flush();
    } else {
        early_ << stamped;
    }
}

void ProgramLog::openIn(const QString& folder) {
    // It tells refused receipts line by line: only Velmar's user and group
    // read it. A link in its place is replaced, never written through.
    path_ = QDir(folder).filePath(fileName_);
    if (safefile::openForWriting(file_, path_, safefile::Write::Append, safefile::kPrivateMode)) {
        for (const QString& l : early_) {
            file_.write(l.toUtf8() + '\n');
        }
        file_.flush();
    }
    early_.clear();
}

void LoggedProgramExit::endProgram(const QString& reason) {
    log_.line(program_ + QStringLiteral(": the program ends: ") + reason);
    if (beforeEnd) {
        beforeEnd();
    }
    QTimer::singleShot(0, [] { QCoreApplication::exit(1); });
}

} // namespace velmar
