#pragma once
// The notification-area icon, following the panel's tray control: shown while
// the program runs, the program's icon while it waits and the busy picture
// while a receipt is printed, with the control's tip. A double click brings
// the window back with the dump states; a right click pops up the File menu.
// A job that ends in error shows a notice beside the icon.
//
// The program's pictures are drawn here too: the window and tray icon, the
// busy picture, and the logo of the splash window.

#include "panel/PanelControls.h"

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <functional>

class QAction;
class QMenu;

namespace velmar::ui {

// A receipt on a rounded square: teal while waiting, amber while busy.
QPixmap programPicture(int size, bool busy = false);
QIcon programIcon();
QIcon busyIcon();
// The splash window's logo: the program's picture with the program's initial.
QPixmap programLogo(int size);

class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kNoticeMs = 15000; // how long a job's error notice stays
    // `menu` pops up on a right click with `defaultEntry` as its default;
    // `doubleClicked` runs on a left double click.
    TrayIcon(TrayControl& control, QIcon windowIcon, QIcon busyIcon, QMenu* menu,
             QAction* defaultEntry, std::function<void()> doubleClicked, QObject* parent = nullptr);

    // What a mouse event on the icon does.
    void activate(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon& icon() { return icon_; }
    QMenu* menu() const { return menu_; }

private:
    void follow();

    TrayControl& control_;
    QSystemTrayIcon icon_;
    QIcon windowIcon_;
    QIcon busyIcon_;
    QMenu* menu_;
    QAction* defaultEntry_;
    std::function<void()> doubleClicked_;
};

} // namespace velmar::ui
