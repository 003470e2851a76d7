#pragma once
// The operator panel as the link sees it: the settings it reads and the
// status it shows, and the panel's link buttons connected to the link's
// actions.

#include "link/EcrLink.h"
#include "link/LinkSettings.h"
#include "link/LinkStatus.h"
#include "panel/OperatorPanel.h"

namespace velmar {

class LinkPanel : public LinkSettingsSource, public LinkStatus {
public:
    explicit LinkPanel(OperatorPanel& panel) : panel_(panel) {}

    LinkSettings linkSettings() const override;

    void showLinkError(const QString& text) override { panel_.Text2.setText(text); }
    void showConnection(bool up) override;
    QString caption(LinkButton button) const override { return this->button(button).caption(); }
    void setCaption(LinkButton button, const QString& caption) override {
        this->button(button).setCaption(caption);
    }
    void showTcpPort(const QString& port) override { panel_.TcpPort.setText(port); }
    void showOperatingMode(bool service) override;

    // The link buttons and the channel ticks to the link's actions; the
    // actions that send bytes wait while the link is busy.
    void connectActions(EcrLink& link, OperatorUi& ui);

private:
    ButtonControl& button(LinkButton button) const;

    OperatorPanel& panel_;
};

} // namespace velmar
