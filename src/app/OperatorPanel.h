#pragma once
// The operator panel model: the state the windowed program keeps in its
// controls, with the controls' own names, owned by the engine. The windows bind
// to it; `velmard` logs its changes; engine code reads and writes it and never
// a widget.

#include "app/PanelControls.h"

#include <QObject>
#include <string>

namespace velmar {

class OperatorPanel : public QObject {
    Q_OBJECT
public:
    explicit OperatorPanel(QObject* parent = nullptr);

    // The register family list ("Modalità Aggiuntive").
    ListControl cboAddedFunctions{QStringLiteral("cboAddedFunctions"), this};
    // Maximum description length ("Max. Lunghezza Descrizione"), items 18..32.
    ListControl cboMaxLenDescr{QStringLiteral("cboMaxLenDescr"), this};
    // Registration number of the register ("Matricola").
    TextControl Text8{QStringLiteral("Text8"), this};

    // The register registration number read from the settings at start-up;
    // the converter compares document references with it.
    std::string ConfiguredMatricola;

    // The selected register family, 0 to 6 (0 when nothing is selected).
    int ecrVariant() const;
    // The numeric text of cboMaxLenDescr, 30 when it is not numeric.
    // Throws Fault 6 when the number does not fit 16 bits.
    std::int16_t maxDescrLen() const;

    static const QStringList& familyNames();
};

} // namespace velmar
