#include "tables/DepartmentTables.h"

#include "common/Fault.h"
#include "common/SafeFile.h"
#include "common/TextRules.h"

#include <QDomElement>
#include <QDomNodeList>
#include <QDomProcessingInstruction>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

namespace {

const QString kDeclarationTarget = QStringLiteral("xml");
const QString kDeclarationData = QStringLiteral("version='1.0' encoding='UTF-8'");
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");
constexpr int kIndent = 2;

const char* const kFormName = "FrmConfigurazioneReparti";

// Every element named `name`, in document order.
QList<QDomElement> elements(const QDomDocument& doc, const QString& name) {
    QList<QDomElement> out;
    const QDomNodeList nodes = doc.elementsByTagName(name);
    out.reserve(nodes.size());
    for (int i = 0; i < nodes.size(); ++i) {
        out.append(nodes.item(i).toElement());
    }
    return out;
}

// Every element named `name` whose parent is an element named `parent`, in
// document order: the n-th of them belongs to the n-th parent.
QList<QDomElement> childElements(const QDomDocument& doc, const QString& name,
                                 const QString& parent) {
    QList<QDomElement> out;
    const QDomNodeList nodes = doc.elementsByTagName(name);
    for (int i = 0; i < nodes.size(); ++i) {
        const QDomNode up = nodes.item(i).parentNode();
        if (up.isElement() && up.toElement().tagName() == parent) {
            out.append(nodes.item(i).toElement());
        }
    }
    return out;
}

double numberOf(const QString& text) {
    return text::leadingNumber(text.toStdString());
}

std::int16_t int16Of(const QString& text) {
    return text::toInt16(numberOf(text));
}

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

void appendTextChild(QDomDocument& doc, QDomElement& parent, const QString& name,
                     const QString& text) {
    QDomElement child = doc.createElement(name);
    if (!text.isEmpty()) {
        child.appendChild(doc.createTextNode(text));
    }
    parent.appendChild(child);
}

// A new document holding only the declaration and the root element.
QDomElement startDocument(QDomDocument& doc, const QString& rootName) {
    doc = QDomDocument();
    doc.appendChild(doc.createProcessingInstruction(kDeclarationTarget, kDeclarationData));
    QDomElement root;
    if (doc.childNodes().size() == 2 && doc.childNodes().item(1).isElement()) {
        root = doc.childNodes().item(1).toElement();
    } else {
        root = doc.createElement(rootName);
        doc.appendChild(root);
    }
    return root;
}

// The document as UTF-8 bytes, declaration first.
QByteArray serialize(const QDomDocument& doc) {
    QByteArray bytes = doc.toByteArray(kIndent);
    const QDomNode first = doc.firstChild();
    const bool hasDeclaration = first.isProcessingInstruction() &&
                                first.toProcessingInstruction().target() == kDeclarationTarget;
    if (!hasDeclaration && !doc.documentElement().isNull()) {
        bytes.prepend(QByteArray("<?xml ") + kDeclarationData.toUtf8() + "?>\n");
    }
    return bytes;
}

// Replaces `path` with `bytes`; a Fault (70 or 75) when the write is refused.
// A link in the table's place is replaced, never written through.
void writeFile(const QString& path, const QByteArray& bytes) {
    if (!safefile::replaceFile(path, bytes)) {
        throw Fault(errno == EACCES || errno == EPERM ? faultno::PermissionDenied : faultno::FileAccess);
    }
}

QString errorBoxText(const Fault& fault, const char* procedure) {
    return QStringLiteral("Error %1 (%2) in procedure %3 of Form %4")
        .arg(fault.number())
        .arg(QString::fromStdString(fault.description()), QLatin1String(procedure),
             QLatin1String(kFormName));
}

[[noreturn]] void missing(const QString& what, const char* file) {
    throw Fault(
        faultno::MissingElement,
        QStringLiteral("%1 non presente in %2").arg(what, QLatin1String(file)).toStdString());
}

// One kind of child element over the whole document ("IdIva" under "Reparto"): the
// n-th of them belongs to the n-th parent. Reading an entry that does not exist is
// Fault 91, naming the missing parent or element.
struct Column {
    Column(const QDomDocument& doc, const QString& name, const QString& parent, const char* file)
        : name(name), parent(parent), file(file), parents(elements(doc, parent).size()) {
        for (const QDomElement& e : childElements(doc, name, parent)) {
            texts.append(e.text());
        }
    }

    const QString& text(int n) const {
        if (n < 1 || n > parents) {
            missing(QStringLiteral("%1 %2").arg(parent).arg(n), file);
        }
        if (n > texts.size()) {
            missing(QStringLiteral("Elemento %1 di %2 %3").arg(name, parent).arg(n), file);
        }
        return texts.at(n - 1);
    }

    QString name;
    QString parent;
    const char* file;
    qsizetype parents;
    QStringList texts;
};

} // namespace

// What the lookup reads, taken from the documents once and kept until a
// document may have changed (a load, a discard, or a caller that took a
// document to edit), so a receipt full of gifts does not walk the XML for
// every line.
struct DepartmentTables::LookupCache {
    LookupCache(const QDomDocument& departments, const QDomDocument& vat)
        : vatOfDept(departments, QStringLiteral("IdIva"), QStringLiteral("Reparto"), kDepartmentFile),
          giftFlags(departments, QStringLiteral("FlagOmaggio"), QStringLiteral("Reparto"),
                    kDepartmentFile),
          voucherFlags(departments, QStringLiteral("FlagBuono"), QStringLiteral("Reparto"),
                       kDepartmentFile),
          vatIds(vat, QStringLiteral("Id"), QStringLiteral("Aliquota"), kVatFile) {
        for (const QString& t : vatOfDept.texts) {
            try {
                vatNumbers.push_back(numberOf(t));
            } catch (const Fault&) {
                vatNumbers.push_back(std::nullopt); // overflow: a fault when it is read
            }
        }
    }

    // The number read from department p's IdIva (Fault 6 when beyond a double).
    double vatNumber(int p) const {
        vatOfDept.text(p); // Fault 91 for a missing element, as when reading the text
        if (!vatNumbers[static_cast<std::size_t>(p - 1)]) {
            throw Fault(faultno::Overflow);
        }
        return *vatNumbers[static_cast<std::size_t>(p - 1)];
    }

    Column vatOfDept;
    Column giftFlags;
    Column voucherFlags;
    Column vatIds;
    std::vector<std::optional<double>> vatNumbers;
};

DepartmentTables::~DepartmentTables() = default;

const DepartmentTables::LookupCache& DepartmentTables::lookupCache() {
    if (!cache_ || cacheGeneration_ != generation_) {
        cache_ = std::make_unique<LookupCache>(departments_, vat_);
        cacheGeneration_ = generation_;
    }
    return *cache_;
}

DepartmentTables::DepartmentTables(OperatorUi& ui, QObject* parent) : QObject(parent), ui_(ui) {}

QString DepartmentTables::filePath(const char* name) const {
    return dataDir_ + QLatin1Char('/') + QLatin1String(name);
}

void DepartmentTables::CreateDefaultReparti() {
    currentFilePath_ = filePath(kDepartmentFile);
    QDomElement root = startDocument(work_, QStringLiteral("TabReparti"));
    if (work_.elementsByTagName(QStringLiteral("Reparto")).isEmpty()) {
        for (int k = 1; k <= kDefaultDepartments; ++k) {
            const QString id = twoDigits(k);
            const QString description = QStringLiteral("Reparto n. ") + id;
            QDomElement dept = work_.createElement(QStringLiteral("Reparto"));
            appendTextChild(work_, dept, QStringLiteral("Id"), id);
            appendTextChild(work_, dept, QStringLiteral("Descrizione"), description);
            appendTextChild(work_, dept, QStringLiteral("FlagOmaggio"), kFalse);
            appendTextChild(work_, dept, QStringLiteral("FlagBuono"), kFalse);
            appendTextChild(work_, dept, QStringLiteral("IdIva"), QStringLiteral("0"));
            appendTextChild(work_, dept, QStringLiteral("Scelto"), kFalse);
            root.appendChild(dept);
            emit departmentListed(description);
        }
    }
    try {
        writeFile(currentFilePath_, serialize(work_));
    } catch (const Fault& fault) {
        ui_.message(errorBoxText(fault, "CreateDefaultReparti"));
    }
}

void DepartmentTables::CreateDefaultIva() {
    struct Rate {
        const char* description;
        const char* percent;
    };
    static const Rate rates[kDefaultVatRates] = {
        {"Aliquota 4% ", "4.00"},   {"Aliquota 10% ", "10.00"}, {"Aliquota 22% ", "22.00"},
        {"Aliquota 36% ", "36.00"}, {"Aliquota 5% ", "5.00"},   {"Natura N 1", "0"},
        {"Natura N 2", "0"},        {"Natura N 3", "0"},        {"Natura N 4", "0"},
        {"Natura N 5", "0"},        {"Natura N 6", "0"},        {"Ventilazione Iva ", "0.00"},
    };

    currentFilePath_ = filePath(kVatFile);
    QDomElement root = startDocument(work_, QStringLiteral("TbIva"));
    if (work_.elementsByTagName(QStringLiteral("Aliquota")).isEmpty()) {
        for (int k = 1; k <= kDefaultVatRates; ++k) {
            const Rate& rate = rates[k - 1];
            const QString description = QString::fromUtf8(rate.description);
            QDomElement entry = work_.createElement(QStringLiteral("Aliquota"));
            appendTextChild(work_, entry, QStringLiteral("Id"), twoDigits(k));
            appendTextChild(work_, entry, QStringLiteral("Descrizione"), description);
            appendTextChild(work_, entry, QStringLiteral("Percentuale"),
                            QString::fromUtf8(rate.percent));
            appendTextChild(work_, entry, QStringLiteral("Tipo"), QStringLiteral("1"));
            root.appendChild(entry);
            emit vatListed(description);
        }
    }
    try {
        writeFile(currentFilePath_, serialize(work_));
    } catch (const Fault& fault) {
        ui_.message(errorBoxText(fault, "CreateDefaultIva"));
    }
}

std::int16_t DepartmentTables::load(QDomDocument& doc, bool& parseFailed, const char* name) {
    ++generation_;
    currentFilePath_ = filePath(name);
    doc = QDomDocument();
    parseFailed = true;
    QFile file; // a regular file only: never a link, a pipe or a device
    if (!safefile::openForReading(file, currentFilePath_)) {
        return -1;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || !doc.setContent(bytes)) {
        // A failed parse leaves an empty document, not a partial one.
        doc = QDomDocument();
        return -1;
    }
    parseFailed = false;
    return 0;
}

std::int16_t DepartmentTables::LoadReparti() {
    return load(departments_, departmentsParseFailed_, kDepartmentFile);
}

std::int16_t DepartmentTables::LoadIva() {
    return load(vat_, vatParseFailed_, kVatFile);
}

void DepartmentTables::store(QDomDocument& doc, bool parseFailed, const char* name,
                             const char* procedure, const QString& failText,
                             const QString& failTitle) {
    try {
        currentFilePath_ = filePath(name);
        if (parseFailed) {
            // A table that could not be read is never written over its file:
            // what is in memory is nothing, the file may still be mended.
            ui_.message(failText, MsgIcon::Critical, failTitle);
            return;
        }
        // The file as it was stays beside the new one, as NAME.bak.
        const QString backup = currentFilePath_ + QStringLiteral(".bak");
        if (safefile::exists(currentFilePath_)) {
            if (!safefile::copyFile(currentFilePath_, backup)) {
                throw Fault(faultno::FileAccess);
            }
        }
        writeFile(currentFilePath_, serialize(doc));
    } catch (const Fault& fault) {
        ui_.message(errorBoxText(fault, procedure));
    }
}

void DepartmentTables::StoreDataReparti() {
    store(departments_, departmentsParseFailed_, kDepartmentFile, "StoreDataReparti",
          QStringLiteral("Impossibile salvare la tabella dei reparti"),
          QStringLiteral("Tabella Reparti"));
}

void DepartmentTables::StoreDataIva() {
    store(vat_, vatParseFailed_, kVatFile, "StoreDataIva",
          QStringLiteral("Impossibile salvare la tabella IVA"), QStringLiteral("Tabella IVA"));
}

std::optional<std::int16_t> DepartmentTables::SearchDepartmentOmaggioBuono(std::int16_t nDept,
                                                                           std::int16_t nKind) {
    if (lookupCache().vatOfDept.parents == 0) { // no "Reparto" element
        if (LoadReparti() < 0) {
            return std::int16_t(-1);
        }
        if (LoadIva() < 0) {
            // Both tables load together: without this, the loaded department
            // table would keep the next lookups from reading Tb-Iva.xml again
            // and every gift or voucher would fail until the editor closed.
            departments_ = QDomDocument();
            ++generation_;
            return std::int16_t(-1);
        }
    }
    const LookupCache& cache = lookupCache();
    const int d = nDept;
    if (d <= 0) {
        return std::nullopt;
    }

    currentDepartment_ = nDept;
    const QString& vatText = cache.vatOfDept.text(d);
    if (vatText.isEmpty()) {
        return std::int16_t(-1);
    }
    const int v = int16Of(vatText);
    if (v <= 0) {
        return std::nullopt;
    }

    const QString& codeText = cache.vatIds.text(v);
    if (codeText.isEmpty()) {
        return std::int16_t(-1);
    }
    currentVatCode_ = int16Of(codeText);

    const int count = static_cast<int>(cache.vatOfDept.parents);
    if (count == 0) {
        return std::int16_t(-1);
    }
    const Column& flags = nKind == 0 ? cache.giftFlags : cache.voucherFlags;
    for (int p = 1; p <= count; ++p) {
        if (p == d) {
            continue;
        }
        if (cache.vatNumber(p) == currentVatCode_ && flags.text(p) == kTrue) {
            return text::toInt16(p);
        }
    }
    return std::nullopt;
}

void DepartmentTables::discardDocuments() {
    ++generation_;
    work_ = QDomDocument();
    departments_ = QDomDocument();
    vat_ = QDomDocument();
    departmentsParseFailed_ = false;
    vatParseFailed_ = false;
}

} // namespace velmar
