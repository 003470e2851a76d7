#include "app/Form1.h"

#include "app/PanelBinding.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

namespace velmar {

Form1::Form1(PanelControl& control, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(kCaption));
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->setSpacing(14);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* text = new QLabel(QLatin1String(kCaption), this);
    text->setObjectName(QStringLiteral("lblClosing"));
    layout->addWidget(icon);
    layout->addWidget(text, 1);
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
    ui::bindState(this, control);
}

void Form1::showEvent(QShowEvent* event) {
    // In the middle of the screen, whatever the main window's state.
    ui::centreOnScreen(this);
    QWidget::showEvent(event);
}

} // namespace velmar
