#pragma once
// The engine: every part of the driver wired together, with the module-level
// state they share. The programs (velmar, velmard) build one on the real
// runtime and ports; the tests build one on the virtual runtime and the
// in-process register.

#include "app/LinkPanel.h"
#include "channel/ChannelFiles.h"
#include "channel/JobState.h"
#include "channel/TraceLog.h"
#include "common/OperatorUi.h"
#include "common/Runtime.h"
#include "convert/Mod_SLParser.h"
#include "ident/ConfigDump.h"
#include "link/Module1.h"
#include "panel/OperatorPanel.h"
#include "tables/DepartmentTables.h"

#include <QObject>
#include <memory>

namespace velmar {

struct EngineServices {
    Runtime& runtime;
    SerialControl& serial;
    SocketControl& socket;
    OperatorUi& ui;
    ProgramExit& exit;
    QString programFolder; // the executable's folder: settings files, qarn_slm1
};

class Engine : public QObject {
    Q_OBJECT
public:
    explicit Engine(EngineServices services, QObject* parent = nullptr);
    ~Engine() override;

    Runtime& runtime;
    SerialControl& serial;
    SocketControl& socket;
    OperatorUi& ui;
    ProgramExit& exit;
    const QString programFolder;

    OperatorPanel panel;
    JobState job;
    LinkState link;
    ConversionLibrary library;
    DepartmentTables tables{ui};
    TraceLog trace{runtime, [this] { return panel.chbTrace.value() == 1; }, job};
    ChannelFiles files{runtime, job, trace};
    std::unique_ptr<RuntimeTimer> Timer21; // the poll timer
    SlConverter converter;
    LinkPanel linkPanel{panel}; // the panel as the link reads and shows it
    EcrLink ecr;
    ConfigDump dump;

    // Points the data directory of every part at `dir`.
    void setDataDirectory(const QString& dir);

signals:
    // A tick of the poll timer; the job cycle connects its handler.
    void pollTick();
};

} // namespace velmar
