#pragma once
// An engine on the virtual runtime whose register is a script: for the
// answer cases that need exact bytes at exact times.

#include "app/Engine.h"
#include "support/ScriptedPorts.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace velmar::test {

struct ScriptedFixture {
    ScriptedFixture() {
        engine.setDataDirectory(dir.path());
        engine.library.load(binDir());
        engine.panel.chbTrace.setValue(1);
        engine.trace.openTrace(); // every test may read what the link traced
    }
    ~ScriptedFixture() { engine.trace.closeTrace(); }

    std::int64_t elapsedMs(std::int64_t sinceUs) const { return (rt.nowUs() - sinceUs) / 1000; }

    QByteArray traceText() const {
        QFile f(engine.trace.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Answers every serial write with its echo after `ms`.
    void echoAll(int ms = 1) {
        serial.answer = [ms](const QByteArray& w) { return QList<Reply>{{ms, w}}; };
    }

    void networkMode() { engine.panel.OptionRete.select(); }

    QTemporaryDir dir;
    VirtualRuntime rt;
    ScriptedSerialControl serial{rt};
    ScriptedSocketControl socket{rt};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};
};

} // namespace velmar::test
