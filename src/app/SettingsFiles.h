#pragma once
// The settings files in the settings folder (the program folder of a portable
// copy): one value per line, CR LF.
//
//   VMCHKCOM.TXT  the four channel ticks, "1100"
//   VMTIMER1.TXT  the poll interval as the operator typed it ("5", "500ms")
//   VMChkBd.txt   the line speed, "9600"
//   VMCHKSCO.TXT  by line: 1 register family, 2 description length, 3 tracing,
//                 4 network mode, 5 remote address, 6 TCP port, 7 registration
//                 number, 8 TCP reply time-out in ms
//
// VMCHKSCO.TXT is always written with all eight lines; a value that is not
// saved (the address and port in serial mode, an empty registration number)
// leaves its line empty, so every value keeps its line. An empty line reads as
// no address, port 6660, no registration number.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

class Engine;

class SettingsFiles {
public:
    static constexpr const char* kChannels = "VMCHKCOM.TXT";
    static constexpr const char* kTimer = "VMTIMER1.TXT";
    static constexpr const char* kBaud = "VMChkBd.txt";
    static constexpr const char* kOptions = "VMCHKSCO.TXT";

    SettingsFiles(Engine& engine, QString folder) : engine_(engine), folder_(std::move(folder)) {}

    const QString& folder() const { return folder_; }
    QString path(const char* name) const;

    // The values of a file in order: a line is one value unless it holds a
    // comma; blanks and double quotes around a value are dropped. Nothing when
    // the file is missing.
    std::optional<std::vector<std::string>> readValues(const char* name) const;

    // Start-up, in its order: ticks, poll interval, line speed, options.
    void loadChannelTicks();
    void loadPollInterval();
    void loadLineSpeed();
    void loadOptions();

    // The interval rule: sets nPollInterval and txtTimerVal from the leading
    // number of `sInput`; rewrites VMTIMER1.TXT when asked.
    void CalculateTimer(const QString& sInput, bool SaveFile);

    // Shut-down: VMCHKCOM.TXT, VMChkBd.txt and VMCHKSCO.TXT.
    void SaveSettings();

    // Where a settings file that could not be written is told (the program's
    // log); it goes to the trace too.
    std::function<void(const QString&)> log;

private:
    // Each file appears whole (written aside and renamed into place); a
    // failure is told, and the program goes on with what it has.
    void save(const char* name, const std::vector<std::string>& lines);

    Engine& engine_;
    QString folder_;
};

} // namespace velmar
