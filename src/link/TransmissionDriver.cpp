// TransmitFile: one host job carried to the register.

#include "link/EcrLink.h"

#include "common/Fault.h"

#include <QFileInfo>

namespace velmar {

std::int16_t EcrLink::TransmitFile() {
    LinkState& l = ctx_.link;
    JobState& job = ctx_.job;
    std::int16_t result = 0;
    l.NonFiscalOpen = false;

    if (!QFileInfo::exists(job.InputFilePath)) {
        return -100;
    }
    l.TransmitBusy = true;
    const bool raw = l.RawFileMode;
    // A fault stops nothing: the flag is cleared and the next step runs.
    const auto step = [&l](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault&) {
            l.TransmitBusy = false;
        }
    };

    if (!raw) {
        std::int16_t converted = 0;
        for (int attempt = 1;; ++attempt) {
            // Forget the previous job's XON.txt: only this conversion may name
            // the file to play, or a stale receipt could print twice.
            l.ConvertedFilePath.clear();
            converted = ctx_.converter.ConvertSlFile(job.InputFilePath);
            if (converted != 0 || !l.ConvertedFilePath.isEmpty()) {
                break;
            }
            if (attempt == 3) {
                l.TransmitBusy = false;
                emit conversionRefused(ctx_.converter.lastReason());
                return -11;
            }
            WaitMs(ctx_.runtime, 100);
        }
        if (converted == 1) {
            l.TransmitBusy = false;
            emit conversionRefused(ctx_.converter.lastReason());
            return -11;
        }
    }

    l.ComPortNo = job.iCurrentCom;
    const bool serial = ctx_.panel.serialMode();
    if (serial) {
        if (!OpenComPort(l.ComPortNo)) {
            l.TransmitBusy = false;
            if (raw) {
                l.RawFileMode = false;
            }
            return -12;
        }
        step([this] {
            if (!ctx_.serial.portOpen()) {
                ctx_.serial.setPortOpen(true);
            }
        });
    }

    bool reset = false;
    step([&] { reset = SendString(l.ResetString); });
    if (!reset) {
        result = -4;
    } else {
        bool played = false;
        step([&] { played = RunEcrDialogue(raw ? job.InputFilePath : l.ConvertedFilePath); });
        if (played) {
            result = 0;
        } else {
            WaitMs(ctx_.runtime, 2000); // lets the register settle before the host is told
            result = -4;
        }
    }
    // The test print's file is sent unchanged once, whatever happened to it.
    if (raw) {
        l.RawFileMode = false;
    }

    step([this] {
        if (ctx_.serial.portOpen()) {
            ctx_.serial.setPortOpen(false);
        }
    });
    l.TransmitBusy = false;
    return result;
}

} // namespace velmar
