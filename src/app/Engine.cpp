#include "app/Engine.h"

#include "ident/WorkstationId.h"

namespace velmar {

Engine::Engine(EngineServices s, QObject* parent)
    : QObject(parent), runtime(s.runtime), serial(s.serial), socket(s.socket), ui(s.ui),
      exit(s.exit), programFolder(s.programFolder),
      Timer21(runtime.createTimer([this] { emit pollTick(); })),
      converter(ConverterContext{tables, library, ui, job.DataDir, job.iCurrentCom}),
      ecr(LinkContext{runtime, linkPanel, linkPanel, job, link, trace, serial, socket, converter, ui, exit,
                      *Timer21}),
      dump(DumpContext{panel, job, link, ecr, files, trace, ui, *Timer21, workstationIdentifier}) {
    Timer21->setInterval(job.nPollInterval);
    ecr.setProgramFolder(programFolder);
    linkPanel.connectActions(ecr, ui);
}

Engine::~Engine() = default;

void Engine::setDataDirectory(const QString& dir) {
    job.DataDir = dir;
    tables.setDataDirectory(dir);
}

} // namespace velmar
