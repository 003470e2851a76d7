#include "app/TrayIcon.h"

#include <QAction>
#include <QCursor>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

namespace velmar::ui {

namespace {

// The picture on a 64 x 64 grid.
void paintPicture(QPainter& p, bool busy) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, 64);
    if (busy) {
        back.setColorAt(0, QColor(0xF2, 0xA5, 0x3A));
        back.setColorAt(1, QColor(0xC8, 0x6A, 0x10));
    } else {
        back.setColorAt(0, QColor(0x2A, 0x8C, 0x96));
        back.setColorAt(1, QColor(0x17, 0x5A, 0x63));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(back);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The receipt: a paper strip with a torn, zigzag lower edge.
    QPainterPath paper;
    paper.moveTo(17, 9);
    paper.lineTo(47, 9);
    paper.lineTo(47, 52);
    const double teeth = 5;
    const double step = 30.0 / teeth;
    for (int i = 0; i < teeth; ++i) {
        const double x = 47 - i * step;
        paper.lineTo(x - step / 2, 56);
        paper.lineTo(x - step, 52);
    }
    paper.closeSubpath();
    p.setBrush(QColor(0xFB, 0xFB, 0xF7));
    p.setPen(QPen(QColor(0x33, 0x33, 0x33, 90), 1));
    p.drawPath(paper);

    p.setPen(QPen(QColor(0x8A, 0x8A, 0x8A), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 17), QPointF(42, 17));
    p.drawLine(QPointF(22, 24), QPointF(36, 24));
    p.drawLine(QPointF(22, 31), QPointF(39, 31));
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 41), QPointF(42, 41));
    if (busy) {
        // A print in progress: a dot on the paper's edge.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xD0, 0x30, 0x20));
        p.drawEllipse(QPointF(47, 12), 6, 6);
    }
}

QIcon iconOf(bool busy) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(programPicture(size, busy));
    }
    return icon;
}

} // namespace

QPixmap programPicture(int size, bool busy) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.scale(size / 64.0, size / 64.0);
    paintPicture(p, busy);
    return pixmap;
}

QIcon programIcon() {
    static const QIcon icon = iconOf(false);
    return icon;
}

QIcon busyIcon() {
    static const QIcon icon = iconOf(true);
    return icon;
}

QPixmap programLogo(int size) {
    QPixmap pixmap = programPicture(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // A round seal with a V over the receipt's corner.
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(0xB0, 0x1E, 0x2E));
    p.drawEllipse(QPointF(46, 46), 11, 11);
    QPainterPath v;
    v.moveTo(40.5, 40);
    v.lineTo(46, 53);
    v.lineTo(51.5, 40);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(v);
    return pixmap;
}

TrayIcon::TrayIcon(TrayControl& control, QIcon windowIcon, QIcon busyIcon, QMenu* menu,
                   QAction* defaultEntry, std::function<void()> doubleClicked, QObject* parent)
    : QObject(parent), control_(control), windowIcon_(std::move(windowIcon)),
      busyIcon_(std::move(busyIcon)), menu_(menu), defaultEntry_(defaultEntry),
      doubleClicked_(std::move(doubleClicked)) {
    icon_.setIcon(windowIcon_);
    connect(&control_, &TrayControl::changed, this, &TrayIcon::follow);
    connect(&control_, &PanelControl::visibleChanged, this, &TrayIcon::follow);
    connect(&icon_, &QSystemTrayIcon::activated, this, &TrayIcon::activate);
    connect(&control_, &TrayControl::notified, this, [this](const QString& title, const QString& text) {
        if (icon_.isVisible()) {
            icon_.showMessage(title, text, QSystemTrayIcon::Warning, kNoticeMs);
        }
    });
    // The default entry is the popup's only: the menu bar's File menu has none.
    connect(menu_, &QMenu::aboutToHide, this, [this] { menu_->setDefaultAction(nullptr); });
    follow();
}

void TrayIcon::follow() {
    if (!control_.visible()) {
        icon_.hide();
        return;
    }
    icon_.setIcon(control_.icon() == TrayControl::Icon::Busy ? busyIcon_ : windowIcon_);
    icon_.setToolTip(control_.tip());
    icon_.show();
}

void TrayIcon::activate(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        if (doubleClicked_) {
            doubleClicked_();
        }
        break;
    case QSystemTrayIcon::Context:
        menu_->setDefaultAction(defaultEntry_);
        menu_->popup(QCursor::pos());
        menu_->activateWindow(); // so a click elsewhere closes it
        break;
    default:
        break; // a single click or a middle click does nothing
    }
}

} // namespace velmar::ui
