#include "app/OperatorPanel.h"

#include "common/Cp1252.h"
#include "common/TextRules.h"

namespace velmar {

const QStringList& OperatorPanel::familyNames() {
    static const QStringList names = {
        QStringLiteral("Vers. Standard"),    QStringLiteral("Vers. Custom Eng."),
        QStringLiteral("Vers. Ditron"),      QStringLiteral("Vers. 3I"),
        QStringLiteral("Vers. SystemConnection"), QStringLiteral("Vers. Emotiq"),
        QStringLiteral("Vers. Asem SF85")};
    return names;
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
}

int OperatorPanel::ecrVariant() const {
    const int index = cboAddedFunctions.listIndex();
    return index < 0 ? 0 : index;
}

std::int16_t OperatorPanel::maxDescrLen() const {
    const std::string text = cp1252::encode(cboMaxLenDescr.text()).toStdString();
    if (!text::isNumeric(text)) {
        return 30;
    }
    return text::toInt16(text::leadingNumber(text));
}

} // namespace velmar
