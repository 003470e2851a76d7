// The settings files: how values are read, the start-up rules with their
// defaults, the poll interval rule, and what the shut-down writes back.

#include "ProgramFixture.h"

#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

using Values = QList<QByteArray>;

QList<int> ticksOf(OperatorPanel& p) {
    return {p.Check1.value(), p.Check2.value(), p.Check3.value(), p.Check4.value()};
}

} // namespace

class TestSettingsFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    void initTestCase() { isolateUserFolders(home_.path()); }

    // ---- reading values ------------------------------------------------

    void readValues_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Values>("expected");
        QTest::newRow("one value") << QByteArray("1100\r\n") << Values{"1100"};
        QTest::newRow("last line without end") << QByteArray("1100") << Values{"1100"};
        QTest::newRow("commas split") << QByteArray("a,b,c\r\n") << Values{"a", "b", "c"};
        QTest::newRow("lines in order") << QByteArray("5\r\n30\r\n1\r\n") << Values{"5", "30", "1"};
        QTest::newRow("LF only") << QByteArray("x\ny\n") << Values{"x", "y"};
        QTest::newRow("blanks around dropped") << QByteArray("  42  \r\n") << Values{"42"};
        QTest::newRow("quotes dropped") << QByteArray("\"0101\"\r\n") << Values{"0101"};
        QTest::newRow("quotes and blanks per field")
            << QByteArray(" \"a\" , b ,\"c\"\r\n") << Values{"a", "b", "c"};
        QTest::newRow("inner blank kept")
            << QByteArray("\"via Roma 1\"\r\n") << Values{"via Roma 1"};
        QTest::newRow("trailing comma: empty last field")
            << QByteArray("a,\r\n") << Values{"a", ""};
        QTest::newRow("empty line is one empty value")
            << QByteArray("1\r\n\r\n3\r\n") << Values{"1", "", "3"};
        QTest::newRow("empty file") << QByteArray() << Values{};
        QTest::newRow("8-bit bytes kept") << QByteArray("Citt\xE0\r\n") << Values{"Citt\xE0"};
    }
    void readValues() {
        QFETCH(QByteArray, content);
        QFETCH(Values, expected);
        ProgramFixture f;
        f.setting(SettingsFiles::kOptions, content);
        const auto values = f.program.settings.readValues(SettingsFiles::kOptions);
        QVERIFY(values.has_value());
        Values got;
        for (const std::string& v : *values) {
            got << QByteArray::fromStdString(v);
        }
        QCOMPARE(got, expected);
    }

    void readValuesOfMissingFile() {
        ProgramFixture f;
        QVERIFY(!f.program.settings.readValues(SettingsFiles::kOptions).has_value());
    }

    // ---- VMCHKCOM.TXT --------------------------------------------------

    void channelTicks_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<int>>("ticks");
        QTest::newRow("1100") << true << QByteArray("1100\r\n") << QList<int>{1, 1, 0, 0};
        QTest::newRow("0000") << true << QByteArray("0000\r\n") << QList<int>{0, 0, 0, 0};
        QTest::newRow("only 1 ticks") << true << QByteArray("1x1y\r\n") << QList<int>{1, 0, 1, 0};
        QTest::newRow("two characters: all")
            << true << QByteArray("10\r\n") << QList<int>{1, 1, 1, 1};
        QTest::newRow("three characters: all")
            << true << QByteArray("000\r\n") << QList<int>{1, 1, 1, 1};
        QTest::newRow("five characters")
            << true << QByteArray("01100\r\n") << QList<int>{0, 1, 1, 0};
        QTest::newRow("quoted") << true << QByteArray("\"0101\"\r\n") << QList<int>{0, 1, 0, 1};
        QTest::newRow("blanks around")
            << true << QByteArray(" 0011 \r\n") << QList<int>{0, 0, 1, 1};
        QTest::newRow("first value only")
            << true << QByteArray("0001,1111\r\n") << QList<int>{0, 0, 0, 1};
        QTest::newRow("first line only")
            << true << QByteArray("1000\r\n1111\r\n") << QList<int>{1, 0, 0, 0};
        QTest::newRow("empty line: all") << true << QByteArray("\r\n") << QList<int>{1, 1, 1, 1};
        QTest::newRow("empty file: all") << true << QByteArray() << QList<int>{1, 1, 1, 1};
        QTest::newRow("no file: all") << false << QByteArray() << QList<int>{1, 1, 1, 1};
    }
    void channelTicks() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, ticks);
        ProgramFixture f;
        // Each tick starts at the opposite of what the file asks for.
        for (int n = 1; n <= 4; ++n) {
            f.panel.check(n).setValue(1 - ticks.at(n - 1));
        }
        if (present) {
            f.setting(SettingsFiles::kChannels, content);
        }
        f.program.settings.loadChannelTicks();
        QCOMPARE(ticksOf(f.panel), ticks);
    }

    // Ticks from the file first, then the probe of each port: an unavailable
    // port clears and disables its tick.
    void channelTicksAfterPortProbe() {
        ProgramFixture f;
        f.serial.missing = {3};
        f.setting(SettingsFiles::kChannels, "1010\r\n");
        QVERIFY(f.start());
        QCOMPARE(ticksOf(f.panel), (QList<int>{1, 0, 0, 0}));
        QVERIFY(!f.panel.Check3.enabled());
        QVERIFY(f.panel.Check1.enabled());
        QVERIFY(f.panel.Check2.enabled());
        QVERIFY(f.panel.Check4.enabled());
        QVERIFY(f.engine.job.bPortAvailable[1]);
        QVERIFY(f.engine.job.bPortAvailable[2]);
        QVERIFY(!f.engine.job.bPortAvailable[3]);
        QVERIFY(f.engine.job.bPortAvailable[4]);
    }

    void shortTickValueAtStartUp() {
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, "10\r\n");
        QVERIFY(f.start());
        QCOMPARE(ticksOf(f.panel), (QList<int>{1, 1, 1, 1}));
    }

    // ---- VMTIMER1.TXT --------------------------------------------------

    void pollIntervalAtStartUp_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("field"); // "=" when the field keeps its text
        QTest::newRow("seconds") << true << QByteArray("5\r\n") << 5000 << "5";
        QTest::newRow("milliseconds") << true << QByteArray("500\r\n") << 500 << "500ms";
        QTest::newRow("between 60 and 100") << true << QByteArray("75\r\n") << 60000 << "60";
        QTest::newRow("zero") << true << QByteArray("0\r\n") << 1000 << "=";
        QTest::newRow("empty line") << true << QByteArray("\r\n") << 1000 << "=";
        QTest::newRow("empty file") << true << QByteArray() << 1000 << "=";
        QTest::newRow("no file") << false << QByteArray() << 1000 << "=";
        QTest::newRow("with ms") << true << QByteArray("500ms\r\n") << 500 << "500ms";
        QTest::newRow("decimal seconds") << true << QByteArray("1.5\r\n") << 1500 << "1.5";
        QTest::newRow("60 is seconds") << true << QByteArray("60\r\n") << 60000 << "60";
        QTest::newRow("just above 60") << true << QByteArray("60.5\r\n") << 60000 << "60";
        QTest::newRow("just below 100") << true << QByteArray("99.9\r\n") << 60000 << "60";
        QTest::newRow("100 is milliseconds") << true << QByteArray("100\r\n") << 100 << "100ms";
        QTest::newRow("60000 ms") << true << QByteArray("60000\r\n") << 60000 << "60000ms";
        QTest::newRow("above 60000") << true << QByteArray("60001\r\n") << 60000 << "60";
        QTest::newRow("negative") << true << QByteArray("-3\r\n") << 1000 << "=";
        QTest::newRow("no number") << true << QByteArray("abc\r\n") << 1000 << "=";
        QTest::newRow("blanks around") << true << QByteArray("  2  \r\n") << 2000 << "2";
        QTest::newRow("quoted") << true << QByteArray("\"3\"\r\n") << 3000 << "3";
        QTest::newRow("first value") << true << QByteArray("4,9\r\n") << 4000 << "4";
        QTest::newRow("half a second") << true << QByteArray("0.5\r\n") << 500 << "0.5";
        QTest::newRow("never below 1 ms") << true << QByteArray("0.0001\r\n") << 1 << "0.0001";
        QTest::newRow("half ms to even (down)")
            << true << QByteArray("250.5\r\n") << 250 << "250.5ms";
        QTest::newRow("half ms to even (up)")
            << true << QByteArray("251.5\r\n") << 252 << "251.5ms";
    }
    void pollIntervalAtStartUp() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(int, interval);
        QFETCH(QString, field);
        ProgramFixture f;
        if (present) {
            f.setting(SettingsFiles::kTimer, content);
        }
        const QString before = f.panel.txtTimerVal.text();
        QVERIFY(f.start());
        const QString expectedField = field == QLatin1String("=") ? before : field;
        QCOMPARE(f.engine.job.nPollInterval, interval);
        QCOMPARE(f.panel.txtTimerVal.text(), expectedField);
        // Rewritten at every start-up with the field's text.
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kTimer))),
                 expectedField.toLatin1() + "\r\n");
        QCOMPARE(f.engine.Timer21->interval(), interval);
    }

    // The field keeps whatever it showed when the value gives no interval.
    void pollIntervalKeepsFieldWhenNoValue() {
        ProgramFixture f;
        f.panel.txtTimerVal.setText(QStringLiteral("7"));
        f.engine.job.nPollInterval = 4321;
        f.setting(SettingsFiles::kTimer, "0\r\n");
        f.program.settings.loadPollInterval();
        QCOMPARE(f.engine.job.nPollInterval, 1000);
        QCOMPARE(f.panel.txtTimerVal.text(), QStringLiteral("7"));
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kTimer))), QByteArray("7\r\n"));
    }

    void calculateTimerSaves_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("1500 ms: seconds") << "1.5" << 1500 << QByteArray("1.5\r\n");
        QTest::newRow("500 ms: milliseconds") << "500" << 500 << QByteArray("500\r\n");
        QTest::newRow("500ms typed") << "500ms" << 500 << QByteArray("500\r\n");
        QTest::newRow("5 s") << "5" << 5000 << QByteArray("5\r\n");
        QTest::newRow("1000 ms is 1 s") << "1000" << 1000 << QByteArray("1\r\n");
        QTest::newRow("999 ms") << "999" << 999 << QByteArray("999\r\n");
        QTest::newRow("1234 ms") << "1234" << 1234 << QByteArray("1.234\r\n");
        QTest::newRow("quarter second") << "0.25" << 250 << QByteArray("250\r\n");
        QTest::newRow("75 gives 60 s") << "75" << 60000 << QByteArray("60\r\n");
        QTest::newRow("zero gives 1 s") << "0" << 1000 << QByteArray("1\r\n");
        QTest::newRow("empty gives 1 s") << "" << 1000 << QByteArray("1\r\n");
    }
    void calculateTimerSaves() {
        QFETCH(QString, input);
        QFETCH(int, interval);
        QFETCH(QByteArray, saved);
        ProgramFixture f;
        f.setting(SettingsFiles::kTimer, "something else\r\nand more\r\n");
        f.program.settings.CalculateTimer(input, true);
        QCOMPARE(f.engine.job.nPollInterval, interval);
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kTimer))), saved);
    }

    void calculateTimerWithoutSaving() {
        ProgramFixture f;
        f.program.settings.CalculateTimer(QStringLiteral("2"), false);
        QCOMPARE(f.engine.job.nPollInterval, 2000);
        QCOMPARE(f.panel.txtTimerVal.text(), QStringLiteral("2"));
        QVERIFY(!QFile::exists(f.folder(QLatin1String(SettingsFiles::kTimer))));
    }

    // ---- VMChkBd.txt ---------------------------------------------------

    void lineSpeed_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("shown");
        QTest::newRow("19200") << true << QByteArray("19200\r\n") << 19200 << "19200";
        QTest::newRow("blanks around") << true << QByteArray(" 38400 \r\n") << 38400 << "38400";
        QTest::newRow("empty") << true << QByteArray("\r\n") << 9600 << "9600";
        QTest::newRow("not a number") << true << QByteArray("veloce\r\n") << 9600 << "9600";
        QTest::newRow("no file") << false << QByteArray() << 9600 << "9600";
    }
    void lineSpeed() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(int, baud);
        QFETCH(QString, shown);
        ProgramFixture f;
        f.engine.link.BaudRate = 4800;
        f.panel.cmbBaude.setText(QStringLiteral("4800"));
        if (present) {
            f.setting(SettingsFiles::kBaud, content);
        }
        f.program.settings.loadLineSpeed();
        QCOMPARE(f.engine.link.BaudRate, baud);
        QCOMPARE(f.panel.cmbBaude.text(), shown);
    }

    // ---- VMCHKSCO.TXT --------------------------------------------------

    void options_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("family");
        QTest::addColumn<QString>("maxLen");
        QTest::addColumn<int>("trace");
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("address"); // TxtRemoteIP and the remote host
        QTest::addColumn<int>("remotePort");  // 0: not set
        QTest::addColumn<QString>("matricola");
        QTest::addColumn<int>("timeout");

        QTest::newRow("no file: family 5, serial")
            << false << QByteArray() << 5 << "30" << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("all eight lines")
            << true
            << QByteArray(" 3 \r\n24\r\n1\r\n1\r\n192.168.1.50\r\n9100\r\n96ABC123\r\n5000\r\n")
            << 3 << "24" << 1 << true << "192.168.1.50" << 6660 << "96ABC123" << 5000;
        QTest::newRow("port 7000 becomes 6660")
            << true << QByteArray("5\r\n30\r\n0\r\n1\r\n10.0.0.7\r\n7000\r\n\r\n3500\r\n") << 5
            << "30" << 0 << true << "10.0.0.7" << 6660 << "" << 3500;
        QTest::newRow("three lines: serial, 6660, 3500")
            << true << QByteArray("2\r\n20\r\n1\r\n") << 2 << "20" << 1 << false << "" << 0 << ""
            << 3500;
        QTest::newRow("one line") << true << QByteArray("4\r\n") << 4 << "30" << 0 << false << ""
                                  << 0 << "" << 3500;
        QTest::newRow("family 6 is the last")
            << true << QByteArray("6\r\n") << 6 << "30" << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("family out of range")
            << true << QByteArray("7\r\n") << 0 << "30" << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("family not a number")
            << true << QByteArray("abc\r\n") << 0 << "30" << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("length not a number") << true << QByteArray("1\r\nlungo\r\n") << 1 << "30"
                                             << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("length outside the list shown as read")
            << true << QByteArray("1\r\n40\r\n") << 1 << "40" << 0 << false << "" << 0 << ""
            << 3500;
        QTest::newRow("tracing only for 1") << true << QByteArray("1\r\n18\r\n2\r\n") << 1 << "18"
                                            << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("tracing 1 in blanks") << true << QByteArray("1\r\n18\r\n 1 \r\n") << 1
                                             << "18" << 1 << false << "" << 0 << "" << 3500;
        QTest::newRow("network 2 is serial")
            << true << QByteArray("0\r\n30\r\n0\r\n2\r\n10.0.0.1\r\n") << 0 << "30" << 0 << false
            << "10.0.0.1" << 0 << "" << 3500;
        QTest::newRow("network not a number") << true << QByteArray("0\r\n30\r\n0\r\nsi\r\n") << 0
                                              << "30" << 0 << false << "" << 0 << "" << 3500;
        QTest::newRow("network 1.0") << true << QByteArray("0\r\n30\r\n0\r\n1.0\r\n") << 0 << "30"
                                     << 0 << true << "" << 0 << "" << 3500;
        QTest::newRow("address field above 255")
            << true << QByteArray("0\r\n30\r\n0\r\n1\r\n192.168.1.256\r\n6660\r\n") << 0 << "30"
            << 0 << true << "" << 6660 << "" << 3500;
        QTest::newRow("address of three fields")
            << true << QByteArray("0\r\n30\r\n0\r\n1\r\n10.0.1\r\n6660\r\n") << 0 << "30" << 0
            << true << "" << 6660 << "" << 3500;
        QTest::newRow("port not a number")
            << true << QByteArray("0\r\n30\r\n0\r\n1\r\n10.0.0.2\r\nporta\r\n") << 0 << "30" << 0
            << true << "10.0.0.2" << 0 << "" << 3500;
        QTest::newRow("empty port line")
            << true << QByteArray("0\r\n30\r\n0\r\n1\r\n10.0.0.2\r\n\r\nM1\r\n") << 0 << "30" << 0
            << true << "10.0.0.2" << 0 << "M1" << 3500;
        QTest::newRow("seven lines: time-out 3500")
            << true << QByteArray("0\r\n30\r\n0\r\n0\r\n\r\n\r\nAB12\r\n") << 0 << "30" << 0
            << false << "" << 0 << "AB12" << 3500;
        QTest::newRow("time-out not a number")
            << true << QByteArray("0\r\n30\r\n0\r\n0\r\n\r\n\r\n\r\nmolto\r\n") << 0 << "30" << 0
            << false << "" << 0 << "" << 3500;
        // A reply time-out of 0 would give up on every answer at once: the default.
        QTest::newRow("time-out 0: the default")
            << true << QByteArray("0\r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n0\r\n") << 0 << "30" << 0
            << false << "" << 0 << "" << 3500;
        QTest::newRow("time-out 2000")
            << true << QByteArray("0\r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n2000\r\n") << 0 << "30" << 0
            << false << "" << 0 << "" << 2000;
    }
    void options() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(int, family);
        QFETCH(QString, maxLen);
        QFETCH(int, trace);
        QFETCH(bool, network);
        QFETCH(QString, address);
        QFETCH(int, remotePort);
        QFETCH(QString, matricola);
        QFETCH(int, timeout);
        ProgramFixture f;
        OperatorPanel& p = f.panel;
        // Start from values the file must replace.
        p.TcpPort.setText(QStringLiteral("9100"));
        f.socket.setRemoteHost(QStringLiteral("10.9.9.9"));
        f.engine.link.SocketReplyTimeoutMs = 1;
        if (present) {
            f.setting(SettingsFiles::kOptions, content);
        }
        f.program.settings.loadOptions();

        QCOMPARE(p.cboAddedFunctions.listIndex(), family);
        QCOMPARE(p.cboMaxLenDescr.text(), maxLen);
        QCOMPARE(p.chbTrace.value(), trace);
        QCOMPARE(p.OptionRete.value(), network);
        QCOMPARE(p.OptionRS232.value(), !network);
        if (present) {
            QCOMPARE(f.socket.remoteHost(), address);
            QCOMPARE(p.TxtRemoteIP.text(), address);
            QCOMPARE(f.socket.remotePort, remotePort);
            QCOMPARE(p.Text8.text(), matricola);
            QCOMPARE(QByteArray::fromStdString(p.ConfiguredMatricola), matricola.toLatin1());
            QCOMPARE(f.engine.link.SocketReplyTimeoutMs, timeout);
            QCOMPARE(p.TcpPort.text(), QStringLiteral("6660"));
        }
    }

    // The TCP port is 6660 after start-up, whatever line 6 held.
    void portAfterStartUp() {
        ProgramFixture f;
        f.setting(SettingsFiles::kOptions, "5\r\n30\r\n0\r\n1\r\n10.0.0.7\r\n7000\r\n");
        QVERIFY(f.start());
        QCOMPARE(f.panel.TcpPort.text(), QStringLiteral("6660"));
        QCOMPARE(f.socket.remotePort, 6660);
    }

    void defaultsAtStartUpWithoutFiles() {
        ProgramFixture f;
        QVERIFY(f.start());
        QCOMPARE(f.panel.cboAddedFunctions.listIndex(), 5);
        QVERIFY(f.panel.OptionRS232.value());
        QCOMPARE(f.panel.cboMaxLenDescr.text(), QStringLiteral("30"));
        QCOMPARE(f.panel.chbTrace.value(), 0);
        QCOMPARE(f.panel.TcpPort.text(), QStringLiteral("6660"));
        QCOMPARE(f.engine.link.BaudRate, 9600);
        QCOMPARE(f.engine.job.nPollInterval, 1000);
        QCOMPARE(f.engine.link.SocketReplyTimeoutMs, 3500);
        QCOMPARE(ticksOf(f.panel), (QList<int>{1, 1, 1, 1}));
    }

    // ---- saving --------------------------------------------------------

    void save_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QString>("maxLen");
        QTest::addColumn<int>("trace");
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("matricola");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QByteArray>("file");

        QTest::newRow("network, every value")
            << 4 << "22" << 1 << true << "10.1.2.3"
            << "6660"
            << "XYZ123" << 4200
            << QByteArray(" 4 \r\n22\r\n1\r\n1\r\n10.1.2.3\r\n6660\r\nXYZ123\r\n4200\r\n");
        QTest::newRow("serial: no address, no port")
            << 4 << "22" << 0 << false << "10.1.2.3"
            << "6660"
            << "XYZ123" << 4200 << QByteArray(" 4 \r\n22\r\n0\r\n0\r\n\r\n\r\nXYZ123\r\n4200\r\n");
        QTest::newRow("invalid address left out")
            << 0 << "30" << 0 << true << "300.1.2.3"
            << "6660"
            << "" << 3500 << QByteArray(" 0 \r\n30\r\n0\r\n1\r\n\r\n6660\r\n\r\n3500\r\n");
        QTest::newRow("port not numeric left out")
            << 1 << "30" << 0 << true << "10.0.0.1"
            << "abc"
            << "" << 3500 << QByteArray(" 1 \r\n30\r\n0\r\n1\r\n10.0.0.1\r\n\r\n\r\n3500\r\n");
        QTest::newRow("length not numeric: 30")
            << 5 << "lunga" << 0 << false << ""
            << "6660"
            << "" << 3500 << QByteArray(" 5 \r\n30\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n");
        QTest::newRow("time-out 0 left out")
            << 6 << "32" << 1 << false << ""
            << "6660"
            << "M-1" << 0 << QByteArray(" 6 \r\n32\r\n1\r\n0\r\n\r\n\r\nM-1\r\n\r\n");
        QTest::newRow("no family selected: 0")
            << -1 << "18" << 0 << false << ""
            << "6660"
            << "" << 3500 << QByteArray(" 0 \r\n18\r\n0\r\n0\r\n\r\n\r\n\r\n3500\r\n");
    }
    void save() {
        QFETCH(int, family);
        QFETCH(QString, maxLen);
        QFETCH(int, trace);
        QFETCH(bool, network);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, matricola);
        QFETCH(int, timeout);
        QFETCH(QByteArray, file);
        ProgramFixture f;
        OperatorPanel& p = f.panel;
        p.cboAddedFunctions.setListIndex(family);
        p.cboMaxLenDescr.setText(maxLen);
        p.chbTrace.setValue(trace);
        network ? p.OptionRete.select() : p.OptionRS232.select();
        p.TxtRemoteIP.setText(address);
        p.TcpPort.setText(port);
        p.Text8.setText(matricola);
        f.engine.link.SocketReplyTimeoutMs = timeout;
        f.program.settings.SaveSettings();
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kOptions))), file);
        if (family < 0) {
            QCOMPARE(p.cboAddedFunctions.listIndex(), 0);
        }
    }

    void saveTicksAndSpeed_data() {
        QTest::addColumn<QList<int>>("ticks");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("none") << QList<int>{0, 0, 0, 0} << QByteArray("0000\r\n");
        QTest::newRow("1 and 3") << QList<int>{1, 0, 1, 0} << QByteArray("1010\r\n");
        QTest::newRow("4 only") << QList<int>{0, 0, 0, 1} << QByteArray("0001\r\n");
        QTest::newRow("all") << QList<int>{1, 1, 1, 1} << QByteArray("1111\r\n");
    }
    void saveTicksAndSpeed() {
        QFETCH(QList<int>, ticks);
        QFETCH(QByteArray, file);
        ProgramFixture f;
        for (int n = 1; n <= 4; ++n) {
            f.panel.check(n).setValue(ticks.at(n - 1));
        }
        f.panel.cmbBaude.setText(QStringLiteral("19200"));
        f.program.settings.SaveSettings();
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kChannels))), file);
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kBaud))), QByteArray("19200\r\n"));
    }

    // What one run saves, the next start-up reads back: every value keeps its
    // line whether or not the values before it were saved.
    void roundTrip_data() {
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("matricola");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("addressBack");
        QTest::addColumn<int>("timeoutBack");
        QTest::newRow("network") << true << "192.168.10.20"
                                 << "80E123456" << 4200 << "192.168.10.20" << 4200;
        QTest::newRow("serial") << false << "192.168.10.20"
                                << "80E123456" << 4200 << "" << 4200;
        QTest::newRow("network, bad address") << true << "192.168.10.2000"
                                              << "80E123456" << 2500 << "" << 2500;
        QTest::newRow("no registration number") << true << "10.0.0.1"
                                                << "" << 4200 << "10.0.0.1" << 4200;
        QTest::newRow("time-out 0 reads 3500") << true << "10.0.0.1"
                                               << "N1" << 0 << "10.0.0.1" << 3500;
    }
    void roundTrip() {
        QFETCH(bool, network);
        QFETCH(QString, address);
        QFETCH(QString, matricola);
        QFETCH(int, timeout);
        QFETCH(QString, addressBack);
        QFETCH(int, timeoutBack);

        ProgramFixture first;
        OperatorPanel& p = first.panel;
        QVERIFY(first.start());
        p.cboAddedFunctions.setListIndex(3);
        p.cboMaxLenDescr.setText(QStringLiteral("26"));
        p.chbTrace.setValue(1);
        network ? p.OptionRete.select() : p.OptionRS232.select();
        p.TxtRemoteIP.setText(address);
        p.Text8.setText(matricola);
        p.Check1.setValue(1);
        p.Check2.setValue(0);
        p.Check3.setValue(0);
        p.Check4.setValue(1);
        p.cmbBaude.setText(QStringLiteral("38400"));
        first.engine.link.SocketReplyTimeoutMs = timeout;
        first.program.settings.SaveSettings();

        ProgramFixture second;
        for (const char* name :
             {SettingsFiles::kChannels, SettingsFiles::kBaud, SettingsFiles::kOptions}) {
            second.setting(name, readAll(first.folder(QLatin1String(name))));
        }
        QCOMPARE(readAll(second.folder(QLatin1String(SettingsFiles::kOptions))).count("\r\n"), 8);
        QVERIFY(second.start());
        OperatorPanel& q = second.panel;
        QCOMPARE(q.cboAddedFunctions.listIndex(), 3);
        QCOMPARE(q.cboMaxLenDescr.text(), QStringLiteral("26"));
        QCOMPARE(q.chbTrace.value(), 1);
        QCOMPARE(q.OptionRete.value(), network);
        QCOMPARE(q.TxtRemoteIP.text(), addressBack);
        QCOMPARE(second.socket.remoteHost(), addressBack);
        QCOMPARE(q.TcpPort.text(), QStringLiteral("6660"));
        QCOMPARE(q.Text8.text(), matricola);
        QCOMPARE(QByteArray::fromStdString(q.ConfiguredMatricola), matricola.toLatin1());
        QCOMPARE(second.engine.link.SocketReplyTimeoutMs, timeoutBack);
        QCOMPARE(ticksOf(q), (QList<int>{1, 0, 0, 1}));
        QCOMPARE(second.engine.link.BaudRate, 38400);
        QCOMPARE(q.cmbBaude.text(), QStringLiteral("38400"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settingsfiles.moc"
