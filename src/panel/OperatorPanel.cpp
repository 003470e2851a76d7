#include "panel/OperatorPanel.h"

namespace velmar {

const QStringList& OperatorPanel::familyNames() {
    static const QStringList names = {
        QStringLiteral("Vers. Standard"),    QStringLiteral("Vers. Custom Eng."),
        QStringLiteral("Vers. Ditron"),      QStringLiteral("Vers. 3I"),
        QStringLiteral("Vers. SystemConnection"), QStringLiteral("Vers. Emotiq"),
        QStringLiteral("Vers. Asem SF85")};
    return names;
}

const QStringList& OperatorPanel::lineSpeeds() {
    static const QStringList speeds = {QStringLiteral("9600"), QStringLiteral("19200"),
                                       QStringLiteral("38400"), QStringLiteral("57600"),
                                       QStringLiteral("115200")};
    return speeds;
}

OperatorPanel::OperatorPanel(QObject* parent) : QObject(parent) {
    cboAddedFunctions.setItems(familyNames());
    cboAddedFunctions.setListIndex(0);
    QStringList lengths;
    for (int n = 18; n <= 32; ++n) {
        lengths << QString::number(n);
    }
    cboMaxLenDescr.setItems(lengths);
    cboMaxLenDescr.setText(QStringLiteral("30"));
    cmbBaude.setItems(lineSpeeds());
    cmbBaude.setText(QStringLiteral("9600"));
    OptionControl::group({&OptionRS232, &OptionRete});
    OptionRS232.select();
    TcpPort.setText(QStringLiteral("6660"));
    ShapeConn.setColor(LampControl::kRed);
    tray.setVisible(false);
    Form1.setVisible(false);
    lblPathVista.setVisible(false);
    txtAppDataVista.setVisible(false);
}

CheckControl& OperatorPanel::check(int channel) {
    switch (channel) {
    case 1: return Check1;
    case 2: return Check2;
    case 3: return Check3;
    default: return Check4;
    }
}

LampControl& OperatorPanel::portLamp(int channel) {
    switch (channel) {
    case 1: return Shape1;
    case 2: return Shape2;
    case 3: return Shape4;
    default: return Shape5;
    }
}

TextControl& OperatorPanel::dumpStatus(int channel) {
    switch (channel) {
    case 1: return Text4;
    case 2: return Text5;
    case 3: return Text6;
    default: return Text7;
    }
}

TextControl& OperatorPanel::ecrState(int channel) {
    TextControl* fields[] = {&txtStatoEcr1, &txtStatoEcr2, &txtStatoEcr3, &txtStatoEcr4};
    return *fields[channel >= 1 && channel <= 4 ? channel - 1 : 3];
}

TextControl& OperatorPanel::registration(int channel) {
    TextControl* fields[] = {&txtMatricola1, &txtMatricola2, &txtMatricola3, &txtMatricola4};
    return *fields[channel >= 1 && channel <= 4 ? channel - 1 : 3];
}

TextControl& OperatorPanel::lastJob(int channel) {
    TextControl* fields[] = {&txtUltimoLavoro1, &txtUltimoLavoro2, &txtUltimoLavoro3, &txtUltimoLavoro4};
    return *fields[channel >= 1 && channel <= 4 ? channel - 1 : 3];
}

int OperatorPanel::ecrVariant() const {
    const int index = cboAddedFunctions.listIndex();
    return index < 0 ? 0 : index;
}

} // namespace velmar
