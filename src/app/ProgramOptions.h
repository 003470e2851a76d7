#pragma once
// The command line of velmar and velmard: --help (or -h) and --version,
// which start nothing; anything else is a usage error.

#include <optional>
#include <QString>
#include <QStringList>

namespace velmar {

// Reads `args` (the program's name first) for `program`: --help prints
// `help`, --version the version, both to standard output, with status 0; an
// unknown option or an argument is told on standard error, status 2. Nullopt
// when the program runs. `qtOptionsLeft`: the arguments may still hold Qt's
// own options (velmar reads them before QApplication takes those out), so
// only --help and --version are answered.
std::optional<int> answerCommandLine(const QString& program, const QStringList& args,
                                     const char* help, bool qtOptionsLeft = false);

} // namespace velmar
