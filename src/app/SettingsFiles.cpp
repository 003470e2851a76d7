#include "app/SettingsFiles.h"

#include "app/Engine.h"
#include "common/Cp1252.h"
#include "common/LineFile.h"
#include "common/TextRules.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>

namespace velmar {

namespace {

QString shown(const std::string& bytes) {
    return cp1252::decode(bytes);
}

std::string bytes(const QString& s) {
    return cp1252::encode(s).toStdString();
}

std::string stripped(std::string_view field) {
    std::size_t b = 0;
    std::size_t e = field.size();
    while (b < e && (field[b] == ' ' || field[b] == '"' || field[b] == '\t')) {
        ++b;
    }
    while (e > b && (field[e - 1] == ' ' || field[e - 1] == '"' || field[e - 1] == '\t')) {
        --e;
    }
    return std::string(field.substr(b, e - b));
}

} // namespace

QString SettingsFiles::path(const char* name) const {
    return QDir(folder_).filePath(QLatin1String(name));
}

void SettingsFiles::save(const char* name, const std::vector<std::string>& lines) {
    QString why;
    if (writeLines(path(name), lines, &why)) {
        return;
    }
    const QString line = QLatin1String(name) + QStringLiteral(" non scritto: ") + why;
    engine_.trace.fault(Fault(faultno::FileAccess, line.toStdString()), "SettingsFiles");
    if (log) {
        log(line);
    }
}

std::optional<std::vector<std::string>> SettingsFiles::readValues(const char* name) const {
    // A file that cannot be read gives no values; only a missing one is "not set".
    const LinesRead read = readLines(path(name));
    if (read.missing()) {
        return std::nullopt;
    }
    std::vector<std::string> values;
    for (const std::string& line : read.lines) {
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = line.find(',', from);
            values.push_back(stripped(std::string_view(line).substr(from, comma - from)));
            if (comma == std::string::npos) {
                break;
            }
            from = comma + 1;
        }
    }
    return values;
}

void SettingsFiles::loadChannelTicks() {
    const auto values = readValues(kChannels);
    const std::string first = values && !values->empty() ? values->front() : std::string();
    for (int n = 1; n <= 4; ++n) {
        // Too short a value (or none) ticks every channel.
        const bool on = first.size() < 4 || first[static_cast<std::size_t>(n - 1)] == '1';
        engine_.panel.check(n).setValue(on ? 1 : 0);
    }
}

void SettingsFiles::CalculateTimer(const QString& sInput, bool SaveFile) {
    JobState& job = engine_.job;
    TextControl& field = engine_.panel.txtTimerVal;
    const std::string input = bytes(sInput);
    double v = 0;
    try {
        v = text::leadingNumber(input);
    } catch (const Fault&) {
        v = 1e300; // beyond every limit: the longest interval
    }
    if (input.empty() || v <= 0) {
        job.nPollInterval = 1000;
        field.setText(QStringLiteral("1")); // the field shows the interval in use
    } else if (v <= 60) {
        job.nPollInterval = std::max(1, text::toInt32(v * 1000)); // seconds
        field.setText(sInput);
    } else if (v < 100 || v > 60000) {
        job.nPollInterval = 60000;
        field.setText(QStringLiteral("60"));
    } else {
        job.nPollInterval = text::toInt32(v); // milliseconds
        field.setText(shown(text::numberText(v)) + QStringLiteral("ms"));
    }
    if (SaveFile) {
        const std::string saved = job.nPollInterval < 1000
                                      ? std::to_string(job.nPollInterval)
                                      : text::numberText(job.nPollInterval / 1000.0);
        save(kTimer, {saved});
    }
}

void SettingsFiles::loadPollInterval() {
    const auto values = readValues(kTimer);
    const std::string first = values && !values->empty() ? values->front() : std::string();
    CalculateTimer(shown(first), false);
    save(kTimer, {bytes(engine_.panel.txtTimerVal.text())});
}

void SettingsFiles::loadLineSpeed() {
    const auto values = readValues(kBaud);
    const std::string first = values && !values->empty() ? values->front() : std::string();
    if (!first.empty() && text::isNumeric(first)) {
        engine_.link.BaudRate = text::toInt32(text::leadingNumber(first));
        engine_.panel.cmbBaude.setText(shown(first));
    } else {
        engine_.link.BaudRate = 9600;
        engine_.panel.cmbBaude.setText(QStringLiteral("9600"));
    }
}

void SettingsFiles::loadOptions() {
    OperatorPanel& p = engine_.panel;
    const auto values = readValues(kOptions);
    if (!values) {
        p.OptionRS232.select();
        p.cboAddedFunctions.setListIndex(5);
        return;
    }
    const std::vector<std::string>& v = *values;
    const auto at = [&v](std::size_t i) -> std::optional<std::string> {
        return i < v.size() ? std::optional<std::string>(v[i]) : std::nullopt;
    };
    const auto number = [](const std::optional<std::string>& s) -> std::optional<double> {
        if (!s || !text::isNumeric(*s)) {
            return std::nullopt;
        }
        try {
            return text::leadingNumber(*s);
        } catch (const Fault&) {
            return std::nullopt;
        }
    };

    // 1: the register family.
    if (at(0)) {
        const auto family = number(at(0));
        p.cboAddedFunctions.setListIndex(family && *family >= 0 && *family < p.cboAddedFunctions.items().size()
                                             ? static_cast<int>(*family)
                                             : 0);
    }
    // 2: the description length.
    if (at(1)) {
        p.cboMaxLenDescr.setText(number(at(1)) ? shown(*at(1)) : QStringLiteral("30"));
    }
    // 3: tracing.
    p.chbTrace.setValue(at(2) && *at(2) == "1" ? 1 : 0);
    // 4: the link.
    const auto network = number(at(3));
    if (network && *network == 1) {
        p.OptionRete.select();
    } else {
        p.OptionRS232.select();
    }
    // 5: the register's address.
    engine_.socket.setRemoteHost(QString());
    if (at(4) && TcpLine::IsValidIp(shown(*at(4)))) {
        p.TxtRemoteIP.setText(shown(*at(4)));
        engine_.socket.setRemoteHost(shown(*at(4)));
    }
    // 6: the port is always 6660 after start-up.
    p.TcpPort.setText(QStringLiteral("6660"));
    if (number(at(5))) {
        engine_.socket.setRemotePort(6660);
    }
    // 7: the registration number.
    if (at(6) && !at(6)->empty()) {
        p.Text8.setText(shown(*at(6)));
        p.ConfiguredMatricola = *at(6);
    }
    // 8: the TCP reply time-out.
    const auto timeout = number(at(7));
    engine_.link.SocketReplyTimeoutMs =
        timeout && *timeout > 0 && *timeout <= 2147483647.0 ? text::toInt32(*timeout) : 3500;
}

void SettingsFiles::SaveSettings() {
    OperatorPanel& p = engine_.panel;
    std::string ticks = "0000";
    for (int n = 1; n <= 4; ++n) {
        if (p.check(n).value() == 1) {
            ticks[static_cast<std::size_t>(n - 1)] = '1';
        }
    }
    save(kChannels, {ticks});
    save(kBaud, {bytes(p.cmbBaude.text())});

    if (p.cboAddedFunctions.listIndex() < 0) {
        p.cboAddedFunctions.setListIndex(0);
    }
    const bool network = p.OptionRete.value();
    const std::string length = bytes(p.cboMaxLenDescr.text());
    const std::string port = bytes(p.TcpPort.text());
    std::vector<std::string> lines{
        " " + std::to_string(p.cboAddedFunctions.listIndex()) + " ",
        text::isNumeric(length) ? length : "30",
        p.chbTrace.value() == 1 ? "1" : "0",
        network ? "1" : "0",
        network && TcpLine::IsValidIp(p.TxtRemoteIP.text()) ? bytes(p.TxtRemoteIP.text()) : "",
        network && !port.empty() && text::isNumeric(port) ? port : "",
        bytes(p.Text8.text()),
        engine_.link.SocketReplyTimeoutMs != 0 ? std::to_string(engine_.link.SocketReplyTimeoutMs) : "",
    };
    save(kOptions, lines);
}

} // namespace velmar
