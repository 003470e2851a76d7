#pragma once
// An engine on the virtual runtime talking to the in-process register model:
// whole jobs and dumps of every family, with faults, in microseconds.

#include "app/Engine.h"
#include "support/SimLink.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace velmar::test {

struct ModelFixture {
    ModelFixture(int family, bool tcp = false, const QStringList& faults = {},
                 const std::function<void(sim::RegisterConfig&)>& tune = {})
        : model(tuned(modelConfig(family, tcp, faults), tune)) {
        engine.setDataDirectory(dir.path());
        engine.library.load(binDir());
        engine.panel.cboAddedFunctions.setListIndex(family);
        engine.job.iCurrentCom = 1;
        engine.job.InputFilePath = path("SR_DATI.001");
        engine.job.OutputFilePath = path("SR_OUT.001");
        if (tcp) {
            engine.panel.OptionRete.select();
            engine.panel.TxtRemoteIP.setText(QStringLiteral("127.0.0.1"));
            engine.ecr.ConnectSocket(false);
            rt.sleepServing(10);
        }
    }

    static sim::RegisterConfig tuned(sim::RegisterConfig c,
                                     const std::function<void(sim::RegisterConfig&)>& tune) {
        if (tune) {
            tune(c);
        }
        return c;
    }

    QString path(const char* name) const { return QDir(dir.path()).filePath(QLatin1String(name)); }
    QByteArray read(const char* name) const { return readFile(path(name), "<missing>"); }

    // Runs one job of the host's receipt through TransmitFile.
    std::int16_t job(const QByteArray& receipt) {
        writeFile(engine.job.InputFilePath, receipt);
        return engine.ecr.TransmitFile();
    }
    QList<QJsonObject> documents(const QString& kind) { return journal.documents(kind); }

    QTemporaryDir dir;
    VirtualRuntime rt;
    sim::RegisterModel model;
    ModelJournal journal{model};
    SimSerialControl serial{rt, model};
    SimSocketControl socket{rt, model};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};
};

} // namespace velmar::test
