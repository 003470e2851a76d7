#pragma once
// The splash window shown on top while the program starts: logo, title,
// company, platform, version and copyright, from the identity set in the
// build.

#include <QWidget>

namespace velmar {

class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);
    static constexpr const char* kTrademarks =
        "Tutti i marchi citati appartengono ai rispettivi proprietari.";

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace velmar
