#include "support/frmSplash.h"

#include "app/PanelBinding.h"
#include "app/TrayIcon.h"
#include "common/ProgramIdentity.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace velmar {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, double scale = 1.0,
              bool bold = false) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    QFont font = l->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    l->setFont(font);
    return l;
}

} // namespace

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QLatin1String(identity::kTitle));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* fraMainFrame = new QFrame(this);
    fraMainFrame->setObjectName(QStringLiteral("fraMainFrame"));
    fraMainFrame->setFrameShape(QFrame::Box);
    fraMainFrame->setFrameShadow(QFrame::Raised);
    fraMainFrame->setLineWidth(1);
    fraMainFrame->setMidLineWidth(1);

    auto* picLogo = new QLabel(fraMainFrame);
    picLogo->setObjectName(QStringLiteral("picLogo"));
    picLogo->setPixmap(ui::programLogo(112));
    picLogo->setAlignment(Qt::AlignCenter);

    QLabel* company = label(fraMainFrame, "lblCompanyProduct", QString::fromUtf8(identity::kCompany), 1.1);
    QLabel* product = label(fraMainFrame, "lblProductName", QString::fromUtf8(identity::kTitle), 2.6, true);
    QLabel* platform = label(fraMainFrame, "lblPlatform", QStringLiteral("Per sistemi Windows 32 bit"), 1.2, true);
    QLabel* version = label(fraMainFrame, "lblVersion",
                            QStringLiteral("Version ") + QLatin1String(identity::kVersionText), 1.1);
    QLabel* copyright = label(fraMainFrame, "lblCopyright", QString::fromUtf8(identity::kCopyright), 0.9);
    QLabel* trademarks = label(fraMainFrame, "lblTrademarks", QString::fromUtf8(kTrademarks), 0.9);
    for (QLabel* l : {platform, version}) {
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    trademarks->setWordWrap(true);

    auto* grid = new QGridLayout(fraMainFrame);
    grid->setContentsMargins(22, 18, 22, 16);
    grid->setHorizontalSpacing(24);
    grid->setVerticalSpacing(6);
    grid->addWidget(company, 0, 1);
    grid->addWidget(picLogo, 0, 0, 4, 1, Qt::AlignTop);
    grid->addWidget(product, 1, 1);
    grid->addWidget(platform, 2, 1);
    grid->addWidget(version, 3, 1);
    grid->setRowMinimumHeight(4, 14);
    grid->addWidget(copyright, 5, 0, 1, 2);
    grid->addWidget(trademarks, 6, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(fraMainFrame);
    setFixedSize(sizeHint().expandedTo(QSize(460, 0)));
}

void frmSplash::showEvent(QShowEvent* event) {
    ui::centreOnScreen(this);
    QWidget::showEvent(event);
}

} // namespace velmar
