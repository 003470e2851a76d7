#pragma once
// What the link shows the operator, and nothing more: the link's error text,
// the connection lamp, the captions of its two network buttons (they tell
// the progress of a reset or an address check), the TCP port it fell back
// to, and which operating mode is on. The app draws them on its panel.

#include <QString>

namespace velmar {

enum class LinkButton { ResetConnection, ValidateIp };

class LinkStatus {
public:
    virtual ~LinkStatus() = default;
    virtual void showLinkError(const QString& text) = 0;
    virtual void showConnection(bool up) = 0;
    virtual QString caption(LinkButton button) const = 0;
    virtual void setCaption(LinkButton button, const QString& caption) = 0;
    // The TCP port was empty: the family's default is used and shown.
    virtual void showTcpPort(const QString& port) = 0;
    // Service mode (jobs run) or configuration mode (settings can be changed).
    virtual void showOperatingMode(bool service) = 0;
};

} // namespace velmar
