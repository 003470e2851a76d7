// Bringing the program up: the library check first, the data directory, the
// stale channel files, the per-channel state, the tray and the poll timer;
// the settings folder and the one-instance rule. The settings files: how values
// are read, the start-up rules with their defaults, the poll interval rule, and
// what the shut-down writes back.

#include "ProgramFixture.h"

#include "app/Folders.h"
#include "app/Modulo1.h"

#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const char* const kChannelBases[] = {"SR_START", "SR_MATR", "SR_ERR",
                                     "SR_DATI",  "SR_OUT",  "FINESCO"};

void setCustomDataDir(const QVariant& value) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, u"Qarnwerk"_s, u"QARNVELMAR"_s);
    value.isValid() ? store.setValue(u"CustomPathDataDir"_s, value)
                    : store.remove(u"CustomPathDataDir"_s);
    store.sync();
}

void placeChannelFiles(const QString& folder) {
    for (int n = 1; n <= 4; ++n) {
        for (const char* base : kChannelBases) {
            writeFile(QDir(folder).filePath(ChannelFiles::name(base, n)), "x");
        }
    }
}

using Values = QList<QByteArray>;
const QByteArray kAbsent; // null: the file is missing (""_ba is an empty file)

// The VMCHKSCO.TXT values as the program holds them, in the file's order, then
// how often it started connecting: family|length|tracing|mode|address|remote
// port (0: not set)|registration number|time-out|connects
QString held(ProgramFixture& f) {
    const OperatorPanel& p = f.panel;
    const auto n = [](int v) { return QString::number(v); };
    const QString mode = p.OptionRete.value() ? u"rete"_s : u"rs232"_s;
    return u"%1|%2|%3|%4|%5|%6|%7|%8|%9"_s.arg(
        n(p.cboAddedFunctions.listIndex()), p.cboMaxLenDescr.text(), n(p.chbTrace.value()), mode,
        p.TxtRemoteIP.text(), n(f.socket.remotePort), p.Text8.text(),
        n(f.engine.link.SocketReplyTimeoutMs), n(f.socket.connects));
}

// What the operator left on the panel at shut-down.
struct Panel {
    QByteArray ticks;
    int family;
    QString maxLen;
    int trace;
    bool network;
    QString address, port, matricola;
    int timeout;
};

} // namespace

Q_DECLARE_METATYPE(Panel)

class TestStartUp : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    void initTestCase() { isolateUserFolders(home_.path()); }
    void init() { setCustomDataDir(QVariant()); }

    // Without the conversion library the load stops at once: one message,
    // nothing else touched.
    void libraryMissing() {
        ProgramFixture f(false);
        placeChannelFiles(f.programDir.path());
        f.setting(SettingsFiles::kTimer, "5\r\n");
        f.engine.job.nPollInterval = 4321;
        QVERIFY(!f.start());
        QCOMPARE(f.ui.texts(), QStringList{u"ATTENZIONE: DLL QARN.. non presenti, ripetere e "
                                           "verificare l'installazione"_s});
        QCOMPARE(f.engine.job.nPollInterval, 1000); // set first, before the library check
        QVERIFY(f.engine.job.DataDir.isEmpty());
        QVERIFY(!f.panel.tray.visible() && !f.engine.Timer21->isActive());
        QCOMPARE(f.saved(SettingsFiles::kTimer), "5\r\n"_ba);
        QCOMPARE(QDir(f.programDir.path()).entryList({u"SR_*"_s, u"FINESCO.*"_s}).size(), 24);
    }

    // The program folder, unless the setting store names an existing folder.
    void dataDirectory_data() {
        QTest::addColumn<QString>("custom"); // "@" stands for the existing custom folder
        QTest::addColumn<bool>("usesCustom");
        QTest::newRow("no setting") << QString() << false;
        QTest::newRow("custom folder") << "@" << true;
        QTest::newRow("custom folder with /") << "@/" << true;
        QTest::newRow("custom folder with backslash") << "@\\" << true;
        QTest::newRow("missing folder ignored") << "@/nessuna" << false;
    }
    void dataDirectory() {
        QFETCH(QString, custom);
        QFETCH(bool, usesCustom);
        QTemporaryDir customDir;
        ProgramFixture f;
        setCustomDataDir(custom.isNull() ? QVariant() : custom.replace(u"@"_s, customDir.path()));
        placeChannelFiles(f.programDir.path());
        placeChannelFiles(customDir.path());
        QVERIFY(f.start());
        const QString expected = usesCustom ? customDir.path() : f.programDir.path();
        QCOMPARE(f.engine.job.DataDir, expected);
        QCOMPARE(f.panel.txtAppDataVista.text(), QDir::toNativeSeparators(expected));
        QVERIFY(f.panel.txtAppDataVista.visible() && f.ui.boxes.isEmpty());
        // The manual folder is the choice before the custom folder.
        QCOMPARE(f.program.startup.manualFolder(), f.programDir.path());
        // Stale files go in the data directory only.
        QCOMPARE(QFile::exists(customDir.filePath(u"SR_START.001"_s)), !usesCustom);
        QCOMPARE(QFile::exists(f.folder(u"SR_START.001"_s)), usesCustom);
    }

    // What the load leaves, for several channel set-ups. Ticks come from the
    // file and stay as the operator chose them; a missing port keeps its tick
    // and its files, its lamp is red, the log says so, and the port is probed
    // again every 30 s; elsewhere the start file goes. Every registration
    // file goes, every answer and receipt file stays. Any tick
    // set is service mode (polling), none is configuration (no polling).
    void afterLoad_data() {
        QTest::addColumn<QByteArray>("ticksFile");
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<bool>("service");
        QTest::newRow("all ticked") << "1111"_ba << QList<int>{} << true;
        QTest::newRow("none ticked") << "0000"_ba << QList<int>{} << false;
        QTest::newRow("1010, port 3 missing") << "1010"_ba << QList<int>{3} << true;
        QTest::newRow("0100, port 2 missing") << "0100"_ba << QList<int>{2} << true;
        QTest::newRow("0000, port 4 missing") << "0000"_ba << QList<int>{4} << false;
        QTest::newRow("no port at all") << "1111"_ba << QList<int>{1, 2, 3, 4} << true;
    }
    void afterLoad() {
        QFETCH(QByteArray, ticksFile);
        QFETCH(QList<int>, missing);
        QFETCH(bool, service);
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, ticksFile + "\r\n");
        f.serial.missing = QSet<int>(missing.begin(), missing.end());
        placeChannelFiles(f.programDir.path());
        JobState& job = f.engine.job; // everything the load resets, set otherwise
        job.bJobRunning = job.bDumpInProgress = job.bShowStatus = true;
        job.iSettleTicks = 2;
        job.iTickCount = 77;
        QSignalSpy notes(&f.program.monitor, &ChannelMonitor::note);
        QVERIFY(f.start());

        QCOMPARE(f.ticks(), ticksFile);
        QStringList told;
        for (int n = 1; n <= 4; ++n) {
            const bool port = !missing.contains(n);
            QCOMPARE(job.bPortAvailable[static_cast<std::size_t>(n)], port);
            QVERIFY(f.panel.check(n).enabled()); // the operator may still untick it
            QCOMPARE(f.panel.portLamp(n).fillColor(), port ? LampControl::kGreen : LampControl::kRed);
            QVERIFY(job.bDumpConf[static_cast<std::size_t>(n)]);
            for (const char* base : kChannelBases) {
                const QString file = ChannelFiles::name(base, n);
                const QLatin1String b(base);
                const bool kept = b != QLatin1String("SR_MATR") &&
                                  (!port || b != QLatin1String("SR_START"));
                QVERIFY2(QFile::exists(f.data(file)) == kept, qPrintable(file));
            }
            if (!port) {
                QCOMPARE(f.panel.ecrState(n).text(), ticksFile[n - 1] == '1' ? u"Porta non disponibile"_s
                                                                             : u"Non attivo"_s);
                told << u"COM%1: porta non disponibile"_s.arg(n);
            }
        }
        QCOMPARE(job.bShowStatus, service);
        QCOMPARE(f.panel.Frame3.enabled(), !service);
        QVERIFY(!job.bJobRunning && !job.bDumpInProgress);
        QVERIFY(job.iSettleTicks == 0 && job.iTickCount == 0);
        QVERIFY(f.panel.tray.visible() && f.panel.tray.icon() == TrayControl::Icon::Window);
        QCOMPARE(f.panel.tray.tip(), u"Velmar in attesa esecuzione..."_s);
        // In service the first poll comes one interval later; in
        // configuration none comes.
        int polls = 0;
        QObject::connect(&f.engine, &Engine::pollTick, [&polls] { ++polls; });
        f.rt.runUntilUs(999'000);
        QCOMPARE(polls, 0);
        f.rt.runUntilUs(1'000'000);
        QCOMPARE(polls, service ? 1 : 0);
        // The first poll answers a host waiting on a missing port: the
        // channel is not in service (with no port at all, every scan says so).
        for (int n : missing) {
            const QString start = f.data(ChannelFiles::name("SR_START", n));
            QCOMPARE(QFile::exists(start), !service);
            if (service) {
                QCOMPARE(readFile(f.data(ChannelFiles::name("SR_ERR", n))),
                         missing.size() == 4
                             ? "E502: Nessuna porta di comunicazione disponibile\r\n"_ba
                             : "E512: Trasmissione non avvenuta: canale non in servizio\r\n"_ba);
                told << u"COM%1: canale non in servizio"_s.arg(n);
            }
        }
        QStringList lines;
        for (const QList<QVariant>& note : notes) {
            lines << note.first().toString().section(u" ("_s, 0, 0);
        }
        QCOMPARE(lines, told);

        // The ports come back: within 30 s of idle time each is probed again,
        // taken into the scan without a stale registration file, and logged.
        f.engine.ecr.EnterConfigMode(); // no dumps meanwhile
        f.serial.missing.clear();
        notes.clear();
        for (int n : missing) {
            QVERIFY(writeFile(f.data(ChannelFiles::name("SR_MATR", n)), "OLD\r\n"));
        }
        f.rt.runUntilUs(31'000'000);
        QCOMPARE(notes.size(), missing.size());
        for (int n : missing) {
            QVERIFY(job.bPortAvailable[static_cast<std::size_t>(n)]);
            QCOMPARE(f.panel.portLamp(n).fillColor(), LampControl::kGreen);
            QVERIFY(!QFile::exists(f.data(ChannelFiles::name("SR_MATR", n))));
            QVERIFY(notes.takeFirst().first().toString().startsWith(u"COM%1: porta di nuovo disponibile"_s.arg(n)));
        }
        // Closing saves the ticks the operator chose, missing port or not.
        QVERIFY(f.program.requestClose());
        QCOMPARE(f.saved(SettingsFiles::kChannels), ticksFile + "\r\n");
    }

    // A portable copy keeps its files beside itself; the package's program
    // folder never does, even for root, who may write there.
    void portableCopy_data() {
        QTest::addColumn<QString>("program"); // "pkg": the package's folder, "link": a link to it
        QTest::addColumn<bool>("portable");
        QTest::newRow("a writable folder") << "" << true;
        QTest::newRow("a read-only folder") << "/proc" << false;
        QTest::newRow("the package's folder, writable") << "pkg" << false;
        QTest::newRow("a link to the package's folder") << "link" << false;
    }
    void portableCopy() {
        QFETCH(QString, program);
        QFETCH(bool, portable);
        QTemporaryDir other;
        QTemporaryDir package;
        const QString link = other.filePath(u"link"_s);
        QVERIFY(QFile::link(package.path(), link));
        const QString folder = program == u"pkg"_s    ? package.path()
                               : program == u"link"_s ? link
                               : program.isEmpty()    ? other.path()
                                                      : program;
        QCOMPARE(Folders::isPortableCopy(folder, package.path()), portable);
    }

    // Settings live in the program folder when it is writable, otherwise in
    // the user's config folder; a program made without a settings folder
    // follows that rule.
    void settingsFolder_data() {
        QTest::addColumn<QString>("program"); // null: a writable temporary folder
        QTest::newRow("writable program folder") << QString();
        QTest::newRow("read-only program folder") << "/proc";
    }
    void settingsFolder() {
        QFETCH(QString, program);
        QTemporaryDir dir;
        const QString expected = program.isNull()
                                     ? dir.path()
                                     : qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Qarnwerk"_s;
        program = program.isNull() ? dir.path() : program;
        QCOMPARE(QDir::cleanPath(Folders::settingsFolder(program)), QDir::cleanPath(expected));
        QVERIFY(QFileInfo(expected).isDir());
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        VirtualRuntime rt;
        ScriptedSerialControl serial{rt};
        ScriptedSocketControl socket{rt};
        ScriptedOperatorUi ui;
        RecordingProgramExit exit;
        VelmarProgram velmar(EngineServices{rt, serial, socket, ui, exit, program});
        QCOMPARE(QDir::cleanPath(velmar.settings.folder()), QDir::cleanPath(expected));
    }

    // The stand-in for the common application-data folder, made when missing.
    void commonDataFolder() {
        const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + u"/Qarnwerk"_s;
        QDir(expected).removeRecursively();
        QCOMPARE(Folders::Read_CSIDL_COMMON_APPDATA(), QDir::cleanPath(expected));
        QVERIFY(QFileInfo(expected).isDir());
    }

    void singleInstance() {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        std::unique_ptr<QLockFile> first;
        std::unique_ptr<QLockFile> second;
        QVERIFY(acquireSingleInstance(first));
        QVERIFY(!QDir(runtime.path()).isEmpty()); // the lock lives in the runtime folder
        QVERIFY(!acquireSingleInstance(second));
        // The second one asks the first to come forward and learns which runs.
        for (const QString& program : {u"velmar"_s, u"velmard"_s}) {
            InstanceBeacon beacon(program);
            QVERIFY(beacon.listen());
            QSignalSpy forward(&beacon, &InstanceBeacon::comeForward);
            QCOMPARE(InstanceBeacon::askRunning(), program);
            QTRY_COMPARE(forward.size(), 1);
        }
        QCOMPARE(InstanceBeacon::askRunning(500), QString()); // none listens
        first.reset(); // once the first instance is gone, the next one may start
        QVERIFY(acquireSingleInstance(second));
        saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved);
    }

    void readValues_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Values>("expected");
        QTest::newRow("quotes and blanks per field")
            << " \"a\" , b ,\"c\"\r\n"_ba << Values{"a", "b", "c"};
        QTest::newRow("inner blank kept") << "\"via Roma 1\"\r\n"_ba << Values{"via Roma 1"};
        QTest::newRow("trailing comma") << "a,\r\n"_ba << Values{"a", ""};
        QTest::newRow("empty line keeps its place, last line without end")
            << "1\r\n\r\n3"_ba << Values{"1", "", "3"};
        QTest::newRow("LF only") << "x\ny\n"_ba << Values{"x", "y"};
        QTest::newRow("8-bit bytes kept") << "Citt\xE0\r\n"_ba << Values{"Citt\xE0"};
        QTest::newRow("empty file") << ""_ba << Values{};
        QTest::newRow("no file") << kAbsent << Values{};
    }
    void readValues() {
        QFETCH(QByteArray, content);
        QFETCH(Values, expected);
        ProgramFixture f;
        f.setting(SettingsFiles::kOptions, content);
        const auto values = f.program.settings.readValues(SettingsFiles::kOptions);
        QCOMPARE(values.has_value(), !content.isNull());
        Values got;
        for (const std::string& v : values.value_or(std::vector<std::string>{})) {
            got << QByteArray::fromStdString(v);
        }
        QCOMPARE(got, expected);
    }

    // VMCHKCOM.TXT and VMChkBd.txt at start-up, every port there; the other
    // values keep their defaults.
    void ticksAndSpeed_data() {
        QTest::addColumn<QByteArray>("channels");
        QTest::addColumn<QByteArray>("baud");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QByteArray>("ticks");
        const QByteArray empty("");
        QTest::newRow("no files") << kAbsent << kAbsent << 9600 << "1111"_ba;
        QTest::newRow("0000") << "0000\r\n"_ba << kAbsent << 9600 << "0000"_ba;
        QTest::newRow("only 1 ticks") << "1x1y\r\n"_ba << kAbsent << 9600 << "1010"_ba;
        QTest::newRow("two characters: all") << "10\r\n"_ba << kAbsent << 9600 << "1111"_ba;
        QTest::newRow("three characters: all") << "000\r\n"_ba << kAbsent << 9600 << "1111"_ba;
        QTest::newRow("five characters") << "01100\r\n"_ba << kAbsent << 9600 << "0110"_ba;
        QTest::newRow("first value only") << "0001,1111\r\n"_ba << kAbsent << 9600 << "0001"_ba;
        QTest::newRow("empty files") << empty << empty << 9600 << "1111"_ba;
        QTest::newRow("19200") << kAbsent << "19200\r\n"_ba << 19200 << "1111"_ba;
        QTest::newRow("speed not a number") << kAbsent << "veloce\r\n"_ba << 9600 << "1111"_ba;
    }
    void ticksAndSpeed() {
        QFETCH(QByteArray, channels);
        QFETCH(QByteArray, baud);
        QFETCH(int, speed);
        QFETCH(QByteArray, ticks);
        ProgramFixture f;
        for (int n = 1; n <= 4; ++n) { // each tick starts opposite to what is expected
            f.panel.check(n).setValue(ticks.at(n - 1) == '1' ? 0 : 1);
        }
        f.engine.link.BaudRate = 4800;
        f.setting(SettingsFiles::kChannels, channels);
        f.setting(SettingsFiles::kBaud, baud);
        QVERIFY(f.start());
        QCOMPARE(f.ticks(), ticks);
        QCOMPARE(f.engine.link.BaudRate, speed);
        QCOMPARE(f.panel.cmbBaude.text(), QString::number(speed));
        QCOMPARE(held(f), u"5|30|0|rs232||0||3500|0"_s);
        QCOMPARE(f.engine.job.nPollInterval, 1000);
    }

    // Each value once at start-up (VMTIMER1.TXT rewritten with the field's
    // text) and once typed and saved (rewritten with the interval). The field
    // shows "7" before.
    void pollInterval_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("expected"); // the field, then VMTIMER1.TXT after saving
        QTest::newRow("5: seconds") << "5" << 5000 << "5 5";
        QTest::newRow("500: milliseconds") << "500" << 500 << "500ms 500";
        QTest::newRow("75: 60 s") << "75" << 60000 << "60 60";
        QTest::newRow("0: the field shows 1 s") << "0" << 1000 << "1 1";
        QTest::newRow("empty: the field shows 1 s") << "" << 1000 << "1 1";
        QTest::newRow("1.5: saved 1.5") << "1.5" << 1500 << "1.5 1.5";
        QTest::newRow("just above 60") << "60.5" << 60000 << "60 60";
        QTest::newRow("just below 100") << "99.9" << 60000 << "60 60";
        QTest::newRow("100: milliseconds") << "100" << 100 << "100ms 100";
        QTest::newRow("60000 ms") << "60000" << 60000 << "60000ms 60";
        QTest::newRow("above 60000") << "60001" << 60000 << "60 60";
        QTest::newRow("with ms") << "500ms" << 500 << "500ms 500";
        QTest::newRow("1000 ms saved as 1") << "1000" << 1000 << "1000ms 1";
        QTest::newRow("never below 1 ms, saved in ms") << "0.0001" << 1 << "0.0001 1";
        QTest::newRow("half ms to even") << "251.5" << 252 << "251.5ms 252";
    }
    void pollInterval() {
        QFETCH(QString, input);
        QFETCH(int, interval);
        QFETCH(QString, expected);
        const QString field = expected.section(QLatin1Char(' '), 0, 0);
        ProgramFixture f;
        f.setting(SettingsFiles::kTimer, input.toLatin1() + "\r\n");
        f.panel.txtTimerVal.setText(u"7"_s);
        QVERIFY(f.start());
        QCOMPARE(f.engine.job.nPollInterval, interval);
        QCOMPARE(f.panel.txtTimerVal.text(), field);
        QCOMPARE(f.saved(SettingsFiles::kTimer), field.toLatin1() + "\r\n");
        QCOMPARE(f.engine.Timer21->interval(), interval);

        ProgramFixture typed;
        typed.setting(SettingsFiles::kTimer, "before\r\n");
        typed.program.settings.CalculateTimer(input, false);
        QCOMPARE(typed.saved(SettingsFiles::kTimer), "before\r\n"_ba);
        typed.program.settings.CalculateTimer(input, true);
        QCOMPARE(typed.engine.job.nPollInterval, interval);
        QCOMPARE(typed.saved(SettingsFiles::kTimer),
                 expected.section(QLatin1Char(' '), 1).toLatin1() + "\r\n");
    }

    // VMCHKSCO.TXT at start-up: the port is always 6660 afterwards, and in
    // network mode with an address the program starts connecting.
    void options_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("loaded"); // as held() shows them
        QTest::newRow("no file: family 5, serial, the rest untouched")
            << kAbsent << "5|30|0|rs232||0||1|0";
        QTest::newRow("all eight lines")
            << " 6 \r\n40\r\n1\r\n1\r\n192.168.1.50\r\n9100\r\n96ABC123\r\n5000\r\n"_ba
            << "6|40|1|rete|192.168.1.50|6660|96ABC123|5000|1";
        QTest::newRow("port 7000 becomes 6660")
            << "5\r\n30\r\n0\r\n1\r\n10.0.0.7\r\n7000\r\n\r\n3500\r\n"_ba
            << "5|30|0|rete|10.0.0.7|6660||3500|1";
        QTest::newRow("three lines: serial, 6660, 3500") << "2\r\n20\r\n1\r\n"_ba
                                                         << "2|20|1|rs232||0||3500|0";
        QTest::newRow("one line, family out of range") << "7\r\n"_ba
                                                       << "0|30|0|rs232||0||3500|0";
        QTest::newRow("values that give the defaults; serial keeps the address")
            << "abc\r\nlungo\r\n2\r\n2\r\n10.0.0.2\r\nporta\r\nM1\r\n0\r\n"_ba
            << "0|30|0|rs232|10.0.0.2|0|M1|3500|0";
        QTest::newRow("network 1.0, address of three fields: no connection")
            << "0\r\n30\r\n0\r\n1.0\r\n10.0.1\r\n6660\r\n"_ba
            << "0|30|0|rete||6660||3500|0";
        QTest::newRow("network, empty port line: connects on 6660")
            << "5\r\n30\r\n0\r\n1\r\n192.168.0.10\r\n\r\n"_ba
            << "5|30|0|rete|192.168.0.10|6660||3500|1";
    }
    void options() {
        QFETCH(QByteArray, content);
        QFETCH(QString, loaded);
        ProgramFixture f;
        // Start from values the file must replace.
        f.panel.cboAddedFunctions.setListIndex(3);
        f.panel.TcpPort.setText(u"9100"_s);
        f.socket.setRemoteHost(u"10.9.9.9"_s);
        f.engine.link.SocketReplyTimeoutMs = 1;
        f.setting(SettingsFiles::kOptions, content);
        QVERIFY(f.start());
        QCOMPARE(held(f), loaded);
        QCOMPARE(f.panel.OptionRS232.value(), !f.panel.OptionRete.value());
        if (!content.isNull()) {
            QCOMPARE(f.panel.TcpPort.text(), u"6660"_s);
            QCOMPARE(f.socket.remoteHost(), f.panel.TxtRemoteIP.text());
            QCOMPARE(QString::fromStdString(f.panel.ConfiguredMatricola), f.panel.Text8.text());
        }
    }

    // What the shut-down writes; VMCHKSCO.TXT always has eight lines, so where
    // `back` is set the next start-up reads every value back and saves the
    // same three files again.
    void save_data() {
        QTest::addColumn<Panel>("panel");
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<bool>("back");
        QTest::newRow("network, every value")
            << Panel{"1010", 4, "22", 1, true, "10.1.2.3", "6660", "XYZ123", 4200}
            << " 4 \r\n22\r\n1\r\n1\r\n10.1.2.3\r\n6660\r\nXYZ123\r\n4200\r\n"_ba << true;
        QTest::newRow("serial: no address, no port")
            << Panel{"0001", 4, "22", 0, false, "10.1.2.3", "6660", "XYZ123", 4200}
            << " 4 \r\n22\r\n0\r\n0\r\n\r\n\r\nXYZ123\r\n4200\r\n"_ba << true;
        QTest::newRow("network, bad address, no registration number")
            << Panel{"1100", 1, "30", 0, true, "300.1.2.3", "6660", "", 2500}
            << " 1 \r\n30\r\n0\r\n1\r\n\r\n6660\r\n\r\n2500\r\n"_ba << true;
        QTest::newRow("no family, length and port not numbers, time-out 0")
            << Panel{"0000", -1, "lunga", 0, true, "10.0.0.1", "abc", "M-1", 0}
            << " 0 \r\n30\r\n0\r\n1\r\n10.0.0.1\r\n\r\nM-1\r\n\r\n"_ba << false;
        // No options: a folder named VMCHKSCO.TXT refuses them; the log says so.
        QTest::newRow("VMCHKSCO.TXT a folder: the other two saved, the log told")
            << Panel{"1000", 0, "30", 0, false, "", "", "", 3500} << QByteArray() << false;
    }
    void save() {
        QFETCH(Panel, panel);
        QFETCH(QByteArray, options);
        QFETCH(bool, back);
        ProgramFixture f;
        OperatorPanel& p = f.panel;
        for (int n = 1; n <= 4; ++n) {
            p.check(n).setValue(panel.ticks.at(n - 1) == '1' ? 1 : 0);
        }
        p.cmbBaude.setText(u"19200"_s);
        p.cboAddedFunctions.setListIndex(panel.family);
        p.cboMaxLenDescr.setText(panel.maxLen);
        p.chbTrace.setValue(panel.trace);
        panel.network ? p.OptionRete.select() : p.OptionRS232.select();
        p.TxtRemoteIP.setText(panel.address);
        p.TcpPort.setText(panel.port);
        p.Text8.setText(panel.matricola);
        f.engine.link.SocketReplyTimeoutMs = panel.timeout;
        QStringList told;
        f.program.settings.log = [&told](const QString& line) { told << line; };
        if (options.isNull()) {
            QVERIFY(QDir().mkdir(f.folder(QLatin1String(SettingsFiles::kOptions))));
        }
        f.program.settings.SaveSettings();
        QCOMPARE(f.saved(SettingsFiles::kChannels), panel.ticks + "\r\n");
        QCOMPARE(f.saved(SettingsFiles::kBaud), "19200\r\n"_ba);
        QCOMPARE(told, options.isNull() ? QStringList{u"VMCHKSCO.TXT non scritto: è una cartella"_s}
                                        : QStringList());
        QCOMPARE(f.saved(SettingsFiles::kOptions), options);
        QCOMPARE(p.cboAddedFunctions.listIndex(), qMax(panel.family, 0));
        if (!back) {
            return;
        }
        const char* const names[] = {SettingsFiles::kChannels, SettingsFiles::kBaud,
                                     SettingsFiles::kOptions};
        ProgramFixture next;
        for (const char* name : names) {
            next.setting(name, f.saved(name));
        }
        QVERIFY(next.start());
        QCOMPARE(QString::fromStdString(next.panel.ConfiguredMatricola), panel.matricola);
        next.program.settings.SaveSettings();
        for (const char* name : names) {
            QCOMPARE(next.saved(name), f.saved(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
