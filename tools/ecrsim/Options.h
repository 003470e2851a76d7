#pragma once
// ecrsim's command line: what the register is and where it listens.

#include "RegisterModel.h"

#include <optional>
#include <QString>
#include <QStringList>

namespace velmar::ecrsim {

struct Options {
    enum class Mode { Pty, Serial, Tcp };
    sim::RegisterConfig config;
    Mode mode = Mode::Pty;
    QString target; // the link path, the device, or the port as text
    quint16 port = 0;
    QString journalPath;
    bool quiet = false;
};

// Reads the arguments (without the program name). nullopt with a reason for a
// command line that is wrong, or with `help` set when --help was asked for.
std::optional<Options> parseOptions(const QStringList& args, QString* error, bool* help);

// The --help text.
QString helpText();

} // namespace velmar::ecrsim
