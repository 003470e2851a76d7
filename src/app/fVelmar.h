#pragma once
// The operator window: the four channels, the register's messages, the
// settings, the test print and the menus, every widget bound to the engine's
// operator panel. The program lives in the notification area: minimising
// hides the window, the tray icon brings it back.

#include <QDesktopServices>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QUrl>
#include <functional>

class QGroupBox;
class QLabel;

namespace velmar {

class Form1;
class VelmarProgram;
namespace ui {
class TrayIcon;
}

class fVelmar : public QMainWindow {
    Q_OBJECT
public:
    explicit fVelmar(VelmarProgram& program, QWidget* parent = nullptr);
    ~fVelmar() override;

    // The menu entries' handlers.
    void requestShutDown(); // m_esci and the close box: refused while a receipt is sent
    void openManual();      // m_Manual
    void openTableEditor(); // m_Configura
    void openAbout();       // m_info
    // Back from the tray (or the task bar), in its normal state.
    void showRestored();

    ui::TrayIcon& tray() { return *tray_; }
    Form1& closingNotice() { return *form1_; }

    // Whether the desktop has a notification area to minimise into.
    std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    // The desktop's "Open" action for documents.
    std::function<bool(const QUrl&)> openDocument = &QDesktopServices::openUrl;
    // The program's log.
    std::function<void(const QString&)> log;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    QGroupBox* buildChannels();
    QGroupBox* buildMessages();
    QGroupBox* buildPollSettings();
    QGroupBox* buildConverterOptions();
    QGroupBox* buildLineSpeed();
    QGroupBox* buildLinkSettings();
    QGroupBox* buildProgramSettings();

    VelmarProgram& program_;
    QLabel* image1_ = nullptr; // the busy picture of the tray
    ui::TrayIcon* tray_ = nullptr;
    Form1* form1_ = nullptr;
    bool shuttingDown_ = false;
    bool ended_ = false;
    bool minimisedInTaskBar_ = false;
    bool toldNoTray_ = false;
};

} // namespace velmar
