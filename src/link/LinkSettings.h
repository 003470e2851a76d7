#pragma once
// What the link reads of the operator's settings, as they are at the moment
// it asks: the line (serial or TCP), the register family, where the register
// is on the network, the line speed and the converter's two choices. The app
// supplies them from its panel; the link never sees the panel itself.

#include <QString>
#include <string>

namespace velmar {

struct LinkSettings {
    bool serialMode = true;     // RS232; false: TCP
    int ecrVariant = 0;         // the register family
    QString tcpPort;            // the TCP port as typed (empty: the family's default)
    QString remoteIp;           // the register's address
    QString lineSpeed;          // the line speed as chosen ("9600")
    std::string maxDescrLen;    // the description length as chosen
    std::string registrationNumber; // the configured registration number
};

class LinkSettingsSource {
public:
    virtual ~LinkSettingsSource() = default;
    virtual LinkSettings linkSettings() const = 0;
};

} // namespace velmar
