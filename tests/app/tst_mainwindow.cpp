// The operator window as the operator meets it: the channel ticks switch
// between configuration and service mode, "Set timer", the test print, the
// tray's clicks, minimising, closing while a receipt is sent, the manual and
// the about window. The engine runs in virtual time on scripted ports.

#include "ProgramFixture.h"

#include "common/CaseTable.h"

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

    void tickModes_data() { addCaseRows(u"app/tickmodes.txt"_s, {"ticks", "clicks", "service"}); }
    void tickModes() {
        const auto [ticks, clicks, service] = caseFields("ticks", "clicks", "service");
        Shown s(ticks);
        QVERIFY(s.start());
        for (const QByteArray& n : clicks.split(',')) {
            s.click(("Check" + n).constData());
        }
        s.checkMode(service == "1");
        for (const char* setting : {"cmbBaude", "Command1"}) {
            QVERIFY2(s.find<QWidget>(setting)->isEnabled() == (service == "0"), setting);
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
        addCaseRows(u"app/startup.txt"_s, {"ticks", "link", "missingPorts", "serviceMode", "afterDump"});
    }
    void startUpStates() {
        const auto [ticks, link, missingPorts, serviceMode, afterDump] =
            caseFields("ticks", "link", "missingPorts", "serviceMode", "afterDump");
        const bool network = link == "network", service = serviceMode == "1", firstRun = ticks == "none";
        QList<int> missing;
        for (const QString& n : QString::fromLatin1(missingPorts).split(u' ', Qt::SkipEmptyParts)) {
            missing << n.toInt();
        }
        Shown s(firstRun ? QByteArray() : ticks,
                network ? " 5 \r\n30\r\n0\r\n1\r\n\r\n\r\n\r\n3500\r\n"_ba : QByteArray());
        if (firstRun) {
            QFile::remove(s.f.folder(QLatin1String(SettingsFiles::kChannels)));
        }
        s.f.serial.missing = QSet<int>(missing.begin(), missing.end());
        QVERIFY(s.start());
        const QByteArray loaded = firstRun ? "1111"_ba : ticks;
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
        if (!afterDump.isEmpty()) {
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
    void jobEnd_data() { addCaseRows(u"app/jobend.txt"_s, {"code", "shown", "state"}); }
    void jobEnd() {
        const auto [code, shown, state] = caseFields("code", "shown", "state");
        Shown s("0100");
        QVERIFY(s.start());
        QVERIFY(writeFile(s.f.data(u"SR_MATR.002"_s), "ABC12345\r\nStato: RT\r\n"));
        QSignalSpy ended(&s.f.program.cycle, &JobCycle::jobEnded);
        QSignalSpy notices(&s.f.panel.tray, &TrayControl::notified);
        QSignalSpy notes(&s.f.program.monitor, &ChannelMonitor::note);
        s.f.engine.job.bShowStatus = false; // a dump switched the status texts off: results still go out
        s.f.engine.job.iCurrentCom = 2;
        s.f.engine.job.bJobRunning = true;
        s.f.program.cycle.FinishJob(static_cast<std::int16_t>(code.toInt()));
        s.f.program.cycle.FinishJob(0); // no job running any more: nothing to tell
        QCOMPARE(ended.size(), 1);
        const QByteArray error = readFile(s.f.data(u"SR_ERR.002"_s));
        QCOMPARE(ended.first().at(2).toByteArray() + (error.isEmpty() ? "" : "\r\n"), error);
        QCOMPARE(s.shown("txtUltimoLavoro2").section(u"  "_s, 1).toUtf8(), shown);
        QCOMPARE(s.shown("txtStatoEcr2").toUtf8(), state);
        QCOMPARE(s.shown("txtMatricola2"), u"ABC12345"_s);
        QCOMPARE(notices.size(), code == "0" ? 0 : 1);
        if (code != "0") {
            QCOMPARE(notices.first().at(1).toString().toUtf8(), shown);
        }
        QCOMPARE(notes.size(), 1);
        QVERIFY(notes.first().first().toString().startsWith(u"COM2: VELMAR TERMINATO : "_s));
    }

    // The window never shrinks below what it holds, and each field shows the
    // longest text it can hold whole.
    void layout_data() { addCaseRows(u"app/layout.txt"_s, {"field", "text"}); }
    void layout() {
        const auto [field, text] = caseFields("field", "text");
        Shown s("0000");
        QVERIFY(s.start());
        const QSize need = s.window.sizeHint();
        s.window.resize(200, 150);
        QTRY_VERIFY(s.window.width() >= need.width() && s.window.height() >= need.height());
        auto* edit = s.find<QLineEdit>(field.constData());
        edit->setText(QString::fromLatin1(text));
        QVERIFY2(edit->fontMetrics().horizontalAdvance(edit->text()) <= edit->contentsRect().width() - 6,
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

    void setTimer_data() {
        addCaseRows(u"app/settimer.txt"_s, {"typed", "jobRunning", "message", "interval", "file", "field"});
    }
    void setTimer() {
        const auto [typed, jobRunning, message, interval, file, field] =
            caseFields("typed", "jobRunning", "message", "interval", "file", "field");
        Shown s("0000");
        s.f.setting(SettingsFiles::kTimer, "2\r\n");
        QVERIFY(s.start());
        const QByteArray before = s.f.saved(SettingsFiles::kTimer);
        s.f.engine.job.bJobRunning = jobRunning == "1";
        auto* edit = s.find<QLineEdit>("txtTimerVal");
        edit->clear();
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        s.click("cmdChgTimer");
        QCOMPARE(s.f.ui.texts(), message.isEmpty() ? QStringList() : QStringList{QString::fromLatin1(message)});
        QCOMPARE(s.f.engine.job.nPollInterval, interval.toInt());
        QCOMPARE(s.f.engine.Timer21->interval(), interval.toInt());
        QCOMPARE(s.f.saved(SettingsFiles::kTimer), file == "unchanged" ? before : file);
        QCOMPARE(edit->text().toLatin1(), field);
    }

    void testPrint_data() { addCaseRows(u"app/testprint.txt"_s, {"family", "dumped", "written", "receipt"}); }
    void testPrint() {
        const auto [family, dumped, written, receipt] =
            caseFields("family", "dumped", "written", "receipt");
        const int channel = written.toInt();
        Shown s("1111", family + "\r\n");
        QVERIFY(s.start());
        for (const QString& n : QString::fromLatin1(dumped).split(u' ', Qt::SkipEmptyParts)) {
            s.f.engine.job.bDumpConf[n.toUInt()] = false;
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

    void trayClicks_data() { addCaseRows(u"app/trayclicks.txt"_s, {"reason", "window"}); }
    void trayClicks() {
        const auto [reason, window] = caseFields("reason", "window");
        const bool shown = window == "1";
        Shown s("1100");
        QVERIFY(s.start());
        s.f.engine.job.bDumpConf[2] = false;
        s.window.showMinimized();
        QTRY_VERIFY(!s.window.isVisible());
        QVERIFY(s.f.panel.tray.visible() && !s.f.engine.job.bShowStatus);

        s.window.tray().activate(static_cast<QSystemTrayIcon::ActivationReason>(reason.toInt()));
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

    void manual_data() { addCaseRows(u"app/manual.txt"_s, {"present", "opens", "message"}); }
    void manual() {
        const auto [present, opens, message] = caseFields("present", "opens", "message");
        Shown s("0000");
        QVERIFY(s.start());
        const QString path = QDir(s.f.program.startup.manualFolder()).filePath(u"manvelmar.pdf"_s);
        if (present == "1") {
            QVERIFY(writeFile(path, "%PDF-1.4\n"));
        }
        QList<QUrl> opened;
        s.window.openDocument = [&](const QUrl& url) {
            opened << url;
            return opens == "1";
        };
        s.trigger("m_Manual");
        const QString text = QString::fromLatin1(message).replace(u'@', QDir::toNativeSeparators(path));
        QCOMPARE(s.f.ui.texts(), text.isEmpty() ? QStringList() : QStringList{text});
        QCOMPARE(opened, present == "1" ? QList<QUrl>{QUrl::fromLocalFile(path)} : QList<QUrl>());
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
