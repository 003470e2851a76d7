#pragma once
// The department and VAT tables: Tb-Reparti.xml and Tb-Iva.xml in the data
// directory, their default contents, loading and saving, and the gift /
// voucher department lookup the converter uses.
//
// This object is the state behind the table editor window; it lives for the
// whole run, so the converter can use it while no window exists.

#include "common/OperatorUi.h"

#include <QDomDocument>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace velmar {

class DepartmentTables : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kDepartmentFile = "Tb-Reparti.xml";
    static constexpr const char* kVatFile = "Tb-Iva.xml";
    static constexpr int kDefaultDepartments = 50;
    static constexpr int kDefaultVatRates = 12;

    explicit DepartmentTables(OperatorUi& ui, QObject* parent = nullptr);
    ~DepartmentTables() override;

    void setDataDirectory(const QString& dir) { dataDir_ = dir; }
    const QString& dataDirectory() const { return dataDir_; }

    // Build the default table, write its file and list each description
    // (departmentListed / vatListed) for the editor.
    void CreateDefaultReparti();
    void CreateDefaultIva();

    // Load the file into the table's document: 0, or -1 when the file is
    // missing or not well-formed XML.
    std::int16_t LoadReparti();
    std::int16_t LoadIva();

    // Write the table's document to its file, the previous file kept beside
    // it as NAME.bak. A document whose last load failed is not written: a
    // critical box says the table could not be saved. A refused write shows
    // the fault in a box.
    void StoreDataReparti();
    void StoreDataIva();

    // The gift (nKind 0) or single-use voucher (any other nKind) department
    // with the same VAT code as department nDept: its position, -1 when a
    // table is missing or an element is empty, or nothing. Throws Fault 91
    // when nDept or its VAT position lies beyond its table.
    std::optional<std::int16_t> SearchDepartmentOmaggioBuono(std::int16_t nDept, std::int16_t nKind);

    // Drops both loaded documents (the editor does this when it closes); the
    // next lookup reads both files again.
    void discardDocuments();

    // The loaded documents, for the editor to read and change. Taking one
    // counts as a change: the lookup reads the documents afresh afterwards.
    QDomDocument& departmentDocument() {
        ++generation_;
        return departments_;
    }
    QDomDocument& vatDocument() {
        ++generation_;
        return vat_;
    }

    const QString& currentFilePath() const { return currentFilePath_; }
    std::int16_t currentDepartment() const { return currentDepartment_; }
    std::int16_t currentVatCode() const { return currentVatCode_; }
    void setCurrentDepartment(std::int16_t d) { currentDepartment_ = d; }
    void setCurrentVatCode(std::int16_t code) { currentVatCode_ = code; }
    bool currentGiftFlag = false;
    bool currentVoucherFlag = false;

signals:
    void departmentListed(const QString& description);
    void vatListed(const QString& description);

private:
    struct LookupCache;
    const LookupCache& lookupCache();
    QString filePath(const char* name) const;
    std::int16_t load(QDomDocument& doc, bool& parseFailed, const char* name);
    void store(QDomDocument& doc, bool parseFailed, const char* name, const char* procedure,
               const QString& failText, const QString& failTitle);

    OperatorUi& ui_;
    QString dataDir_;
    QDomDocument departments_;
    QDomDocument vat_;
    QDomDocument work_;
    bool departmentsParseFailed_ = false;
    bool vatParseFailed_ = false;
    QString currentFilePath_;
    std::int16_t currentDepartment_ = 0;
    std::int16_t currentVatCode_ = 0;
    std::unique_ptr<LookupCache> cache_;
    quint64 generation_ = 0;
    quint64 cacheGeneration_ = 0;
};

} // namespace velmar
