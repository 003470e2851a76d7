// Bringing the program up: the library check first, the data directory, the
// stale channel files, the per-channel state, the tray and the poll timer;
// the settings folder and the one-instance rule.

#include "ProgramFixture.h"

#include "app/Folders.h"
#include "app/Modulo1.h"

#include <QFileInfo>
#include <QSettings>
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
    // file, then the probe of each port: an unavailable port clears and
    // disables its tick and keeps its files; elsewhere only the host's receipt
    // file stays. A tick that changes acts as the operator's click: the last
    // change decides the mode.
    void afterLoad_data() {
        QTest::addColumn<QByteArray>("ticksFile");
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<QByteArray>("ticks");
        QTest::addColumn<bool>("service");
        QTest::newRow("all ticked") << "1111"_ba << QList<int>{} << "1111"_ba << true;
        QTest::newRow("none ticked") << "0000"_ba << QList<int>{} << "0000"_ba << false;
        QTest::newRow("1010, port 3 missing") << "1010"_ba << QList<int>{3} << "1000"_ba << false;
        QTest::newRow("1100, port 3 missing") << "1100"_ba << QList<int>{3} << "1100"_ba << true;
        QTest::newRow("no port at all")
            << "1111"_ba << QList<int>{1, 2, 3, 4} << "0000"_ba << false;
    }
    void afterLoad() {
        QFETCH(QByteArray, ticksFile);
        QFETCH(QList<int>, missing);
        QFETCH(QByteArray, ticks);
        QFETCH(bool, service);
        ProgramFixture f;
        f.setting(SettingsFiles::kChannels, ticksFile + "\r\n");
        f.serial.missing = QSet<int>(missing.begin(), missing.end());
        placeChannelFiles(f.programDir.path());
        JobState& job = f.engine.job; // everything the load resets, set otherwise
        job.bJobRunning = job.bDumpInProgress = job.bShowStatus = true;
        job.iSettleTicks = 2;
        job.iTickCount = 77;
        QVERIFY(f.start());

        QCOMPARE(f.ticks(), ticks);
        const LampControl* lamps[] = {&f.panel.Shape1, &f.panel.Shape2, &f.panel.Shape4,
                                      &f.panel.Shape5};
        for (int n = 1; n <= 4; ++n) {
            const bool port = !missing.contains(n);
            QCOMPARE(job.bPortAvailable[static_cast<std::size_t>(n)], port);
            QCOMPARE(f.panel.check(n).enabled(), port);
            QCOMPARE(lamps[n - 1]->fillColor() == LampControl::kGreen, port);
            QVERIFY(job.bDumpConf[static_cast<std::size_t>(n)]);
            for (const char* base : kChannelBases) {
                const QString file = ChannelFiles::name(base, n);
                const bool kept = !port || QLatin1String(base) == QLatin1String("SR_DATI");
                QVERIFY2(QFile::exists(f.data(file)) == kept, qPrintable(file));
            }
        }
        QCOMPARE(job.bShowStatus, service);
        QCOMPARE(f.panel.Frame3.enabled(), !service);
        QVERIFY(!job.bJobRunning && !job.bDumpInProgress);
        QVERIFY(job.iSettleTicks == 0 && job.iTickCount == 0);
        QVERIFY(f.panel.tray.visible() && f.panel.tray.icon() == TrayControl::Icon::Window);
        QCOMPARE(f.panel.tray.tip(), u"Velmar in attesa esecuzione..."_s);
        // The poll timer is armed either way; its first tick comes one interval later.
        int polls = 0;
        QObject::connect(&f.engine, &Engine::pollTick, [&polls] { ++polls; });
        f.rt.runUntilUs(999'000);
        QCOMPARE(polls, 0);
        f.rt.runUntilUs(1'000'000);
        QCOMPARE(polls, 1);
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
        first.reset(); // once the first instance is gone, the next one may start
        QVERIFY(acquireSingleInstance(second));
        saved.isNull() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", saved);
    }
};

QTEST_GUILESS_MAIN(TestStartUp)
#include "tst_startup.moc"
