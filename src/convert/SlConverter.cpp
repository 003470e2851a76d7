#include "convert/SlConverter.h"

#include "common/Cp1252.h"
#include "common/EcrFamily.h"
#include "common/Fault.h"
#include "common/TextRules.h"
#include "convert/CommandFixes.h"
#include "convert/SlField.h"
#include "convert/SlNormalizer.h"
#include "convert/TaxCodeChecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmar {

// The link counts payment lines in 16 bits; a receipt within the limit
// cannot pass that count.
static_assert(SlConverter::kMaxCommands <
              static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()));

namespace {

using text::isNumeric;
using text::leadingNumber;
using text::numberText;
using text::toInt16;

// Text from the host as it may stand inside a register command's quoted
// text: a double quote would end the quoted text early and let the rest of
// the host's text be read as commands, so it becomes an apostrophe.
std::string hostText(std::string_view s) {
    std::string t(s);
    std::replace(t.begin(), t.end(), '"', '\'');
    return t;
}

std::string inQuotes(std::string_view s) {
    std::string q;
    q.reserve(s.size() + 2);
    q.push_back('"');
    q.append(hostText(s));
    q.push_back('"');
    return q;
}

// The number as the "0000" picture shows it: at least four digits, rounded
// half away from zero.
std::string fourDigits(double v) {
    const double r = std::round(v);
    std::string digits = numberText(std::fabs(r));
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), '0');
    }
    return r < 0 ? "-" + digits : digits;
}

// A line as the log shows it: control bytes as "?", long lines cut.
QString forPeople(std::string_view bytes) {
    std::string shown(bytes.substr(0, 200));
    for (char& c : shown) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            c = '?';
        }
    }
    QString s = cp1252::decode(shown);
    if (s.size() > 80) {
        s = s.left(77) + QLatin1String("...");
    }
    return s;
}

// The first byte of the line that no receipt line may hold: the C0 control
// bytes but the tab, and DEL. A line end never reaches here.
std::optional<unsigned char> controlByte(std::string_view line) {
    for (char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b == 0x7F) {
            return b;
        }
    }
    return std::nullopt;
}

// Creates the file a READ line names empty, or empties it. False, with why in
// `notPlain`, when the name is taken by something else than a plain file of
// its own (a link, a device, a pipe): it is left alone. Throws Fault 75 for a
// folder or a file that cannot be created, Fault 76 when the data directory
// is gone.
bool createEmptyDataFile(const QString& path, std::string& notPlain) {
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) {
        notPlain = "è un collegamento";
        return false;
    }
    if (info.isDir()) {
        throw Fault(faultno::FileAccess);
    }
    QFile data(path);
    if (!data.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw Fault(info.absoluteDir().exists() ? faultno::FileAccess : faultno::PathNotFound);
    }
    data.close();
    return true;
#else
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            notPlain = "è un collegamento";
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            throw Fault(faultno::FileAccess);
        }
        if (!S_ISREG(st.st_mode)) {
            notPlain = "non è un file normale";
            return false;
        }
        if (st.st_nlink > 1) {
            notPlain = "ha più di un nome (collegamento fisso)";
            return false;
        }
    }
    // A link or a pipe put there since is neither followed nor waited for.
    const int fd = ::open(native.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENXIO) {
            notPlain = errno == ELOOP ? "è un collegamento" : "non è un file normale";
            return false;
        }
        if (errno == EISDIR) {
            throw Fault(faultno::FileAccess);
        }
        throw Fault(QFileInfo(path).absoluteDir().exists() ? faultno::FileAccess
                                                           : faultno::PathNotFound);
    }
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) {
        notPlain = "non è un file normale";
        return false;
    }
    return true;
#endif
}

// Velmar's own files, by the part of their name before the first dot, in
// upper case: the channel files and the job record (any suffix), XON.txt,
// the logs, the settings files, the table files (and their copies), the
// programs, the conversion library, the manual, the data directory's lock
// and the probe of whether Velmar may write there.
constexpr std::string_view kDriverFileStems[] = {
    "SR_START", "SR_DATI",   "SR_OUT",       "SR_ERR",     "SR_MATR",    "FINESCO",
    "VMJOB",    "XON",       "VELMARD",      "VELMAR",     "LOGFILE",    "VMCHKCOM",
    "VMTIMER1", "VMCHKBD",   "VMCHKSCO",     "TB-REPARTI", "TB-IVA",     "VELMAR-CONVERT",
    "ECRSIM",   "QARN_SLM1", "LIBQARN_SLM1", "MANVELMAR",  "QARNVELMAR", "VMLOCK",
    "VMPROBE",
};
// The trace folders TRACE_YYYYMM.
constexpr std::string_view kTraceFolderPrefix = "TRACE_";

} // namespace

bool SlConverter::isDriverFileName(const QString& fileName) {
    // A Windows-style share ignores case, and blanks and dots at the end.
    QString name = fileName.trimmed();
    while (name.endsWith(QLatin1Char('.'))) {
        name.chop(1);
    }
    name = name.trimmed().toUpper();
    if (name.startsWith(QLatin1String(kTraceFolderPrefix.data(), kTraceFolderPrefix.size()))) {
        return true;
    }
    const QString stem = name.section(QLatin1Char('.'), 0, 0);
    return std::any_of(std::begin(kDriverFileStems), std::end(kDriverFileStems),
                       [&stem](std::string_view s) {
                           return stem == QLatin1String(s.data(), static_cast<qsizetype>(s.size()));
                       });
}

void SlConverter::writeNow(std::string_view command) {
    if (written_ == kMaxCommands) {
        tooManyCommands_ = true;
        refusal_ = "lo scontrino supera i " + std::to_string(kMaxCommands) +
                   " comandi per il registratore";
        return;
    }
    writer_->writeLine(command);
    ++written_;
}

QString SlConverter::outputPath() const {
    return QDir(ctx_.dataDir).filePath(QString::fromLatin1(kOutputName));
}

bool SlConverter::field(std::string_view key, std::string& value) const {
    value.clear();
    return GetSlField(false, value, line_, key) == 1;
}

bool SlConverter::atStart(std::string_view keyword) const {
    std::string ignored;
    return GetSlField(true, ignored, line_, keyword) == 1;
}

SlConverter::Next SlConverter::refuse(std::string why) {
    refusal_ = std::move(why);
    return Next::Refuse;
}

void SlConverter::documentStartRule() {
    const QByteArray& start = ecrFamily(variant_).documentStart;
    if (!start.isEmpty() && !DocumentStartSent_ && FirstSalePending_) {
        writeNow(start.toStdString());
        DocumentStartSent_ = true;
    }
}

ConversionResult SlConverter::ConvertSlFile(const QString& InputFilePath,
                                             const ConverterSettings& settings) {
    settings_ = settings;
    descriptionLength_.reset();
    result_ = {};
    result_.code = convertFile(InputFilePath);
    return result_;
}

std::int16_t SlConverter::convertFile(const QString& InputFilePath) {
    FirstSalePending_ = true;
    DocumentStartSent_ = false;
    PendingComment_.clear();
    ReferenceDocumentSeen_ = false;
    barcodeType_.clear();
    reason_.clear();
    refusal_.clear();
    written_ = 0;
    tooManyCommands_ = false;

    inputPath_ = InputFilePath;
    std::size_t lineNo = 0;
    std::string raw;
    LineWriter out;
    // Every way out but the end of a good receipt: the output is closed and
    // left as written, and the link keeps no name for it.
    const auto refused = [&](ConversionOutcome outcome, QString reason) {
        writer_ = nullptr;
        try {
            out.close();
        } catch (const Fault&) {
            // The receipt is refused already; XON.txt is not sent.
        }
        outcome_ = outcome;
        reason_ = std::move(reason);
        return std::int16_t(1);
    };
    try {
        if (!QFileInfo::exists(InputFilePath)) {
            ctx_.ui.message(QStringLiteral("Il file ") + InputFilePath + QStringLiteral(" non esiste"));
            outcome_ = ConversionOutcome::MissingInput;
            reason_ = QStringLiteral("il file %1 non esiste").arg(InputFilePath);
            return 0;
        }
        LineReader in; // a regular file only: never a link, a pipe or a device
        if (!in.open(InputFilePath)) {
            throw Fault(faultno::FileAccess, in.why().toStdString());
        }
        const QString output = outputPath();
        if (QFileInfo::exists(output) && !QFile::remove(output)) {
            throw Fault(faultno::FileAccess);
        }
        const qint64 size = QFileInfo(InputFilePath).size();
        if (size == 0) {
            outcome_ = ConversionOutcome::Empty;
            reason_ = QStringLiteral("il file %1 è vuoto").arg(QFileInfo(InputFilePath).fileName());
            return 0;
        }

        out.create(output, safefile::kPrivateMode); // receipt contents: Velmar's user and group only
        writer_ = &out;
        const QString tooBig =
            QStringLiteral("lo scontrino supera i %1 byte").arg(kMaxReceiptBytes);
        if (size > kMaxReceiptBytes) {
            return refused(ConversionOutcome::Refused, tooBig);
        }
        qint64 read = 0; // at least this many bytes: each line and one byte of its end
        while (in.next(raw)) {
            ++lineNo;
            read += static_cast<qint64>(raw.size()) + 1;
            if (read > kMaxReceiptBytes + 1) { // a file that grows while it is read
                return refused(ConversionOutcome::Refused, tooBig);
            }
            if (!convertLine(raw) || tooManyCommands_) {
                return refused(ConversionOutcome::Refused,
                               QStringLiteral("riga %1 (%2): %3")
                                   .arg(QString::number(lineNo),
                                        forPeople(line_.empty() ? raw : line_),
                                        QString::fromUtf8(refusal_)));
            }
        }
        if (written_ == 0) {
            return refused(ConversionOutcome::Refused,
                           QStringLiteral("lo scontrino non dà alcun comando per il registratore"));
        }
        writer_ = nullptr;
        out.close();
        result_.outputPath = output;
        outcome_ = ConversionOutcome::Converted;
        return 0;
    } catch (const Fault& fault) {
        // One pass of arg(): the line itself may hold "%1".
        const QString what =
            QStringLiteral("Errore Conv = %1 (errore %2)")
                .arg(QString::fromUtf8(fault.description()), QString::number(fault.number()));
        return refused(ConversionOutcome::Failed,
                       lineNo > 0 ? QStringLiteral("riga %1 (%2): %3")
                                        .arg(QString::number(lineNo), forPeople(raw), what)
                                  : what);
    }
}

bool SlConverter::convertLine(const std::string& raw) {
    line_.clear();
    if (const std::optional<unsigned char> b = controlByte(raw)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", *b);
        refusal_ = std::string("la riga contiene il carattere di controllo ") + hex;
        return false;
    }
    if (text::startsWithNoCase(raw, "READ")) {
        return createReadFile(raw);
    }

    if (!descriptionLength_) {
        descriptionLength_ = settings_.descriptionLength();
    }
    line_ = NormalizeSlLine(raw, *descriptionLength_);
    out_.clear();
    SalePrefix_.clear();
    const std::size_t percentAt = text::findNoCase(line_, ",%");
    percentLine_ = percentAt != 0;
    nPayment_ = static_cast<int>(percentAt);
    variant_ = settings_.family;

    const bool deld = text::startsWithNoCase(line_, "DELD");
    Next next = dispatch();
    if (next == Next::Refuse) {
        return false;
    }
    if (next == Next::Drop) {
        return true;
    }

    if (next == Next::Library) {
        if (!deld && out_.empty()) {
            const ConversionLibrary::Output answer = ctx_.library.call(line_);
            if (ConversionLibrary::isRefusal(answer)) {
                refusal_ = "la libreria di conversione non sa tradurre la riga (" +
                           std::string(text::trimRightBlanks(ConversionLibrary::commandOf(answer))) +
                           ")";
                return false;
            }
            out_ = ConversionLibrary::commandOf(answer);
        }
        if (!deld) {
            applyBarFix(out_, percentLine_);
        }
    }
    if (next == Next::Library || next == Next::Deposit) {
        if (text::startsWithNoCase(line_, "DEPO") || text::startsWithNoCase(line_, "PREL")) {
            applyDepositFix(out_, variant_);
        }
    }
    if (!out_.empty()) {
        writeNow(out_);
        if (!tooManyCommands_ && isPaymentLine(out_)) {
            ++result_.paymentLines;
        }
    }
    return true;
}

bool SlConverter::createReadFile(const std::string& raw) {
    std::string why;
    const QString path = GetDataReceivedPath(raw, why);
    if (path.isEmpty()) {
        refusal_ = std::move(why);
        return false;
    }
    // The receipt and XON.txt are open while the conversion runs.
    const auto sameFile = [](const QFileInfo& a, const QString& b) {
        const QFileInfo other(b);
        if (a.exists() && other.exists()) {
            return a.canonicalFilePath() == other.canonicalFilePath();
        }
        return a.absoluteFilePath() == other.absoluteFilePath();
    };
    const QFileInfo target(path);
    if (sameFile(target, outputPath()) || sameFile(target, inputPath_)) {
        throw Fault(faultno::FileAlreadyOpen);
    }
    const QString name = target.fileName();
    if (isDriverFileName(name)) {
        refusal_ = "READ: " + name.toStdString() + " è un file di Velmar";
        return false;
    }
    std::string notPlain;
    if (!createEmptyDataFile(path, notPlain)) {
        refusal_ = "READ: " + name.toStdString() + " " + notPlain;
        return false;
    }
    return true;
}

SlConverter::Next SlConverter::dispatch() {
    // The keyword tests, in their fixed order; each needs its keyword at the
    // start of the line, so at most one applies. The switch on the first four
    // letters only picks the test to run; the test itself decides.
    const std::string keyword = text::toUpper(std::string_view(line_).substr(0, 4));
    const auto is = [&keyword](const char* k) { return keyword == k; };
    if (is("OPEN") && atStart("OPEN,")) return handleOpen();
    if (is("DISP") && atStart("DISP,")) return handleDisp();
    if (is("OPNF")) return handleOpnf();
    if (is("CLNF")) {
        DocumentStartSent_ = false;
        out_ = "J";
        return Next::Deposit;
    }
    if (is("SALE") && atStart("SALE,")) return handleSale();
    if (is("PLUD")) return handlePlud();
    if (is("PRNT")) return handlePrnt();
    if (is("ADDS") && atStart("ADDS,")) return handleAdds();
    if (is("CHEQ")) return handleChequeOrCard(true);
    if (is("CARD")) return handleChequeOrCard(false);
    if (is("CRED")) return handleCred();
    if (is("RECO") && atStart("RECO,")) return handleReco();
    if (is("QRCO")) return handleQrco();
    if (is("BARC")) return handleBarc();
    if (is("EXTL") && atStart("EXTL,")) return handleExtl();
    if (is("LOTT")) return handleLott();
    // CASH, CHEQ and CARD lines never reach the next three.
    if (is("TEND")) return handleTend();
    if (is("BANC")) return handleBanc();
    if (is("TICK")) return handleTick();
    if (is("FUNC")) return handleFunc();
    if (is("NDCR")) return handleReferenceDocument(false);
    if (is("DELD")) return handleReferenceDocument(true);
    return Next::Library;
}

SlConverter::Next SlConverter::handleOpen() {
    std::string n;
    if (!field(",N", n)) {
        return Next::Library;
    }
    out_ = "a"; // open the drawer
    return Next::Deposit;
}

SlConverter::Next SlConverter::handleDisp() {
    using Display = EcrFamily::Display;
    const Display display = ecrFamily(variant_).display;
    if (display == Display::None) {
        return Next::Drop;
    }
    std::string n;
    const bool hasN = field(",N", n);
    if (display == Display::NotSecondLine && hasN) {
        const std::string_view number = text::trimLeftBlanks(n);
        if (isNumeric(number) && leadingNumber(number) == 2) {
            return Next::Drop; // nothing is shown for the second display line
        }
    }
    std::string shown;
    if (!field(",:", shown) || shown.empty()) {
        shown = "  ";
    } else if (shown.size() > 20) {
        shown.resize(20);
    }
    out_ = inQuotes(shown) + "1%";
    return Next::Deposit;
}

SlConverter::Next SlConverter::handleOpnf() {
    const QByteArray& start = ecrFamily(variant_).documentStart;
    if (!start.isEmpty() && !DocumentStartSent_) {
        writeNow(start.toStdString());
        DocumentStartSent_ = true;
    }
    out_ = "j";
    result_.nonFiscalOpen = true;
    return Next::Deposit;
}

SlConverter::Next SlConverter::handleSale() {
    documentStartRule();
    FirstSalePending_ = false;
    return Next::Library; // the library translates the sale itself
}

SlConverter::Next SlConverter::handlePlud() {
    PendingComment_.clear();
    std::string value;

    // Sale type; a document that refers to an earlier one sells plainly.
    if (!ReferenceDocumentSeen_) {
        if (field(",S1", value)) {
            SalePrefix_ = "9M";
        } else if (field(",S3", value)) {
            SalePrefix_ = "13M";
        } else if (field(",S2", value)) {
            SalePrefix_ = "16M";
        } else if (field(",S", value)) {
            out_ = "0M";
        }
    }

    std::string description;
    if (field(",:", description)) {
        out_ += inQuotes(description);
    }

    std::string price;
    if (field(",P", price)) {
        std::string quantity;
        const bool hasQuantity = field(",Q", quantity);
        if (price.find('.') != std::string::npos) {
            // A unit price in currency units: sell 1 x the line's total and
            // print the quantity and unit price as a comment.
            const double unit = leadingNumber(price);
            const double count = hasQuantity ? leadingNumber(quantity) : 1;
            std::string quantityText = hasQuantity ? quantity : "1";
            std::replace(quantityText.begin(), quantityText.end(), '.', ',');
            std::string priceText = numberText(unit);
            if (priceText.starts_with('.')) {
                priceText.insert(0, 1, '0');
            }
            const std::string comment = "\"" + std::string(FirstSalePending_ ? " ^---**  " : "  ") +
                                        quantityText + " X " + priceText + "\"@";
            if (FirstSalePending_) {
                PendingComment_ = comment;
            } else {
                writeNow(comment);
            }
            out_ += "1*" + std::to_string(text::toInt32(unit * count * 100)) + "H";
        } else {
            if (hasQuantity) {
                out_ += quantity + "*";
            }
            out_ += price + "H";
        }
    }

    std::string department;
    if (!field(",N", department)) {
        out_ += "1R";
    } else if (SalePrefix_.empty()) {
        out_ += department + "R";
    } else if (SalePrefix_ == "13M" || SalePrefix_ == "16M") {
        const std::int16_t named = toInt16(leadingNumber(department));
        const std::int16_t kind = SalePrefix_ == "13M" ? 0 : 1;
        const std::optional<std::int16_t> found =
            ctx_.tables.SearchDepartmentOmaggioBuono(named, kind);
        const std::int16_t booked = found.value_or(0);
        if (booked < 1) {
            return refuse("nessun reparto " + std::string(kind == 0 ? "omaggio" : "buono") +
                          " con la stessa aliquota IVA del reparto " + std::to_string(named) +
                          (booked < 0 ? " (tabelle reparti/IVA mancanti o incomplete)"
                                      : " in Tb-Reparti.xml"));
        }
        out_ += std::to_string(booked) + "R";
    } else { // "9M": a return of goods
        out_ = "9M" + out_ + department + "R";
    }

    // The first item's comment follows its item, pointing up with its marker.
    if (!PendingComment_.empty() && FirstSalePending_) {
        writeNow(out_);
        out_ = PendingComment_;
        PendingComment_.clear();
    }
    documentStartRule();
    FirstSalePending_ = false;
    return Next::Library;
}

SlConverter::Next SlConverter::handlePrnt() {
    documentStartRule();
    std::string printed;
    if (!field(",:", printed)) {
        return Next::Library;
    }
    if ((printed.size() == 16 || printed.size() == 11) && !CheckCodiceFiscale(printed) &&
        !CheckPartitaIva(printed)) {
        return Next::Drop; // a customer's tax code or VAT number that is not valid
    }
    out_ = inQuotes(printed) + "@";
    return Next::Library;
}

SlConverter::Next SlConverter::handleAdds() {
    std::string amount;
    if (field(",V", amount)) {
        out_ = "=" + amount + "H8M"; // surcharge on the subtotal
    }
    return Next::Library;
}

int SlConverter::paymentNumber(std::string_view keyword) const {
    // The family's payment number for CHEQ, CARD, BANC or TICK.
    const EcrFamily::PaymentNumbers& forms = ecrFamily(variant_).payments;
    const int number = keyword == "CHEQ"   ? forms.cheque
                       : keyword == "CARD" ? forms.card
                       : keyword == "BANC" ? forms.bankTransfer
                                           : forms.mealTicket;
    return number == EcrFamily::kChosenByLine ? nPayment_ : number;
}

SlConverter::Next SlConverter::handleChequeOrCard(bool cheque) {
    const int number = paymentNumber(cheque ? "CHEQ" : "CARD");
    std::string amount;
    if (field(",V", amount) && isNumeric(amount)) {
        out_ = amount + "H" + std::to_string(number) + "T";
    } else {
        out_ = std::to_string(number) + "T";
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleCred() {
    int number = ecrFamily(variant_).payments.credit;
    if (number == EcrFamily::kChosenByLine) {
        std::string type;
        const int t = field(",T", type) ? toInt16(leadingNumber(type)) : 0;
        switch (t) {
        case 2: number = 9; break;
        case 3: number = 10; break;
        case 4: number = 11; break;
        case 5: number = 4; break;
        case 6: number = 8; break;
        default: number = 2; break;
        }
    }
    std::string amount;
    if (field(",V", amount) && isNumeric(amount)) {
        out_ = amount + "H" + std::to_string(number) + "T";
    } else {
        out_ = std::to_string(number) + "T";
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleReco() {
    if (!ecrFamily(variant_).creditRecoveryByDriver) {
        return Next::Library;
    }
    std::string amount;
    if (field(",V", amount) && isNumeric(amount)) {
        out_ = "j\"RECUPERO CREDITO: " + amount + "\"@J";
    } else {
        out_ = "j\"RECUPERO CREDITO\"@J";
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleQrco() {
    std::string content;
    if (ecrFamily(variant_).qrCodes && field(",:", content) && !text::trimBlanks(content).empty()) {
        out_ = inQuotes(content) + "6Z";
        return Next::Count;
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleBarc() {
    if (!ecrFamily(variant_).barCodes) {
        return Next::Drop;
    }
    std::string type;
    if (field(",T", type)) {
        // Types 1 to 3 (EAN-13, EAN-8, CODE39); anything else is EAN-13.
        barcodeType_ = type.empty() ? "1" : type.substr(0, 1);
        const char c = barcodeType_[0];
        if (c == '0' || static_cast<unsigned char>(c) > '3') {
            barcodeType_ = "1";
        }
    }
    std::string code;
    if (!field(",:", code)) {
        return Next::Drop;
    }
    out_ = inQuotes(code) + barcodeType_ + "Z";
    return Next::Deposit;
}

SlConverter::Next SlConverter::handleExtl() {
    if (!ecrFamily(variant_).extraLines) {
        return Next::Drop;
    }
    std::string extra;
    if (field(",:", extra)) {
        if (extra.size() > 40) {
            extra.resize(40);
        }
        if (extra.empty()) {
            extra = " ";
        }
        out_ = inQuotes(extra) + "@40F";
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleLott() {
    std::string code;
    field(",C", code);
    const std::size_t open = code.find('[');
    if (open != std::string::npos) {
        code.erase(0, open + 1);
        if (code.find(']') != std::string::npos) {
            code.pop_back();
        }
    }
    if (code.size() == 8) {
        out_ = inQuotes(code) + "@39F"; // the customer's lottery code
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleTend() {
    std::string number;
    const bool hasNumber = field(",N", number);
    const int n = toInt16(leadingNumber(number));
    if (!hasNumber || n < 1 || n > 19) {
        return Next::Library;
    }
    std::string amount;
    if (field(",V", amount)) {
        out_ = numberText(leadingNumber(amount)) + "H" + std::to_string(n) + "T";
    } else {
        out_ = std::to_string(n) + "T";
    }
    return Next::Count;
}

SlConverter::Next SlConverter::handleBanc() {
    const int number = paymentNumber("BANC");
    std::string text;
    if (field(",:", text)) {
        out_ = inQuotes(text);
    }
    std::string amount;
    if (field(",V", amount)) {
        out_ += amount + "H";
    }
    out_ += std::to_string(number) + "T";
    return Next::Library;
}

SlConverter::Next SlConverter::handleTick() {
    const int number = paymentNumber("TICK");
    std::string text;
    if (field(",:", text)) {
        out_ = inQuotes(text);
    }
    std::string quantity;
    const double count =
        field(",Q", quantity) && isNumeric(quantity) ? leadingNumber(quantity) : 1.0;
    out_ += numberText(count) + "*";
    std::string amount;
    if (field(",V", amount)) {
        out_ += amount + "H";
    }
    out_ += std::to_string(number) + "T";
    return Next::Library;
}

SlConverter::Next SlConverter::handleFunc() {
    if (!ecrFamily(variant_).swapsKeys3And8) {
        return Next::Library;
    }
    std::string number;
    if (!field(",N", number) || !isNumeric(number)) {
        return Next::Drop;
    }
    const int n = toInt16(leadingNumber(number));
    if (n == 3) {
        out_ = "8F";
    } else if (n == 8) {
        out_ = "3F";
    }
    return Next::Library;
}

SlConverter::Next SlConverter::handleReferenceDocument(bool cancelling) {
    const char* keyword = cancelling ? "DELD" : "NDCR";
    std::string date;
    if (!field(",D", date)) {
        if (cancelling) {
            return refuse("DELD senza la data (D) del documento da annullare");
        }
        return Next::Library;
    }
    if (date.size() != 6) {
        return refuse(std::string(keyword) + ": la data (D) del documento di riferimento deve avere 6 caratteri, non " +
                      std::to_string(date.size()));
    }
    out_ = "\"" + hostText(date);

    std::string number;
    if (!field(",N", number)) {
        out_ += "00000000";
    } else if (number.size() == 8) {
        out_ += fourDigits(leadingNumber(std::string_view(number).substr(0, 4))) +
                fourDigits(leadingNumber(std::string_view(number).substr(4, 4)));
    }

    std::string issuer;
    if (!field(",>", issuer)) {
        if (!cancelling) {
            return refuse("NDCR senza il registratore (>) che ha emesso il documento di riferimento");
        }
    } else {
        const std::string code = cancelling ? "103M" : "102M";
        if (issuer.size() == 11) {
            // A document of this very register leaves the serial number out.
            if (issuer != settings_.registrationNumber) {
                out_ += hostText(issuer);
            }
            out_ += "\"" + code;
        } else if (issuer == "POS" || issuer == "ND" || issuer == "VR") {
            out_ += issuer + "\"" + code;
        }
    }
    ReferenceDocumentSeen_ = true;
    return Next::Count;
}

QString SlConverter::GetDataReceivedPath(std::string_view sLine, std::string& why) const {
    std::string name;
    const bool named = GetSlField(false, name, sLine, ",:") == 1;
    // A name may stand in double quotes.
    if (name.starts_with('"')) {
        name.erase(0, 1);
    }
    if (name.ends_with('"')) {
        name.pop_back();
    }
    if (!named || text::trimBlanks(name).empty()) {
        name = kDefaultReadName;
    }
    // Only a plain file name of the data directory: no folder, no drive.
    if (name.find_first_of("/\\:") != std::string::npos) {
        why = "READ: il nome " + cp1252::decode(name).toStdString() +
              " non è un semplice nome di file della cartella dati";
        return {};
    }
    // A name without an extension takes the channel's.
    QString fileName = cp1252::decode(name);
    if (!fileName.contains(QLatin1Char('.'))) {
        fileName += QStringLiteral(".00") + QString::number(ctx_.iCurrentCom);
    }
    if (fileName == QLatin1String(".") || fileName == QLatin1String("..")) {
        why = "READ: il nome " + fileName.toStdString() + " non è un nome di file";
        return {};
    }
    return QDir::cleanPath(ctx_.dataDir) + QLatin1Char('/') + fileName;
}

} // namespace velmar
