#include "app/QtOperatorUi.h"

#include "common/ProgramIdentity.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace velmar {

bool installItalianTranslations() {
    static QTranslator* qtbase = nullptr;
    if (qtbase) {
        return true;
    }
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    qtbase = translator;
    return true;
}

MsgAnswer QtOperatorUi::showMessage(const MessageBox& box) {
    if (log) {
        log(LoggingOperatorUi::describe(box));
    }
    QMessageBox dialog(parent_);
    dialog.setText(box.text);
    dialog.setWindowTitle(box.untitled ? QStringLiteral(" ")
                          : box.title.isEmpty() ? QLatin1String(identity::kTitle)
                                                : box.title);
    switch (box.icon) {
    case MsgIcon::Information: dialog.setIcon(QMessageBox::Information); break;
    case MsgIcon::Exclamation: dialog.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Critical: dialog.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: dialog.setIcon(QMessageBox::Question); break;
    case MsgIcon::None: break;
    }
    struct Choice {
        MsgAnswer answer;
        QMessageBox::StandardButton button;
    };
    QList<Choice> choices;
    switch (box.buttons) {
    case MsgButtons::Ok: choices = {{MsgAnswer::Ok, QMessageBox::Ok}}; break;
    case MsgButtons::OkCancel: choices = {{MsgAnswer::Ok, QMessageBox::Ok}, {MsgAnswer::Cancel, QMessageBox::Cancel}}; break;
    case MsgButtons::YesNo: choices = {{MsgAnswer::Yes, QMessageBox::Yes}, {MsgAnswer::No, QMessageBox::No}}; break;
    case MsgButtons::YesNoCancel:
        choices = {{MsgAnswer::Yes, QMessageBox::Yes}, {MsgAnswer::No, QMessageBox::No},
                   {MsgAnswer::Cancel, QMessageBox::Cancel}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) {
        buttons |= c.button;
        if (c.answer == box.defaultAnswer) {
            dialog.setDefaultButton(c.button);
        }
    }
    dialog.setStandardButtons(buttons);
    for (const Choice& c : choices) {
        if (c.answer == box.defaultAnswer) {
            dialog.setDefaultButton(c.button);
        }
    }
    if (box.systemModal) {
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }
    const auto pressed = static_cast<QMessageBox::StandardButton>(dialog.exec());
    for (const Choice& c : choices) {
        if (c.button == pressed) {
            return c.answer;
        }
    }
    return box.defaultAnswer; // closed with the title bar's button
}

} // namespace velmar
