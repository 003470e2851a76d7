// The operator window as the operator meets it: the channel ticks switch
// between configuration and service mode, "Set timer", the test print, the
// tray's clicks, minimising, closing while a receipt is sent, the manual and
// the about window. The engine runs in virtual time on scripted ports.

#include "ProgramFixture.h"

#include "app/Form1.h"
#include "app/QtOperatorUi.h"
#include "app/TrayIcon.h"
#include "app/fVelmar.h"
#include "support/frmAbout.h"
#include "support/frmSplash.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kTestLine = "K\"PROVA\"10H1R0M10H1R1T\r\n";

// The program with its window, built before the start-up as velmar builds it.
struct Shown {
    explicit Shown(const QByteArray& ticks, const QByteArray& options = {}) {
        f.setting(SettingsFiles::kChannels, ticks + "\r\n");
        f.setting(SettingsFiles::kOptions, options);
        window.trayAvailable = [this] { return trayAvailable; };
        window.log = [this](const QString& line) { log << line; };
    }
    bool start() {
        if (!f.start()) {
            return false;
        }
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    template <typename T> T* find(const char* name) const {
        return window.findChild<T*>(QLatin1String(name));
    }
    QString shown(const char* field) const { return find<QLineEdit>(field)->text(); }
    void trigger(const char* entry) const { find<QAction>(entry)->trigger(); }
    void click(const char* name) const { find<QAbstractButton>(name)->click(); }
    // Service mode locks the settings, polls and offers the test and the cancel.
    void checkMode(bool service) const {
        for (const char* setting : {"txtTimerVal", "cmdChgTimer", "cboAddedFunctions", "cboMaxLenDescr",
                                    "chbTrace", "OptionRS232", "OptionRete"}) {
            QVERIFY2(find<QWidget>(setting)->isEnabled() == !service, setting);
        }
        QCOMPARE(find<QPushButton>("CMBFile")->isEnabled(), service);
        QCOMPARE(find<QPushButton>("AnnullaSco")->isEnabled(), service);
        QCOMPARE(find<QAction>("m_Configura")->isEnabled(), !service);
        QCOMPARE(f.engine.Timer21->isActive(), service);
    }

    ProgramFixture f;
    fVelmar window{f.program};
    bool trayAvailable = true;
    QStringList log;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private slots:
    void initTestCase() { isolateUserFolders(home_.path()); }

    // The last clicked tick decides: ticked, service mode (settings locked,
    // polling, test and cancel); unticked, configuration mode.
    void tickModes_data() {
        QTest::addColumn<QByteArray>("ticks");
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<bool>("service");
        QTest::newRow("Check2 ticked beside Check1") << "1000"_ba << "2" << true;
        QTest::newRow("Check2 unticked, Check1 still ticked") << "1100"_ba << "2" << false;
        QTest::newRow("unticked and ticked again") << "1111"_ba << "3,3" << true;
        QTest::newRow("first tick from none") << "0000"_ba << "4" << true;
        QTest::newRow("last tick cleared") << "0001"_ba << "4" << false;
    }
    void tickModes() {
        QFETCH(QByteArray, ticks);
        QFETCH(QString, clicks);
        QFETCH(bool, service);
        Shown s(ticks);
        QVERIFY(s.start());
        for (const QString& n : clicks.split(u',')) {
            s.click(("Check" + n).toLatin1().constData());
        }
        s.checkMode(service);
        for (const char* setting : {"cmbBaude", "Command1"}) {
            QVERIFY2(s.find<QWidget>(setting)->isEnabled() == !service, setting);
        }
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(s.find<QCheckBox>(("Check" + QByteArray::number(n)).constData())->isChecked(),
                     s.f.panel.check(n).value() == 1);
        }
    }

    // The window as it comes up, for the loaded ticks (null: no settings
    // files), the link choice and the ports present: one of the two modes,
    // whole, and the link fields as the link choice gives them. A register
    // that answers is identified on the first poll: the other channels go out
    // of service, the program stays in service.
    void startUpStates_data() {
        QTest::addColumn<QByteArray>("ticks");
        QTest::addColumn<bool>("network");
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<bool>("service");
        QTest::addColumn<QByteArray>("afterDump"); // the ticks once a register answered; null: no register
        QTest::newRow("0000, serial") << "0000"_ba << false << QList<int>{} << false << QByteArray();
        QTest::newRow("0000, network") << "0000"_ba << true << QList<int>{} << false << QByteArray();
        QTest::newRow("0000, no port") << "0000"_ba << false << QList<int>{1, 2, 3, 4} << false << QByteArray();
        QTest::newRow("first run, COM2-COM4 missing") << QByteArray() << false << QList<int>{2, 3, 4} << true
                                                       << "1000"_ba;
        QTest::newRow("first run, all ports, register on COM1") << QByteArray() << false << QList<int>{}
                                                                 << true << "1000"_ba;
        QTest::newRow("1000, serial") << "1000"_ba << false << QList<int>{} << true << QByteArray();
        QTest::newRow("1000, network") << "1000"_ba << true << QList<int>{} << true << QByteArray();
        QTest::newRow("0010, port 3 missing") << "0010"_ba << false << QList<int>{3} << true << QByteArray();
    }
    void startUpStates() {
        QFETCH(QByteArray, ticks);
        QFETCH(bool, network);
        QFETCH(QList<int>, missing);
        QFETCH(bool, service);
        QFETCH(QByteArray, afterDump);
        Shown s(ticks.isNull() ? QByteArray() : ticks,
                network ? " 5 \r\n30\r\n0\r\n1\r\n\r\n\r\n\r\n3500\r\n"_ba : QByteArray());
        if (ticks.isNull()) {
            QFile::remove(s.f.folder(QLatin1String(SettingsFiles::kChannels)));
        }
        s.f.serial.missing = QSet<int>(missing.begin(), missing.end());
        QVERIFY(s.start());
        const QByteArray loaded = ticks.isNull() ? "1111"_ba : ticks;
        QCOMPARE(s.f.ticks(), loaded);
        for (int n = 1; n <= 4; ++n) {
            auto* box = s.find<QCheckBox>(("Check" + QByteArray::number(n)).constData());
            QCOMPARE(box->isChecked(), loaded[n - 1] == '1');
            QVERIFY(box->isEnabled());
            if (missing.contains(n)) {
                QCOMPARE(s.shown(("txtStatoEcr" + QByteArray::number(n)).constData()),
                         box->isChecked() ? u"Porta non disponibile"_s : u"Non attivo"_s);
            }
        }
        s.checkMode(service);
        QCOMPARE(s.f.engine.job.bShowStatus, service);
        QCOMPARE(s.shown("Text3"), service ? u"Timer ON"_s : u"Timer OFF"_s);
        QCOMPARE(s.shown("txtTimerVal"), u"1"_s); // 1 s, the interval in use
        for (const char* field : {"TxtRemoteIP", "TcpPort", "cmdValidateIP", "cmdResetConn"}) {
            QVERIFY2(s.find<QWidget>(field)->isEnabled() == (network && !service), field);
        }
        for (const char* field : {"cmbBaude", "Command1"}) {
            QVERIFY2(s.find<QWidget>(field)->isEnabled() == (!network && !service), field);
        }
        if (!afterDump.isNull()) {
            s.f.serial.answer = [](const QByteArray& written) { return QList<Reply>{{20, written}}; };
            s.f.rt.runUntilUs(s.f.rt.nowUs() + 8'000'000);
            QVERIFY(QFile::exists(s.f.data(u"SR_MATR.001"_s)));
            QCOMPARE(s.f.ticks(), afterDump);
            s.checkMode(true);
            QCOMPARE(s.shown("txtStatoEcr1"), u"In linea"_s);
            QVERIFY(!s.shown("txtMatricola1").isEmpty());
        }
    }

    // Every job's end is told once: the channel's last job, its register's
    // state, the log line, and a notice beside the tray icon for an error.
    void jobEnd_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown"); // the channel's last job after its time
        QTest::addColumn<QString>("state");
        QTest::newRow("printed") << 0 << "TUTTO OK" << "In linea";
        QTest::newRow("no answer") << -4 << "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr"
                                   << "Non risponde";
    }
    void jobEnd() {
        QFETCH(int, code);
        QFETCH(QString, shown);
        QFETCH(QString, state);
        Shown s("0100");
        QVERIFY(s.start());
        QVERIFY(writeFile(s.f.data(u"SR_MATR.002"_s), "ABC12345\r\nStato: RT\r\n"));
        QSignalSpy ended(&s.f.program.cycle, &JobCycle::jobEnded);
        QSignalSpy notices(&s.f.panel.tray, &TrayControl::notified);
        QSignalSpy notes(&s.f.program.monitor, &ChannelMonitor::note);
        s.f.engine.job.bShowStatus = false; // a dump switched the status texts off: results still go out
        s.f.engine.job.iCurrentCom = 2;
        s.f.engine.job.bJobRunning = true;
        s.f.program.cycle.FinishJob(static_cast<std::int16_t>(code));
        s.f.program.cycle.FinishJob(0); // no job running any more: nothing to tell
        QCOMPARE(ended.size(), 1);
        const QByteArray error = readFile(s.f.data(u"SR_ERR.002"_s));
        QCOMPARE(ended.first().at(2).toByteArray() + (error.isEmpty() ? "" : "\r\n"), error);
        QCOMPARE(s.shown("txtUltimoLavoro2").section(u"  "_s, 1), shown);
        QCOMPARE(s.shown("txtStatoEcr2"), state);
        QCOMPARE(s.shown("txtMatricola2"), u"ABC12345"_s);
        QCOMPARE(notices.size(), code == 0 ? 0 : 1);
        if (code != 0) {
            QCOMPARE(notices.first().at(1).toString(), shown);
        }
        QCOMPARE(notes.size(), 1);
        QVERIFY(notes.first().first().toString().startsWith(u"COM2: VELMAR TERMINATO : "_s));
    }

    // The window never shrinks below what it holds, and each field shows the
    // longest text it can hold whole.
    void layout_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("dump state") << "Text4" << "-1 : DUMP NON ESEGUITO";
        QTest::newRow("register state") << "txtStatoEcr2" << "Porta non disponibile";
        QTest::newRow("status") << "Text2" << "VELMAR TERMINATO : GIORNALE ELETTR. IN ESAURIMENTO : SOSTITUIRE";
        QTest::newRow("heartbeat") << "Text3" << "Timer OFF";
        QTest::newRow("address") << "TxtRemoteIP" << "255.255.255.255";
    }
    void layout() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        Shown s("0000");
        QVERIFY(s.start());
        const QSize need = s.window.sizeHint();
        s.window.resize(200, 150);
        QTRY_VERIFY(s.window.width() >= need.width() && s.window.height() >= need.height());
        auto* edit = s.find<QLineEdit>(field.toLatin1().constData());
        edit->setText(text);
        QVERIFY2(edit->fontMetrics().horizontalAdvance(text) <= edit->contentsRect().width() - 6,
                 qPrintable(QString::number(edit->contentsRect().width())));
    }

    // Qt's own buttons and menus speak Italian.
    void italianStandardTexts() {
        QVERIFY(installItalianTranslations());
        QMessageBox box(QMessageBox::Question, u"t"_s, u"?"_s, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        QStringList buttons;
        for (auto b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
            buttons << box.button(b)->text().remove(u'&');
        }
        QCOMPARE(buttons, (QStringList{u"Sì"_s, u"No"_s, u"Annulla"_s}));
        QLineEdit edit(u"testo"_s);
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList entries;
        for (QAction* a : menu->actions()) {
            entries << a->text().section(u'\t', 0, 0).remove(u'&');
        }
        QVERIFY2(entries.contains(u"Copia"_s) && entries.contains(u"Seleziona tutto"_s), qPrintable(entries.join(u'|')));
    }

    // "Set timer": refused during a job; "0" is told and falls back to 1 s.
    void setTimer_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("jobRunning");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QByteArray>("file"); // null: VMTIMER1.TXT as it was
        QTest::addColumn<QString>("field");
        QTest::newRow("during a job") << "5" << true << "Connessione in corso, valore non accettato"
                                      << 2000 << QByteArray() << "5";
        QTest::newRow("zero") << "0" << false << "Valore non ammesso" << 1000 << "1\r\n"_ba << "1";
        QTest::newRow("milliseconds") << "500" << false << QString() << 500 << "500\r\n"_ba << "500ms";
        QTest::newRow("seconds") << "5" << false << QString() << 5000 << "5\r\n"_ba << "5";
    }
    void setTimer() {
        QFETCH(QString, typed);
        QFETCH(bool, jobRunning);
        QFETCH(QString, message);
        QFETCH(int, interval);
        QFETCH(QByteArray, file);
        QFETCH(QString, field);
        Shown s("0000");
        s.f.setting(SettingsFiles::kTimer, "2\r\n");
        QVERIFY(s.start());
        const QByteArray before = s.f.saved(SettingsFiles::kTimer);
        s.f.engine.job.bJobRunning = jobRunning;
        auto* edit = s.find<QLineEdit>("txtTimerVal");
        edit->clear();
        QTest::keyClicks(edit, typed);
        s.click("cmdChgTimer");
        QCOMPARE(s.f.ui.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(s.f.engine.job.nPollInterval, interval);
        QCOMPARE(s.f.engine.Timer21->interval(), interval);
        QCOMPARE(s.f.saved(SettingsFiles::kTimer), file.isNull() ? before : file);
        QCOMPARE(edit->text(), field);
    }

    // " Esegui Test" writes a receipt for the highest identified channel;
    // family 4 ("Vers. SystemConnection") gets the "A" line first.
    void testPrint_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<QList<int>>("dumped");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QByteArray>("receipt");
        QTest::newRow("family 4") << 4 << QList<int>{1} << 1 << "A\r\n"_ba + kTestLine;
        QTest::newRow("family 0") << 0 << QList<int>{1} << 1 << kTestLine;
        QTest::newRow("family 5, highest channel") << 5 << QList<int>{1, 3} << 3 << kTestLine;
        QTest::newRow("no dump yet") << 4 << QList<int>{} << 0 << QByteArray();
    }
    void testPrint() {
        QFETCH(int, family);
        QFETCH(QList<int>, dumped);
        QFETCH(int, channel);
        QFETCH(QByteArray, receipt);
        Shown s("1111", QByteArray::number(family) + "\r\n");
        QVERIFY(s.start());
        for (int n : dumped) {
            s.f.engine.job.bDumpConf[static_cast<std::size_t>(n)] = false;
        }
        s.click("CMBFile");
        for (int n = 1; n <= 4; ++n) {
            const auto& files = s.f.engine.files;
            QCOMPARE(readFile(files.path("SR_DATI", n)), n == channel ? receipt : QByteArray());
            QCOMPARE(readFile(files.path("SR_START", n)), n == channel ? "00000000\r\n"_ba : QByteArray());
        }
        QCOMPARE(s.shown("Text1"), channel == 0 ? u"DUMP NON ANCORA ESEGUITO"_s : QString());
        QCOMPARE(s.find<QPushButton>("CMBFile")->isEnabled(), channel == 0); // until the job ends
    }

    // From the tray: a double click shows the window with the four dump
    // states; other clicks do nothing.
    void trayClicks_data() {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    }
    void trayClicks() {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        Shown s("1100");
        QVERIFY(s.start());
        s.f.engine.job.bDumpConf[2] = false;
        s.window.showMinimized();
        QTRY_VERIFY(!s.window.isVisible());
        QVERIFY(s.f.panel.tray.visible() && !s.f.engine.job.bShowStatus);

        s.window.tray().activate(static_cast<QSystemTrayIcon::ActivationReason>(reason));
        QCOMPARE(s.window.isVisible(), shown);
        QCOMPARE(s.f.engine.job.bShowStatus, shown);
        if (shown) {
            QVERIFY(!s.window.isMinimized());
            const QStringList states{s.shown("Text4"), s.shown("Text5"), s.shown("Text6"), s.shown("Text7")};
            QCOMPARE(states, (QStringList{u"DUMP NON ESEGUITO"_s, u"DUMP ESEGUITO"_s, u"DUMP NON ESEGUITO"_s,
                                          u"DUMP NON ESEGUITO"_s}));
        }
    }

    void trayRightClickPopsUpFileMenu() {
        Shown s("0000");
        QVERIFY(s.start());
        s.window.tray().activate(QSystemTrayIcon::Context);
        auto* menu = s.find<QMenu>("m_file");
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->defaultAction(), s.find<QAction>("m_esci"));
        menu->hide();
    }

    // Minimising goes to the tray; a desktop without one keeps the window in
    // the task bar, says so once in the log, and restoring it there shows the
    // status again.
    void minimiseWithoutTray() {
        Shown s("1000");
        s.trayAvailable = false;
        QVERIFY(s.start());
        for (int round = 0; round < 2; ++round) {
            // Checked before the event loop runs: a platform without a window
            // manager may bounce the minimised state straight back.
            s.window.showMinimized();
            QVERIFY(!s.f.engine.job.bShowStatus);
            QTest::qWait(20);
            QVERIFY(s.window.isVisible());
            if (s.window.isMinimized()) {
                s.window.showNormal();
            }
            QVERIFY(s.f.engine.job.bShowStatus);
        }
        QCOMPARE(s.log.size(), 1);
        QVERIFY(s.log.first().contains(u"notification area"_s));
    }

    // Closing is refused while a receipt is sent; otherwise the closing
    // notice is shown on top, the tray icon goes, and the program ends.
    void closing() {
        Shown s("1000");
        QVERIFY(s.start());
        QSignalSpy ended(&s.f.program, &VelmarProgram::ended);
        QStringList noticeShown;
        connect(&s.f.panel.Form1, &PanelControl::visibleChanged, this, [&](bool on) {
            Form1& notice = s.window.closingNotice();
            if (on && notice.isVisible() && notice.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
                noticeShown << notice.windowTitle();
            }
        });

        s.f.engine.link.TransmitBusy = true;
        s.trigger("m_esci");
        QVERIFY(!s.window.close());
        QCOMPARE(ended.size(), 0);
        QVERIFY(s.window.isVisible() && s.f.panel.tray.visible() && !s.f.engine.job.bClosing);
        QVERIFY(noticeShown.isEmpty());

        s.f.engine.link.TransmitBusy = false;
        s.window.close();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(noticeShown, QStringList{u"Chiusura programma Velmar in corso ..."_s});
        QVERIFY(!s.window.closingNotice().isVisible());
        QVERIFY(!s.window.tray().icon().isVisible() && !s.f.panel.tray.visible());
        QVERIFY(s.window.close()); // once ended, the window may go
    }

    void manual_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("message"); // "@" stands for the manual's path
        QTest::newRow("missing") << false << true << "File: @ non trovato";
        QTest::newRow("opened") << true << true << QString();
        QTest::newRow("no reader") << true << false << "Operazione non eseguita: verificare presenza Reader ";
    }
    void manual() {
        QFETCH(bool, present);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        Shown s("0000");
        QVERIFY(s.start());
        const QString path = QDir(s.f.program.startup.manualFolder()).filePath(u"manvelmar.pdf"_s);
        if (present) {
            QVERIFY(writeFile(path, "%PDF-1.4\n"));
        }
        QList<QUrl> opened;
        s.window.openDocument = [&](const QUrl& url) {
            opened << url;
            return opens;
        };
        s.trigger("m_Manual");
        message.replace(u'@', QDir::toNativeSeparators(path));
        QCOMPARE(s.f.ui.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(opened, present ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>());
    }

    // The about window from "&Informazioni  su  Velmar", twice: the same
    // texts each time, the version as major.minor.0.revision; the splash says
    // "Version".
    void aboutAndSplash() {
        Shown s("0000");
        QVERIFY(s.start());
        const QString before = s.shown("txtAppDataVista");
        QStringList seen;
        for (int round = 0; round < 2; ++round) {
            QTimer::singleShot(0, this, [&seen] {
                auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
                if (!about) {
                    return;
                }
                seen << about->windowTitle() << about->findChild<QLabel*>(u"lblTitle"_s)->text()
                     << about->findChild<QLabel*>(u"lblVersion"_s)->text();
                about->findChild<QPushButton*>(u"cmdOK"_s)->click();
            });
            s.trigger("m_info");
        }
        const QStringList once{u"Informazioni su Velmar"_s, u"Velmar per sistemi Windows 32 bit"_s,
                               u"Versione 2.0.0.2"_s};
        QCOMPARE(seen, once + once);
        QVERIFY(s.window.isVisible());
        QCOMPARE(s.shown("txtAppDataVista"), before);

        frmSplash splash;
        QCOMPARE(splash.findChild<QLabel*>(u"lblVersion"_s)->text(), u"Version 2.0.0.2"_s);
        QCOMPARE(splash.findChild<QLabel*>(u"lblPlatform"_s)->text(), u"Per sistemi Windows 32 bit"_s);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
