#pragma once
// The operator panel model: the state the windowed program keeps in its
// controls, with the controls' own names, owned by the engine. The windows bind
// to it; `velmard` logs its changes; engine code reads and writes it and never
// a widget.

#include "panel/PanelControls.h"

#include <QObject>
#include <string>

namespace velmar {

class OperatorPanel : public QObject {
    Q_OBJECT
public:
    explicit OperatorPanel(QObject* parent = nullptr);

    // Channels ("Porte di comunicazione"): enable ticks, port lamps, dump states.
    CheckControl Check1{QStringLiteral("Check1"), this};
    CheckControl Check2{QStringLiteral("Check2"), this};
    CheckControl Check3{QStringLiteral("Check3"), this};
    CheckControl Check4{QStringLiteral("Check4"), this};
    LampControl Shape1{QStringLiteral("Shape1"), this};
    LampControl Shape2{QStringLiteral("Shape2"), this};
    LampControl Shape4{QStringLiteral("Shape4"), this};
    LampControl Shape5{QStringLiteral("Shape5"), this};
    TextControl Text4{QStringLiteral("Text4"), this};
    TextControl Text5{QStringLiteral("Text5"), this};
    TextControl Text6{QStringLiteral("Text6"), this};
    TextControl Text7{QStringLiteral("Text7"), this};
    // Per channel: the register's state ("In linea", "Porta non disponibile",
    // ...), its registration number from SR_MATR, and the last job's time and
    // result.
    TextControl txtStatoEcr1{QStringLiteral("txtStatoEcr1"), this};
    TextControl txtStatoEcr2{QStringLiteral("txtStatoEcr2"), this};
    TextControl txtStatoEcr3{QStringLiteral("txtStatoEcr3"), this};
    TextControl txtStatoEcr4{QStringLiteral("txtStatoEcr4"), this};
    TextControl txtMatricola1{QStringLiteral("txtMatricola1"), this};
    TextControl txtMatricola2{QStringLiteral("txtMatricola2"), this};
    TextControl txtMatricola3{QStringLiteral("txtMatricola3"), this};
    TextControl txtMatricola4{QStringLiteral("txtMatricola4"), this};
    TextControl txtUltimoLavoro1{QStringLiteral("txtUltimoLavoro1"), this};
    TextControl txtUltimoLavoro2{QStringLiteral("txtUltimoLavoro2"), this};
    TextControl txtUltimoLavoro3{QStringLiteral("txtUltimoLavoro3"), this};
    TextControl txtUltimoLavoro4{QStringLiteral("txtUltimoLavoro4"), this};

    // Messages: the register's messages, the program status, the heartbeat.
    TextControl Text1{QStringLiteral("Text1"), this};
    TextControl Text2{QStringLiteral("Text2"), this};
    TextControl Text3{QStringLiteral("Text3"), this};

    // Poll settings ("Impostazioni ").
    FrameControl Frame3{QStringLiteral("Frame3"), this};
    TextControl txtTimerVal{QStringLiteral("txtTimerVal"), this};
    TextControl txtTimer{QStringLiteral("txtTimer"), this};
    ButtonControl cmdChgTimer{QStringLiteral("cmdChgTimer"), QStringLiteral("Set timer"), this};
    ButtonControl CMBFile{QStringLiteral("CMBFile"), QStringLiteral(" Esegui Test"), this};
    ButtonControl AnnullaSco{QStringLiteral("AnnullaSco"), QStringLiteral("Annulla Sco."), this};

    // Converter options ("Opzioni Aggiuntive").
    FrameControl Frame5{QStringLiteral("Frame5"), this};
    ListControl cboAddedFunctions{QStringLiteral("cboAddedFunctions"), this}; // register family
    ListControl cboMaxLenDescr{QStringLiteral("cboMaxLenDescr"), this};       // 18..32
    CheckControl chbTrace{QStringLiteral("chbTrace"), this};

    // Line speed ("Velocità di comunicazione").
    FrameControl Frame6{QStringLiteral("Frame6"), this};
    ListControl cmbBaude{QStringLiteral("cmbBaude"), this};
    ButtonControl Command1{QStringLiteral("Command1"), QStringLiteral("Applica"), this};

    // Link settings ("Impostazioni Aggiuntive").
    FrameControl Frame7{QStringLiteral("Frame7"), this};
    OptionControl OptionRS232{QStringLiteral("OptionRS232"), this};
    OptionControl OptionRete{QStringLiteral("OptionRete"), this};
    TextControl TxtRemoteIP{QStringLiteral("TxtRemoteIP"), this};
    TextControl TcpPort{QStringLiteral("TcpPort"), this};
    ButtonControl cmdValidateIP{QStringLiteral("cmdValidateIP"), QStringLiteral("Valida IP"), this};
    ButtonControl cmdResetConn{QStringLiteral("cmdResetConn"), QStringLiteral("Reset Connessione"),
                               this};
    LampControl ShapeConn{QStringLiteral("ShapeConn"), this};
    TextControl Text8{QStringLiteral("Text8"), this}; // "Matricola"

    // Program configuration: the data directory.
    FrameControl lblPathVista{QStringLiteral("lblPathVista"), this};
    TextControl txtAppDataVista{QStringLiteral("txtAppDataVista"), this};

    // The department and VAT table editor's menu entry.
    FrameControl m_Configura{QStringLiteral("m_Configura"), this};

    // The notification-area icon, and the closing notice shown during shut-down.
    TrayControl tray{QStringLiteral("tray"), this};
    FrameControl Form1{QStringLiteral("Form1"), this};

    // The register registration number read from the settings at start-up;
    // the converter compares document references with it.
    std::string ConfiguredMatricola;

    // Per channel 1-4.
    CheckControl& check(int channel);
    LampControl& portLamp(int channel);
    TextControl& dumpStatus(int channel);
    TextControl& ecrState(int channel);
    TextControl& registration(int channel);
    TextControl& lastJob(int channel);

    bool serialMode() const { return OptionRS232.value(); }
    // The selected register family, 0 to 6 (0 when nothing is selected).
    int ecrVariant() const;

    static const QStringList& familyNames();
    static const QStringList& lineSpeeds();
};

} // namespace velmar
