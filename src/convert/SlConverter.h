#pragma once
// The translator: a host receipt file (SR_DATI.00n) becomes XON.txt in the
// data directory, one register command per line, for the selected register
// family. About twenty keywords are translated here; every other line goes to
// the conversion library.

#include "common/LineFile.h"
#include "common/OperatorUi.h"
#include "convert/ConversionLibrary.h"
#include "convert/ConverterSettings.h"
#include "tables/DepartmentTables.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace velmar {

// What the converter needs from the rest of the engine. The data directory
// and the channel are read at every use: start-up and the job step own them.
// A receipt never ends the program: whatever goes wrong refuses that receipt.
struct ConverterContext {
    DepartmentTables& tables;
    ConversionLibrary& library;
    OperatorUi& ui;
    const QString& dataDir;
    const std::int16_t& iCurrentCom;
};

// How the last conversion ended, beyond its 0 / 1 result.
enum class ConversionOutcome {
    Converted,    // 0: converted to the end of the input
    Empty,        // 0: the input file has 0 bytes; no XON.txt exists
    MissingInput, // 0: the input file does not exist (the operator was told)
    Refused,      // 1: the receipt breaks a rule of the receipt language; lastReason() says why
    Failed,       // 1: a fault while converting (a number beyond its type, a file that cannot
                  //    be read or created); the receipt is refused all the same
};

// What a conversion hands to the link.
struct ConversionResult {
    std::int16_t code = 0;         // 0 converted (or the input is missing or empty), 1 refused
    QString outputPath;            // XON.txt; set only by a conversion that reached its end
    bool nonFiscalOpen = false;    // the receipt opened a non-fiscal document
    std::int16_t paymentLines = 0; // payment lines ("<digit>T") written
};

class SlConverter {
public:
    static constexpr const char* kOutputName = "XON.txt";
    // The largest receipt: far beyond any shop's receipt, and small enough
    // that a receipt is sent in minutes, not hours. A receipt file of more
    // bytes, or one that makes more register commands, is refused before
    // anything is sent.
    static constexpr qint64 kMaxReceiptBytes = 1024 * 1024;
    static constexpr std::size_t kMaxCommands = 5000;
    // The file a READ line without a name creates.
    static constexpr const char* kDefaultReadName = "DataReceived.txt";

    explicit SlConverter(ConverterContext context) : ctx_(context) {}

    // Converts the receipt with the operator's `settings` of the moment.
    ConversionResult ConvertSlFile(const QString& InputFilePath, const ConverterSettings& settings);

    // Path of the data file named by a READ line: always a file of the data
    // directory. Empty, with the reason in `why`, when the line names a
    // folder, a path or a name that is not a plain file name.
    QString GetDataReceivedPath(std::string_view sLine, std::string& why) const;

    // True when `fileName` is one of Velmar's own files or folders in the
    // data directory or the program folder (channel files, XON.txt, logs,
    // traces, settings, tables, the programs and the library), which a READ
    // line may not name. Compared without regard to case.
    static bool isDriverFileName(const QString& fileName);

    QString outputPath() const;
    ConversionOutcome lastOutcome() const { return outcome_; }
    // One line for people: which input line was refused or failed, and why.
    const QString& lastReason() const { return reason_; }

private:
    // What follows a keyword handler.
    enum class Next {
        Library,   // library if nothing was produced, bar fix, deposit fix, count, write
        Deposit,   // deposit fix, count, write
        Count,     // count, write
        Drop,      // nothing is written for the line
        Refuse,    // the whole receipt is refused
    };

    std::int16_t convertFile(const QString& InputFilePath);
    bool convertLine(const std::string& raw);
    bool createReadFile(const std::string& raw);
    Next dispatch();
    bool field(std::string_view key, std::string& value) const;
    bool atStart(std::string_view keyword) const;
    Next refuse(std::string why);
    void writeNow(std::string_view command);
    void documentStartRule(); // the family's document start before the first sale

    Next handleOpen();
    Next handleDisp();
    Next handleOpnf();
    Next handlePlud();
    Next handlePrnt();
    Next handleSale();
    Next handleAdds();
    Next handleChequeOrCard(bool cheque);
    Next handleCred();
    Next handleReco();
    Next handleQrco();
    Next handleBarc();
    Next handleExtl();
    Next handleLott();
    Next handleTend();
    Next handleBanc();
    Next handleTick();
    Next handleFunc();
    Next handleReferenceDocument(bool cancelling);

    int paymentNumber(std::string_view keyword) const;

    ConverterContext ctx_;
    ConverterSettings settings_;   // of the conversion that runs
    // settings_.descriptionLength(), parsed at the first line that needs it
    // (so a bad setting refuses the receipt at that line) and kept for the rest.
    std::optional<std::int16_t> descriptionLength_;
    ConversionResult result_;      // of the conversion that runs
    LineWriter* writer_ = nullptr; // XON.txt, while a conversion runs
    QString inputPath_;            // the receipt being converted
    std::size_t written_ = 0;      // commands written to XON.txt
    bool tooManyCommands_ = false; // one more command than kMaxCommands was asked for

    // Conversion state, reset at every ConvertSlFile.
    bool FirstSalePending_ = true;
    bool DocumentStartSent_ = false;
    std::string PendingComment_;
    bool ReferenceDocumentSeen_ = false;
    std::string barcodeType_;

    // Per line.
    std::string line_;
    std::string out_;
    std::string SalePrefix_;
    bool percentLine_ = false;
    int nPayment_ = 0;
    int variant_ = 0;

    ConversionOutcome outcome_ = ConversionOutcome::Converted;
    QString reason_;
    std::string refusal_;
};

} // namespace velmar
