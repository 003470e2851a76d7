// TransmitFile: one host job carried to the register.

#include "link/EcrLink.h"

#include "common/Cp1252.h"
#include "common/Fault.h"

#include <QFile>
#include <QFileInfo>

namespace velmar {

namespace {

// The lines of the file to play; false, with why, when it cannot be read.
// `ownOnly`: a file Velmar wrote itself (XON.txt), never one put in its
// place by someone else.
bool readLines(const QString& path, std::vector<QByteArray>& lines, bool ownOnly, QString& why) {
    LineReader in;
    if (!in.open(path, ownOnly)) {
        why = in.why();
        return false;
    }
    try {
        std::string raw;
        while (in.next(raw)) {
            lines.emplace_back(raw.data(), static_cast<qsizetype>(raw.size()));
        }
    } catch (const Fault& f) {
        why = QString::fromUtf8(f.description()) + QStringLiteral(" - ") +
              QString::number(f.number());
        return false;
    }
    return true;
}

// The operator's choices the converter reads, as they are now.
ConverterSettings converterSettings(const LinkSettings& settings) {
    return {settings.ecrVariant, settings.maxDescrLen, settings.registrationNumber};
}

} // namespace

std::int16_t EcrLink::TransmitFile() {
    LinkState& l = ctx_.link;
    JobState& job = ctx_.job;
    std::int16_t result = 0;
    l.NonFiscalOpen = false;
    l.ReceiptVoided = false;
    l.LinesSent = 0;
    l.LinesAcknowledged = 0;
    l.RegisterError = 0;
    l.ClosingAnswerSeen = false;
    l.QueriedNumber = -1;

    if (!QFileInfo::exists(job.InputFilePath)) {
        return -100;
    }
    l.TransmitBusy = true;
    const ExchangeGuard exchange(l.ExchangeDepth);
    const bool raw = l.RawFileMode;
    // A fault stops nothing: the flag is cleared and the next step runs.
    const auto step = [this, &l](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Fault& f) {
            trace_.fault(f, "TransmitFile");
            l.TransmitBusy = false;
        }
    };
    const auto stop = [&](std::int16_t code) {
        l.TransmitBusy = false;
        if (raw) {
            l.RawFileMode = false;
        }
        return code;
    };

    if (!raw) {
        std::int16_t converted = 0;
        for (int attempt = 1;; ++attempt) {
            // Forget the previous job's XON.txt: only this conversion may name
            // the file to play, or a stale receipt could print twice.
            l.ConvertedFilePath.clear();
            const ConversionResult conversion =
                ctx_.converter.ConvertSlFile(job.InputFilePath, converterSettings(ctx_.settings.linkSettings()));
            converted = conversion.code;
            l.ConvertedFilePath = conversion.outputPath;
            l.NonFiscalOpen = conversion.nonFiscalOpen;
            l.TotalLinesLeft = conversion.paymentLines;
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

    // What will be played, and where the host's answer goes: both must be at
    // hand before a byte leaves. A job whose commands cannot all be played is
    // never begun.
    std::vector<QByteArray> lines;
    LineWriter out;
    try {
        out.create(job.OutputFilePath);
    } catch (const Fault& f) {
        emit jobFileFault(QStringLiteral("lavoro non inviato, SR_OUT non scrivibile: ") +
                          QString::fromUtf8(f.description()));
        return stop(kDataDirFault);
    }
    const QString file = raw ? job.InputFilePath : l.ConvertedFilePath;
    QString why;
    if (!readLines(file, lines, !raw, why)) {
        emit jobFileFault(QStringLiteral("lavoro non inviato, file non leggibile: ") + why);
        return stop(kDataDirFault);
    }
    dialogue.setReceipt(lines);
    const auto forgetOutput = [&] { // nothing was played: no SR_OUT for the host
        out.close();
        QFile::remove(job.OutputFilePath);
    };
    if (const std::int16_t refused = dialogue.reachStage(TransmitObserver::Stage::Sending)) {
        forgetOutput();
        return stop(refused);
    }

    l.ComPortNo = job.iCurrentCom;
    if (ctx_.settings.linkSettings().serialMode) {
        if (!serialLine.OpenComPort(l.ComPortNo)) {
            forgetOutput();
            return stop(-12);
        }
        if (const LineFault f = serialLine.openPort()) {
            if (f->number() == faultno::PortAlreadyOpen) {
                emit portInUse(QString::fromUtf8(f->description()));
            }
            trace_.fault(*f, "TransmitFile");
            l.TransmitBusy = false;
        }
        l.XoffHeld = false; // a pause asked on an earlier opening is over
    }

    bool reset = false;
    step([&] { reset = SendString(l.ResetString); });
    if (!reset) {
        forgetOutput();
        result = -4;
    } else {
        if (l.PendingVoid) {
            // An earlier job may have left a receipt open: void it first.
            step([this] { dialogue.voidOpenReceipt(); });
        }
        dialogue.setOutput(&out);
        bool played = false;
        step([&] { played = dialogue.playLines(lines); });
        if (!played) {
            WaitMs(ctx_.runtime, 2000); // lets the register settle before it is asked
        }
        result = kOutcomeUnknown; // unless the register's answers settle it
        step([&] { result = dialogue.settleReceipt(played); });
        dialogue.setOutput(nullptr);
        try {
            out.close();
        } catch (const Fault& f) {
            // The receipt went to the register: its outcome stands, the
            // host's SR_OUT lacks what could not be written.
            emit jobFileFault(QStringLiteral("SR_OUT non scritto per intero: ") +
                              QString::fromUtf8(f.description()));
        }
    }
    // The test print's file is sent unchanged once, whatever happened to it.
    if (raw) {
        l.RawFileMode = false;
    }

    // The serial port is closed whatever the mode.
    if (const LineFault f = serialLine.close()) {
        trace_.fault(*f, "TransmitFile");
        l.TransmitBusy = false;
    }
    l.TransmitBusy = false;
    return result;
}

} // namespace velmar
