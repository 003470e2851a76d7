#pragma once
// The job cycle's state, shared by the job step, the dump and the link.

#include <QString>
#include <array>
#include <cstdint>

namespace velmar {

struct JobState {
    QString DataDir;                 // where the channel files live; no trailing separator
    std::int16_t iCurrentCom = 1;    // the channel being served, 1-4
    bool bJobRunning = false;        // a host job is being transmitted
    bool bDumpInProgress = false;    // a configuration dump runs: poll ticks do nothing
    bool bDumpConfActive = false;    // the dump is inside its exchange with the register
    bool bClosing = false;           // shut-down has begun
    bool bShowStatus = false;        // progress texts go to the operator window
    std::int16_t iSettleTicks = 0;   // the next tick only restores the poll interval
    std::int32_t nPollInterval = 1000;
    std::int16_t iTickCount = 0;
    std::array<bool, 5> bDumpConf{}; // [1]..[4]: the channel has no valid dump
    std::array<bool, 5> bPortAvailable{}; // [1]..[4]
    QString InputFilePath;           // SR_DATI.00n of the accepted job
    QString OutputFilePath;          // SR_OUT.00n of the accepted job
};

} // namespace velmar
