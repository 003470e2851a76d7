#pragma once
// The state the register link shares with the rest of the engine: what the
// converter hands over, the reply timer's flags, the socket receive state.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace velmar {

struct LinkState {
    // From the converter.
    QString ConvertedFilePath; // XON.txt; set only by a conversion that reached its end
    bool NonFiscalOpen = false; // the receipt opened a non-fiscal document
    std::int16_t TotalLinesLeft = 0; // payment lines ("<digit>T") still to send

    // The transmission.
    QByteArray ResetString = "KK"; // sent before every job and dump
    bool RawFileMode = false;      // the next job's file is sent unchanged (test print)
    bool TransmitBusy = false;     // a transmission runs: the window may not close
    std::int16_t ComPortNo = 0;    // the port handed to OpenComPort
    bool InfoLinesWritten = false; // TIME/DATE written in this dialogue

    // Answers and the reply timer.
    QByteArray ReplyBuffer;
    bool ReplyTimedOut = false;
    std::uint8_t ReplyExtraTicks = 0;

    // Line.
    std::int32_t BaudRate = 9600;
    char XonChar = 17;
    char XoffChar = 19;
    std::int32_t SocketReplyTimeoutMs = 3500;

    // Socket receive state, written only by the socket events and WSResetReceive.
    QByteArray SocketRxBuffer;
    bool SocketRxReady = false;
    bool SocketRxArmed = false;
    bool SocketError = false;
    bool SocketLost = false;
};

} // namespace velmar
