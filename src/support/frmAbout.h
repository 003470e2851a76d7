#pragma once
// The about window, "Informazioni su Velmar": the program's title, version
// and description, from the identity set in the build.

#include <QDialog>

namespace velmar {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);
};

} // namespace velmar
