// Bringing the program up: the library check first, the data directory, the
// stale channel files, the per-channel state, the tray, the network link and
// the poll timer; and the one-instance rule.

#include "ProgramFixture.h"

#include "app/Folders.h"
#include "app/Modulo1.h"

#include <QFileInfo>
#include <QSettings>
#include <QTest>

using namespace velmar;
using namespace velmar::test;

namespace {

const char* const kChannelBases[] = {"SR_START", "SR_MATR", "SR_ERR",
                                     "SR_DATI",  "SR_OUT",  "FINESCO"};

void setCustomDataDir(const QVariant& value) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                    QStringLiteral("QARNVELMAR"));
    if (value.isValid()) {
        store.setValue(QStringLiteral("CustomPathDataDir"), value);
    } else {
        store.remove(QStringLiteral("CustomPathDataDir"));
    }
    store.sync();
}

void placeChannelFiles(const QString& folder) {
    for (int n = 1; n <= 4; ++n) {
        for (const char* base : kChannelBases) {
            writeAll(QDir(folder).filePath(ChannelFiles::name(base, n)), "x");
        }
    }
}

} // namespace

class TestStartUp : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    void initTestCase() { isolateUserFolders(home_.path()); }
    void init() { setCustomDataDir(QVariant()); }
    void cleanupTestCase() { setCustomDataDir(QVariant()); }

    // Without the conversion library the load stops at once: one message,
    // nothing else touched.
    void libraryMissing() {
        ProgramFixture f(false);
        placeChannelFiles(f.programDir.path());
        f.setting(SettingsFiles::kTimer, "5\r\n");
        f.engine.job.nPollInterval = 4321;
        QVERIFY(!f.start());
        QCOMPARE(f.ui.texts(), QStringList{QStringLiteral(
                                   "ATTENZIONE: DLL QARN.. non presenti, ripetere e verificare "
                                   "l'installazione")});
        QCOMPARE(f.engine.job.nPollInterval, 1000); // step 1 ran, nothing after the check
        QVERIFY(f.engine.job.DataDir.isEmpty());
        QVERIFY(!f.panel.txtAppDataVista.visible());
        QVERIFY(!f.panel.tray.visible());
        QVERIFY(!f.engine.Timer21->isActive());
        QCOMPARE(f.panel.txtTimerVal.text(), QString());
        QCOMPARE(readAll(f.folder(QLatin1String(SettingsFiles::kTimer))), QByteArray("5\r\n"));
        for (int n = 1; n <= 4; ++n) {
            QVERIFY(!f.engine.job.bDumpConf[static_cast<std::size_t>(n)]);
            for (const char* base : kChannelBases) {
                QVERIFY(QFile::exists(f.folder(ChannelFiles::name(base, n))));
            }
        }
        QVERIFY(f.socket.connects == 0);
    }

    // The data directory: the program folder, unless the setting store names
    // an existing folder.
    void dataDirectory_data() {
        QTest::addColumn<QString>("custom"); // "@" stands for the existing custom folder
        QTest::addColumn<bool>("usesCustom");
        QTest::newRow("no setting") << QString() << false;
        QTest::newRow("empty setting") << "" << false;
        QTest::newRow("custom folder") << "@" << true;
        QTest::newRow("custom folder with /") << "@/" << true;
        QTest::newRow("custom folder with backslash") << "@\\" << true;
        QTest::newRow("missing folder ignored") << "@/nessuna" << false;
        QTest::newRow("only a backslash") << "\\" << false;
    }
    void dataDirectory() {
        QFETCH(QString, custom);
        QFETCH(bool, usesCustom);
        QTemporaryDir customDir;
        ProgramFixture f;
        if (!custom.isNull()) {
            custom.replace(QLatin1String("@"), customDir.path());
            setCustomDataDir(custom);
        }
        placeChannelFiles(f.programDir.path());
        placeChannelFiles(customDir.path());
        QVERIFY(f.start());

        const QString expected = usesCustom ? customDir.path() : f.programDir.path();
        QCOMPARE(f.engine.job.DataDir, expected);
        QCOMPARE(f.panel.txtAppDataVista.text(), QDir::toNativeSeparators(expected));
        QVERIFY(f.panel.txtAppDataVista.visible());
        QVERIFY(f.panel.lblPathVista.visible());
        // The manual folder is the choice before the custom folder.
        QCOMPARE(f.program.startup.manualFolder(), f.programDir.path());
        // Stale files go in the data directory only.
        const QString other = usesCustom ? f.programDir.path() : customDir.path();
        QVERIFY(!QFile::exists(QDir(expected).filePath(QStringLiteral("SR_START.001"))));
        QVERIFY(QFile::exists(QDir(other).filePath(QStringLiteral("SR_START.001"))));
        QVERIFY(f.ui.boxes.isEmpty());
    }

    // Stale files of an earlier run go for every channel with a port; the
    // host's receipt file stays; channels without a port are not touched.
    void staleChannelFiles() {
        ProgramFixture f;
        f.serial.missing = {2};
        placeChannelFiles(f.programDir.path());
        QVERIFY(f.start());
        for (int n = 1; n <= 4; ++n) {
            for (const char* base : kChannelBases) {
                const QString file = ChannelFiles::name(base, n);
                const bool kept = n == 2 || QLatin1String(base) == QLatin1String("SR_DATI");
                QVERIFY2(QFile::exists(f.data(file)) == kept, qPrintable(file));
            }
        }
        QCOMPARE(f.panel.Shape1.fillColor(), LampControl::kGreen);
        QVERIFY(f.panel.Shape2.fillColor() != LampControl::kGreen);
        QCOMPARE(f.panel.Shape4.fillColor(), LampControl::kGreen);
        QCOMPARE(f.panel.Shape5.fillColor(), LampControl::kGreen);
        // Other files of the data directory are none of its business.
        QVERIFY(QFile::exists(f.folder(QStringLiteral("libqarn_slm1.so"))));
    }

    void noPortAtAll() {
        ProgramFixture f;
        f.serial.missing = {1, 2, 3, 4};
        placeChannelFiles(f.programDir.path());
        QVERIFY(f.start());
        for (int n = 1; n <= 4; ++n) {
            QVERIFY(!f.engine.job.bPortAvailable[static_cast<std::size_t>(n)]);
            QCOMPARE(f.panel.check(n).value(), 0);
            QVERIFY(!f.panel.check(n).enabled());
            QVERIFY(QFile::exists(f.data(ChannelFiles::name("SR_MATR", n))));
        }
    }

    void jobStateAfterLoad() {
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, "0000\r\n"); // no tick changes: no mode change
        JobState& job = f.engine.job;
        job.bJobRunning = true;
        job.bDumpInProgress = true;
        job.bShowStatus = true;
        job.iSettleTicks = 2;
        job.iTickCount = 77;
        f.engine.link.ResetString = "xx";
        f.engine.link.XonChar = 'a';
        f.engine.link.XoffChar = 'b';
        f.engine.link.BaudRate = 0;
        QVERIFY(f.start());
        QVERIFY(!job.bJobRunning);
        QVERIFY(!job.bDumpInProgress);
        QVERIFY(!job.bShowStatus);
        QCOMPARE(job.iSettleTicks, std::int16_t(0));
        QCOMPARE(job.iTickCount, std::int16_t(0));
        QCOMPARE(f.engine.link.ResetString, QByteArray("KK"));
        QCOMPARE(int(f.engine.link.XonChar), 17);
        QCOMPARE(int(f.engine.link.XoffChar), 19);
        QCOMPARE(f.engine.link.BaudRate, 9600);
        for (int n = 1; n <= 4; ++n) {
            QVERIFY(job.bDumpConf[static_cast<std::size_t>(n)]);
        }
        QVERIFY(!f.engine.trace.isOpen());
    }

    // Ticks set from the file act as the operator's clicks: the last changed
    // tick decides between service mode and configuration mode.
    void modeAfterLoad_data() {
        QTest::addColumn<QByteArray>("ticks");
        QTest::addColumn<int>("missingPort"); // 0: all four there
        QTest::addColumn<bool>("service");
        QTest::newRow("all ticked") << QByteArray("1111\r\n") << 0 << true;
        QTest::newRow("none ticked") << QByteArray("0000\r\n") << 0 << false;
        QTest::newRow("tick 3 cleared by the probe") << QByteArray("1010\r\n") << 3 << false;
        QTest::newRow("unticked channel without port") << QByteArray("1100\r\n") << 3 << true;
    }
    void modeAfterLoad() {
        QFETCH(QByteArray, ticks);
        QFETCH(int, missingPort);
        QFETCH(bool, service);
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, ticks);
        if (missingPort != 0) {
            f.serial.missing = {missingPort};
        }
        f.engine.job.bShowStatus = true; // cleared by the load before the ticks are set
        QVERIFY(f.start());
        QCOMPARE(f.engine.job.bShowStatus, service);
        QCOMPARE(f.panel.Frame3.enabled(), !service);
        QCOMPARE(f.panel.Frame7.enabled(), !service);
        QCOMPARE(f.panel.m_Configura.enabled(), !service);
        QVERIFY(f.engine.Timer21->isActive()); // armed at the end either way
    }

    void trayUp() {
        ProgramFixture f;
        QVERIFY(!f.panel.tray.visible());
        QVERIFY(f.start());
        QVERIFY(f.panel.tray.visible());
        QVERIFY(f.panel.tray.icon() == TrayControl::Icon::Window);
        QCOMPARE(f.panel.tray.tip(), QStringLiteral("Velmar in attesa esecuzione..."));
    }

    void pollTimerArmed_data() {
        QTest::addColumn<QByteArray>("timerFile");
        QTest::addColumn<int>("interval");
        QTest::newRow("default") << QByteArray() << 1000;
        QTest::newRow("5 s") << QByteArray("5\r\n") << 5000;
        QTest::newRow("250 ms") << QByteArray("250ms\r\n") << 250;
    }
    void pollTimerArmed() {
        QFETCH(QByteArray, timerFile);
        QFETCH(int, interval);
        ProgramFixture f;
        if (!timerFile.isEmpty()) {
            f.setting(SettingsFiles::kTimer, timerFile);
        }
        QVERIFY(!f.engine.Timer21->isActive());
        QVERIFY(f.start());
        QVERIFY(f.engine.Timer21->isActive());
        QCOMPARE(f.engine.Timer21->interval(), interval);
        // The first tick comes one interval after the load, not earlier.
        int ticks = 0;
        QObject::connect(&f.engine, &Engine::pollTick, [&ticks] { ++ticks; });
        f.rt.runUntilUs(std::int64_t(interval - 1) * 1000);
        QCOMPARE(ticks, 0);
    }

    // In network mode the load starts connecting when an address and a port
    // are known; the port is always 6660.
    void networkConnect_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("connects");
        QTest::addColumn<QString>("host");
        QTest::newRow("network with address")
            << QByteArray("5\r\n30\r\n0\r\n1\r\n192.168.0.10\r\n9100\r\n") << 1 << "192.168.0.10";
        QTest::newRow("network, empty port line")
            << QByteArray("5\r\n30\r\n0\r\n1\r\n192.168.0.10\r\n\r\n") << 1 << "192.168.0.10";
        QTest::newRow("network without address")
            << QByteArray("5\r\n30\r\n0\r\n1\r\n\r\n6660\r\n") << 0 << "";
        QTest::newRow("network, invalid address")
            << QByteArray("5\r\n30\r\n0\r\n1\r\n192.168.0\r\n6660\r\n") << 0 << "";
        QTest::newRow("serial with address")
            << QByteArray("5\r\n30\r\n0\r\n0\r\n192.168.0.10\r\n6660\r\n") << 0 << "192.168.0.10";
    }
    void networkConnect() {
        QFETCH(QByteArray, options);
        QFETCH(int, connects);
        QFETCH(QString, host);
        ProgramFixture f;
        f.setting(SettingsFiles::kOptions, options);
        QVERIFY(f.start());
        QCOMPARE(f.socket.connects, connects);
        QCOMPARE(f.socket.remoteHost(), host);
        if (connects > 0) {
            QCOMPARE(f.socket.remotePort, 6660);
            QCOMPARE(f.socket.state(), int(SocketControl::Connecting));
        }
    }

    // ---- folders -------------------------------------------------------

    void settingsFolder_data() {
        QTest::addColumn<QString>("program"); // "@" a writable temporary folder
        QTest::addColumn<bool>("inProgramFolder");
        QTest::newRow("writable program folder") << "@" << true;
        QTest::newRow("read-only program folder") << "/proc" << false;
        QTest::newRow("missing program folder") << "@/manca" << false;
    }
    void settingsFolder() {
        QFETCH(QString, program);
        QFETCH(bool, inProgramFolder);
        QTemporaryDir dir;
        program.replace(QLatin1String("@"), dir.path());
        const QString expected =
            inProgramFolder
                ? program
                : QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/Qarnwerk");
        QCOMPARE(QDir::cleanPath(Folders::settingsFolder(program)), QDir::cleanPath(expected));
        QVERIFY(QFileInfo(expected).isDir());
        // Probing leaves nothing behind.
        if (inProgramFolder) {
            QVERIFY(QDir(program).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        }
    }

    void programWithDefaultSettingsFolder() {
        QTemporaryDir dir;
        VirtualRuntime rt;
        ScriptedSerialControl serial{rt};
        ScriptedSocketControl socket{rt};
        ScriptedOperatorUi ui;
        RecordingProgramExit exit;
        VelmarProgram program(EngineServices{rt, serial, socket, ui, exit, dir.path()});
        QCOMPARE(program.settings.folder(), dir.path());
    }

    void commonDataFolder() {
        const QString expected =
            QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/Qarnwerk");
        QDir(expected).removeRecursively();
        QCOMPARE(Folders::Read_CSIDL_COMMON_APPDATA(), QDir::cleanPath(expected));
        QVERIFY(QFileInfo(expected).isDir()); // made when missing
    }

    // ---- one instance --------------------------------------------------

    void singleInstance() {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner));
        QTemporaryDir otherRuntime;
        QVERIFY(QFile::setPermissions(otherRuntime.path(), QFileDevice::ReadOwner |
                                                               QFileDevice::WriteOwner |
                                                               QFileDevice::ExeOwner));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

        std::unique_ptr<QLockFile> first;
        std::unique_ptr<QLockFile> second;
        QVERIFY(acquireSingleInstance(first));
        QVERIFY(!QDir(runtime.path()).isEmpty()); // the lock lives in the runtime folder
        QVERIFY(!acquireSingleInstance(second));

        // Another user's runtime folder is another lock.
        qputenv("XDG_RUNTIME_DIR", otherRuntime.path().toLocal8Bit());
        std::unique_ptr<QLockFile> elsewhere;
        QVERIFY(acquireSingleInstance(elsewhere));

        // Once the first instance is gone, the next one may start.
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        first.reset();
        QVERIFY(acquireSingleInstance(second));

        if (saved.isNull()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else {
            qputenv("XDG_RUNTIME_DIR", saved);
        }
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
