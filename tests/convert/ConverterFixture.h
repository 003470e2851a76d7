#pragma once
// A converter wired as the driver wires it, on a temporary data directory,
// with the real conversion library from the build.

#include "convert/Mod_SLParser.h"
#include "support/TestSupport.h"
#include "tables/DepartmentTables.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace velmar::test {

struct ConverterFixture {
    ConverterFixture() {
        if (!library.load(binDir())) {
            qFatal("qarn_slm1 not found in %s: %s", qPrintable(binDir()),
                   qPrintable(library.errorString()));
        }
        dataDir = dir.path();
        tables.setDataDirectory(dataDir);
    }

    // Writes bytes as a file of the data directory; returns its path.
    QString writeFile(const QString& name, const QByteArray& bytes) const {
        const QString path = dir.filePath(name);
        if (!test::writeFile(path, bytes)) {
            qFatal("cannot write %s", qPrintable(path));
        }
        return path;
    }
    QByteArray xon() const { return readFile(converter.outputPath()); }

    void setFamily(int family) { settings.family = family; }

    // Converts the file at `path`, keeping what it hands to the link in `result`.
    std::int16_t convertFile(const QString& path) {
        result = converter.ConvertSlFile(path, settings);
        return result.code;
    }
    // Converts `receipt` written as SR_DATI.00<channel>.
    std::int16_t convert(const QByteArray& receipt) {
        return convertFile(writeFile(QStringLiteral("SR_DATI.00%1").arg(iCurrentCom), receipt));
    }

    QTemporaryDir dir;
    QString dataDir;
    std::int16_t iCurrentCom = 1;
    ConverterSettings settings;
    ConversionResult result; // of the last conversion
    ScriptedOperatorUi ui;
    ConversionLibrary library;
    DepartmentTables tables{ui};
    SlConverter converter{ConverterContext{tables, library, ui, dataDir, iCurrentCom}};
};

} // namespace velmar::test
