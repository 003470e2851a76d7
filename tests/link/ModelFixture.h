#pragma once
// An engine on the virtual runtime talking to the in-process register model:
// whole jobs and dumps of every family, with faults, in microseconds.

#include "app/Engine.h"
#include "support/SimLink.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace velmar::test {

inline sim::RegisterConfig registerConfig(int family, bool tcp, const QStringList& faults) {
    sim::RegisterConfig c;
    c.family = family;
    c.serial = !tcp;
    for (const QString& spec : faults) {
        QString error;
        const auto rule = sim::FaultRule::parse(spec, &error);
        if (!rule) {
            qFatal("bad fault %s: %s", qPrintable(spec), qPrintable(error));
        }
        c.faults << *rule;
    }
    return c;
}

struct ModelFixture {
    ModelFixture(int family, bool tcp = false, const QStringList& faults = {})
        : model(registerConfig(family, tcp, faults)) {
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

    QString path(const char* name) const { return QDir(dir.path()).filePath(QLatin1String(name)); }
    QByteArray read(const char* name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Runs one job of the host's receipt through TransmitFile.
    std::int16_t job(const QByteArray& receipt) {
        QFile f(engine.job.InputFilePath);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(receipt);
        f.close();
        return engine.ecr.TransmitFile();
    }

    // The register's journal so far, one object per document.
    QList<QJsonObject> journal() {
        for (const QByteArray& line : model.takeJournal()) {
            journal_ << QJsonDocument::fromJson(line).object();
        }
        return journal_;
    }
    QList<QJsonObject> documents(const QString& kind) {
        QList<QJsonObject> out;
        for (const QJsonObject& o : journal()) {
            if (o.value(QStringLiteral("kind")).toString() == kind) {
                out << o;
            }
        }
        return out;
    }

    QTemporaryDir dir;
    VirtualRuntime rt;
    sim::RegisterModel model;
    SimSerialControl serial{rt, model};
    SimSocketControl socket{rt, model};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};

private:
    QList<QJsonObject> journal_;
};

} // namespace velmar::test
