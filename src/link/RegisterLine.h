#pragma once
// The register line: bytes to the register and its answer back, over the
// serial port (SerialLine) or TCP (TcpLine). A line knows how the register
// acknowledges what it was sent (its echo, or the answer to a receipt's last
// payment line), the STX..ETX frames, the XON/XOFF flow and the reply timer;
// what the answers mean is the dialogue's. What the register answers lands
// in LinkState::ReplyBuffer. An expected fault of the port or socket comes
// back as a value (LineFault); only a caller's own handler may throw.

#include "common/Fault.h"

#include <QByteArray>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace velmar {

using LineFault = std::optional<Fault>;

class RegisterLine {
public:
    static constexpr char STX = 2;
    static constexpr char ETX = 3;
    static constexpr char ACK = 6;

    // A whole frame seen while a receipt line goes out (1-based STX and ETX
    // positions in ReplyBuffer): true when it closed the receipt, and the
    // rest of the line is not sent.
    using FrameHandler = std::function<bool(int stx, int etx)>;

    virtual ~RegisterLine() = default;

    // Sets the channel's port up (serial); false when it cannot be.
    virtual bool configure(int port) = 0;
    // Opens the line for an exchange / closes it again (serial).
    virtual LineFault open() = 0;
    virtual LineFault close() = 0;
    // The line is up (the port open, the socket connected).
    virtual bool connected() const = 0;
    // The register holds the line (XOFF): it takes nothing now.
    virtual bool held() const = 0;

    // Sends one protocol string and checks the register's acknowledgement:
    // the echo (serial) or the answer to the last payment line (TCP).
    virtual bool SendString(const QByteArray& s) = 0;
    // Sends one line of a receipt as the family takes it: one character at
    // a time, each echoed (serial), or whole (TCP).
    virtual bool sendReceiptLine(const QByteArray& s, const FrameHandler& closed) = 0;
    // Sends a request and waits for the register's STX..ETX answer, left in
    // ReplyBuffer; false when none came.
    virtual bool SendRequest(const QByteArray& s) = 0;
    // Sends a request with no acknowledgement of its own and takes the
    // frame that answers it within the line's wait; false when none came.
    virtual std::pair<bool, LineFault> askFrame(const QByteArray& request) = 0;
    // Bytes with no answer awaited.
    virtual LineFault write(const QByteArray& bytes) = 0;
    // After a receipt: what the register sends within `ms` (serial; over
    // TCP the answer came with the last payment line).
    virtual void awaitClosing(int ms) = 0;
    // A frame begun in ReplyBuffer: what more of it has come (serial).
    virtual void readRestOfFrame() = 0;
    // Listens up to `ms` for the register's frames, handing each to `frame`,
    // until `enough`.
    virtual LineFault listen(int ms, const std::function<bool()>& enough,
                             const std::function<LineFault()>& frame) = 0;
};

// A whole STX..ETX frame in `s`: the 1-based positions of both; 0s when no
// frame begins, an ETX of 0 when it has not ended.
std::pair<int, int> frameIn(const QByteArray& s);
// The result code of a register's error answer (STX "ERR" nn ETX) in
// `bytes`; 0 when there is none.
std::int16_t registerErrorCode(const QByteArray& bytes);

} // namespace velmar
