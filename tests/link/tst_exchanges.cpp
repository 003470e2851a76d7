// Register exchanges replayed against the engine in virtual time: every file
// in tests/data/exchanges/ is one row. A file says what is set up, what the
// register answers to each write and when, what the driver does, and what must
// come out. One line each, in order; '#' starts a comment line. Bytes are
// written in double quotes with C escapes (\r \n \" \\ \xHH); a value without
// quotes is the rest of the line.
//
//   family N               the register family (default 0)
//   tcp                    network mode, register at 10.0.0.5 (not connected)
//   connect                connect now (tcp); the socket must come up
//   set NAME VALUE         a value before the runs, see setValue() below
//   file NAME "BYTES"      a file in the data folder
//   echo MS                the register echoes every write after MS ms ...
//   silent "W" [FROM]      ... except W (from its FROM-th write on); * is all
//   reply "W" MS "BYTES"   ... and answers W (* every write) with BYTES after MS
//   arrive MS "BYTES"      bytes arrive unasked, MS ms from now
//   fail MS NUMBER         the connection breaks with error NUMBER (tcp)
//   refuse                 the register refuses connections (tcp)
//   run ACTION [ARG]       the driver: dialogue "XON", send "TEXT", bychar
//                          "TEXT", winsock "TEXT", job "RECEIPT" (transmit:
//                          the file as it is), dump N, restart N, opencom N,
//                          connect, close, receive (arm the socket), status
//                          (ShowDumpStatus), wait MS, click BUTTON
//   expect WHAT OP VALUE   after the runs; OP: = equal, ^ starts with,
//                          $ ends with, ~ contains, ! does not contain,
//                          < a number below.
//                          WHAT: result, elapsed (of each run, in ms, space
//                          separated), serial, socket (the bytes written),
//                          trace, ui (message texts, one a line), captions,
//                          file NAME ("<missing>" when absent), or a value
//                          of probe() below; a panel control by its name, or
//                          NAME.enabled. $ID in a value is this workstation's
//                          identifier.

#include "app/Engine.h"
#include "ident/WorkstationId.h"
#include "common/CaseTable.h"
#include "support/ScriptedPorts.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

struct Rule {
    QByteArray write; // "*": every write
    int ms = 0;
    QByteArray bytes;
    int from = 1; // silent from this write of `write` on
};

// A quoted string with C escapes at `s`; the rest is left in `s`.
QByteArray unquote(QByteArray& s) {
    s = s.trimmed();
    if (!s.startsWith('"')) {
        const int end = s.indexOf(' ');
        const QByteArray word = end < 0 ? s : s.left(end);
        s = end < 0 ? QByteArray() : s.mid(end + 1);
        return word;
    }
    // The closing quote is the first one no backslash escapes.
    int i = 1;
    while (i < s.size() && s[i] != '"') {
        i += s[i] == '\\' ? 2 : 1;
    }
    const QByteArray out = unescaped(s.mid(1, i - 1));
    s = s.mid(i + 1).trimmed();
    return out;
}

QByteArray rest(QByteArray& s) {
    s = s.trimmed();
    return s.startsWith('"') ? unquote(s) : std::exchange(s, QByteArray());
}

bool holds(const QByteArray& op, const QByteArray& actual, const QByteArray& value) {
    if (op == "=") return actual == value;
    if (op == "^") return actual.startsWith(value);
    if (op == "$") return actual.endsWith(value);
    if (op == "~") return actual.contains(value);
    if (op == "!") return !actual.contains(value);
    if (op == "<") return actual.toLongLong() < value.toLongLong();
    return false;
}

class Exchange {
public:
    Exchange() {
        engine.setDataDirectory(dir.path());
        engine.library.load(binDir());
        engine.panel.chbTrace.setValue(1);
        engine.trace.openTrace();
        engine.job.iCurrentCom = 1;
        engine.job.InputFilePath = path("SR_DATI.001");
        engine.job.OutputFilePath = path("SR_OUT.001");
        for (auto* b : engine.panel.findChildren<ButtonControl*>()) {
            QObject::connect(b, &ButtonControl::captionChanged,
                             [this](const QString& c) { captions << c; });
        }
        QObject::connect(&engine.dump, &ConfigDump::showWindowRequested, [this] { ++shown; });
        serial.answer = [this](const QByteArray& w) { return answer(w); };
        socket.answer = serial.answer;
    }
    ~Exchange() { engine.trace.closeTrace(); }

    // One line of the file; false with `why` when it cannot be read.
    bool apply(QByteArray line, QString& why) {
        const QByteArray key = unquote(line);
        if (key == "family") {
            engine.panel.cboAddedFunctions.setListIndex(line.trimmed().toInt());
        } else if (key == "tcp") {
            engine.panel.OptionRete.select();
            engine.panel.TxtRemoteIP.setText(QStringLiteral("10.0.0.5"));
        } else if (key == "connect") {
            engine.ecr.ConnectSocket(false);
            rt.sleepServing(10);
            if (socket.state() != SocketControl::Connected) {
                return (why = QStringLiteral("not connected"), false);
            }
        } else if (key == "set") {
            const QByteArray name = unquote(line);
            return setValue(name, rest(line)) || (why = QStringLiteral("no value ") + name, false);
        } else if (key == "file") {
            const QByteArray name = unquote(line);
            writeFile(path(name), rest(line));
        } else if (key == "echo") {
            echoMs = line.trimmed().toInt();
        } else if (key == "silent") {
            Rule r;
            r.write = unquote(line);
            r.from = line.trimmed().isEmpty() ? 1 : line.trimmed().toInt();
            silent << r;
        } else if (key == "reply") {
            Rule r;
            r.write = unquote(line);
            r.ms = unquote(line).toInt();
            r.bytes = rest(line);
            replies << r;
        } else if (key == "arrive") {
            const int ms = unquote(line).toInt();
            const QByteArray bytes = rest(line);
            rt.callLater(ms, [this, bytes] {
                socket.arrive(bytes);
                serial.arriveLater(0, bytes);
            });
        } else if (key == "fail") {
            const int ms = unquote(line).toInt();
            socket.failLater(ms, line.trimmed().toInt());
        } else if (key == "refuse") {
            socket.refuse = true;
        } else if (key == "run") {
            const QByteArray action = unquote(line);
            const QByteArray arg = rest(line);
            const auto start = rt.nowUs();
            if (!run(action, arg)) {
                return (why = QStringLiteral("no action ") + action, false);
            }
            elapsed << QByteArray::number((rt.nowUs() - start) / 1000);
        } else if (key == "expect") {
            return expect(line, why);
        } else {
            return (why = QStringLiteral("no keyword ") + key, false);
        }
        return true;
    }

private:
    QString path(const QByteArray& name) const { return QDir(dir.path()).filePath(QString::fromLatin1(name)); }

    QList<Reply> answer(const QByteArray& w) {
        const int seen = ++writes[w];
        QList<Reply> out;
        bool quiet = echoMs < 0;
        for (const Rule& r : silent) {
            quiet = quiet || ((r.write == "*" || r.write == w) && seen >= r.from);
        }
        if (!quiet) {
            out << Reply{echoMs, w};
        }
        for (const Rule& r : replies) {
            if (r.write == "*" || r.write == w) {
                out << Reply{r.ms, r.bytes};
            }
        }
        return out;
    }

    bool setValue(const QByteArray& name, const QByteArray& v) {
        LinkState& l = engine.link;
        if (name == "linesLeft") l.TotalLinesLeft = std::int16_t(v.toInt());
        else if (name == "replyTimeoutMs") l.SocketReplyTimeoutMs = v.toInt();
        else if (name == "port") engine.job.iCurrentCom = std::int16_t(v.toInt());
        else if (name == "nonFiscalOpen") l.NonFiscalOpen = v == "1";
        else if (name == "raw") l.RawFileMode = v == "1";
        else if (name == "busy") l.TransmitBusy = v == "1";
        else if (name == "open") serial.open = v == "1";
        else if (name == "dumpPending") engine.job.bDumpInProgress = v == "1";
        else if (name == "jobRunning") engine.job.bJobRunning = v == "1";
        else if (name == "closing") engine.job.bClosing = v == "1";
        else if (name == "showStatus") engine.job.bShowStatus = v == "1";
        else if (name == "dumpConf") for (int ch = 0; ch < 5 && ch < v.size(); ++ch) engine.job.bDumpConf[ch] = v[ch] == '1';
        else if (name == "lamps") for (int ch = 1; ch <= 4; ++ch) engine.panel.portLamp(ch).setColor(v.toInt());
        else if (name.startsWith("Check")) panel<CheckControl>(name)->setValue(v.toInt());
        else if (name == "cmbBaude" || name.startsWith("T")) text(name, v);
        else return false;
        return true;
    }
    void text(const QByteArray& name, const QByteArray& v) {
        if (name == "cmbBaude") {
            engine.panel.cmbBaude.setText(QString::fromLatin1(v));
        } else {
            panel<TextControl>(name)->setText(QString::fromLatin1(v));
        }
    }

    template <typename T> T* panel(const QByteArray& name) {
        for (T* c : engine.panel.findChildren<T*>()) {
            if (c->name() == QLatin1String(name)) {
                return c;
            }
        }
        return nullptr;
    }

    bool run(const QByteArray& action, const QByteArray& arg) {
        if (action == "dialogue") {
            writeFile(path("XON.txt"), arg);
            results << QByteArray::number(engine.ecr.dialogue.RunEcrDialogue(path("XON.txt")));
        } else if (action == "send") {
            results << QByteArray::number(engine.ecr.SendString(arg));
        } else if (action == "bychar") {
            results << QByteArray::number(engine.ecr.dialogue.sendReceiptLine(arg));
        } else if (action == "winsock") {
            results << QByteArray::number(engine.ecr.tcpLine.SendStringWinsock(arg));
        } else if (action == "job") {
            writeFile(engine.job.InputFilePath, arg);
            results << QByteArray::number(engine.ecr.TransmitFile());
        } else if (action == "dump") {
            engine.dump.RunDumpRequest(std::int16_t(arg.toInt()));
        } else if (action == "restart") {
            results << QByteArray::number(engine.ecr.tcpLine.ResetReStartConnection(std::int16_t(arg.toInt())));
        } else if (action == "opencom") {
            results << QByteArray::number(engine.ecr.serialLine.OpenComPort(std::int16_t(arg.toInt())));
        } else if (action == "connect") {
            engine.ecr.ConnectSocket(false);
            rt.sleepServing(10);
        } else if (action == "close") {
            results << QByteArray::number(engine.ecr.tcpLine.CloseSocketConnection());
        } else if (action == "receive") {
            engine.ecr.tcpLine.WSResetReceive();
        } else if (action == "status") {
            engine.dump.ShowDumpStatus();
        } else if (action == "transmit") {
            results << QByteArray::number(engine.ecr.TransmitFile());
        } else if (action == "wait") {
            rt.sleepServing(arg.toInt());
        } else if (auto* b = panel<ButtonControl>(arg); action == "click" && b) {
            b->click();
        } else {
            return false;
        }
        return true;
    }

    // A value after the runs, as text.
    QByteArray probe(const QByteArray& name) {
        const LinkState& l = engine.link;
        const auto flag = [](bool b) { return b ? QByteArray("1") : QByteArray("0"); };
        if (name == "busy") return flag(l.TransmitBusy);
        if (name == "open") return flag(serial.open);
        if (name == "port") return QByteArray::number(serial.port);
        if (name == "settings") return serial.settings().toLatin1();
        if (name == "connects") return QByteArray::number(socket.connects);
        if (name == "remotePort") return QByteArray::number(socket.remotePort);
        if (name == "connected") return flag(socket.state() == SocketControl::Connected);
        if (name == "socketLost") return flag(l.SocketLost);
        if (name == "socketError") return flag(l.SocketError);
        if (name == "replyBuffer") return l.ReplyBuffer;
        if (name == "linesLeft") return QByteArray::number(l.TotalLinesLeft);
        if (name == "raw") return flag(l.RawFileMode);
        if (name == "infoWritten") return flag(l.InfoLinesWritten);
        if (name == "dumpPending") return flag(engine.job.bDumpInProgress);
        if (name == "showStatus") return flag(engine.job.bShowStatus);
        if (name == "baud") return QByteArray::number(l.BaudRate);
        if (name == "replyTimer") return flag(engine.ecr.Timer1.active());
        if (name == "rxBuffer") return l.SocketRxBuffer;
        if (name == "rxReady") return flag(l.SocketRxReady);
        if (name == "rxArmed") return flag(l.SocketRxArmed);
        if (name == "settleTicks") return QByteArray::number(engine.job.iSettleTicks);
        if (name == "pollMs") return QByteArray::number(engine.Timer21->isActive() ? engine.Timer21->interval() : 0);
        if (name == "shown") return QByteArray::number(shown);
        if (name == "dumpConf") {
            QByteArray out;
            for (bool b : engine.job.bDumpConf) out += flag(b);
            return out;
        }
        if (name.endsWith(".enabled")) {
            auto* c = panel<PanelControl>(name.chopped(8));
            return c ? flag(c->enabled()) : "<no such control>";
        }
        if (auto* t = panel<TextControl>(name)) return t->text().toLatin1();
        if (auto* c = panel<CheckControl>(name)) return QByteArray::number(c->value());
        if (auto* b = panel<ButtonControl>(name)) return b->caption().toLatin1();
        if (auto* lamp = panel<LampControl>(name)) return QByteArray::number(lamp->fillColor());
        return "<no such value>";
    }

    bool expect(QByteArray line, QString& why) {
        const QByteArray what = unquote(line);
        const QByteArray name = what == "file" ? unquote(line) : QByteArray();
        const QByteArray op = unquote(line);
        const QByteArray value = rest(line).replace("$ID", workstationIdentifier());
        QByteArray actual;
        if (what == "result") actual = results.join(' ');
        else if (what == "elapsed") actual = elapsed.join(' ');
        else if (what == "serial") actual = serial.written;
        else if (what == "socket") actual = socket.written;
        else if (what == "trace") actual = readFile(engine.trace.fileName());
        else if (what == "ui") actual = ui.texts().join(QLatin1Char('\n')).toLatin1();
        else if (what == "captions") actual = captions.join(QLatin1Char('|')).toLatin1();
        else if (what == "file") actual = readFile(path(name), "<missing>");
        else actual = probe(what);
        if (holds(op, actual, value)) {
            return true;
        }
        why = QStringLiteral("expect %1 %2 %3 %4\n   actual: %5")
                  .arg(QString::fromLatin1(what), QString::fromLatin1(name), QString::fromLatin1(op),
                       QString::fromLatin1(value.toPercentEncoding(" :,;/.'\"")),
                       QString::fromLatin1(actual.toPercentEncoding(" :,;/.'\"")));
        return false;
    }

    QTemporaryDir dir;
    VirtualRuntime rt;
    ScriptedSerialControl serial{rt};
    ScriptedSocketControl socket{rt};
    ScriptedOperatorUi ui;
    RecordingProgramExit programExit;
    Engine engine{EngineServices{rt, serial, socket, ui, programExit, dir.path()}};

    int echoMs = -1;
    QList<Rule> silent, replies;
    QHash<QByteArray, int> writes;
    QByteArrayList results, elapsed;
    QStringList captions;
    int shown = 0;
};

} // namespace

class TestExchanges : public QObject {
    Q_OBJECT

private slots:
    void replay_data() {
        QTest::addColumn<QString>("file");
        QDirIterator it(testDataDir() + QStringLiteral("/exchanges"), {QStringLiteral("*.txt")});
        QStringList files;
        while (it.hasNext()) {
            files << it.next();
        }
        files.sort();
        QVERIFY(files.size() > 40);
        for (const QString& f : files) {
            QTest::newRow(qPrintable(QFileInfo(f).completeBaseName())) << f;
        }
    }
    void replay() {
        QFETCH(QString, file);
        Exchange x;
        int expectations = 0;
        int number = 0;
        for (const QByteArray& raw : readFile(file).split('\n')) {
            ++number;
            const QByteArray line = raw.trimmed();
            if (line.isEmpty() || line.startsWith('#')) {
                continue;
            }
            expectations += line.startsWith("expect ");
            QString why;
            QVERIFY2(x.apply(line, why), qPrintable(QStringLiteral("line %1: %2").arg(number).arg(why)));
        }
        QVERIFY2(expectations > 0, "an exchange without expectations checks nothing");
    }
};

QTEST_GUILESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
