#pragma once
// The operator window's own handlers, on the panel model (the link actions
// are the link's): the link mode options, "Set timer", the test print, and
// what the tray and the window report.

#include <QObject>
#include <QString>

namespace velmar {

class Engine;
class SettingsFiles;

class OperatorHandlers : public QObject {
    Q_OBJECT
public:
    OperatorHandlers(Engine& engine, SettingsFiles& settings, QObject* parent = nullptr);

    void OptionRete_Click();
    void OptionRS232_Click();
    void cmdChgTimer_Click(); // applies the poll interval typed in txtTimerVal
    void CMBFile_Click();     // the test print " Esegui Test"
    void trayDoubleClicked(); // shows the window with the four dump states
    void windowMinimised();   // the window goes to the tray: no status texts
    // "Stato timer:": "Timer OFF" while the poll timer is off in configuration.
    void showTimerState();

    // The user manual, manvelmar.pdf in the manual folder.
    static QString manualPath(const QString& manualFolder);

private:
    Engine& e_;
    SettingsFiles& settings_;
};

} // namespace velmar
