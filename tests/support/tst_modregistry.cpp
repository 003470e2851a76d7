// The setting store read as a registry: key names, one value, and the custom
// data directory an installation may set.

#include "common/CaseTable.h"
#include "common/Fault.h"
#include "support/modRegistry.h"
#include "support/SettingStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;
using velmar::test::addCaseRows;
using velmar::test::caseFields;
using namespace Qt::StringLiterals;

namespace {

const QString kKey = u"SOFTWARE\\Qarnwerk\\QARNVELMAR"_s;
const QString kValue = u"CustomPathDataDir"_s;

QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, u"Qarnwerk"_s, u"QARNVELMAR"_s);
}

// Sets CustomPathDataDir; an invalid value removes it.
void setStored(const QVariant& value) {
    QSettings s = store();
    value.isValid() ? s.setValue(kValue, value) : s.remove(kValue);
    s.sync();
}

} // namespace

class TestModRegistry : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    QString configHome_;

private slots:
    void initTestCase() {
        configHome_ = home_.filePath(u"config"_s);
        qputenv("XDG_CONFIG_HOME", configHome_.toLocal8Bit());
    }
    void cleanup() { setStored(QVariant()); }

    // Runs first, before anything wrote the store: an installer's hand-written
    // file at the documented place is what the lookup reads.
    void storeFileWrittenByHand() {
        QTemporaryDir dataDir;
        const QString file = configHome_ + u"/Qarnwerk/QARNVELMAR.conf"_s;
        QVERIFY(QDir().mkpath(configHome_ + u"/Qarnwerk"_s));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nCustomPathDataDir=" + dataDir.path().toLocal8Bit() + "/\n");
        f.close();
        QCOMPARE(QDir::cleanPath(SettingStore::location()), QDir::cleanPath(file));
        QCOMPARE(GetCustomDataDir(), dataDir.path());
    }

    void isValidKeyName_data() { addCaseRows(u"support/keynames.txt"_s, {"path", "valid"}); }
    void isValidKeyName() {
        const auto [path, valid] = caseFields("path", "valid");
        QCOMPARE(IsValidKeyName(QString::fromLatin1(path)), valid == "1");
    }


    // A failed read leaves the out value untouched; only the current user's
    // hive holds the value.
    void queryRegValue_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored"); // invalid: the value is absent
        QTest::addColumn<bool>("ok");
        const QString longText(1023, QLatin1Char('d'));
        QTest::newRow("key in another case")
            << "software\\qarnwerk\\qarnvelmar" << QVariant("/srv") << true;
        QTest::newRow("number as decimal text") << kKey << QVariant(4096) << true;
        QTest::newRow("1023 characters fit") << kKey << QVariant(longText) << true;
        QTest::newRow("1024 characters do not")
            << kKey << QVariant(longText + QLatin1Char('d')) << false;
        QTest::newRow("missing value") << kKey << QVariant() << false;
        QTest::newRow("wrong key") << "SOFTWARE\\Qarnwerk\\ALTRO" << QVariant("/srv") << false;
        QTest::newRow("leading backslash") << "\\" + kKey << QVariant("/srv") << false;
    }
    void queryRegValue() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(bool, ok);
        setStored(stored);
        QString out = u"untouched"_s;
        QVERIFY(!QueryRegValue(0x80000002u, key, kValue, out)); // the local machine's hive
        QCOMPARE(QueryRegValue(HKEY_CURRENT_USER_ROOT, key, kValue, out), ok);
        QCOMPARE(out, ok ? stored.toString() : u"untouched"_s);
    }

    void customDataDir_data() { addCaseRows(u"support/customdatadir.txt"_s, {"value", "found"}); }
    void customDataDir() {
        const auto [value, found] = caseFields("value", "found");
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(u"file.txt"_s)).open(QIODevice::WriteOnly));
        const QVariant stored =
            value == "(absent)" ? QVariant() : QVariant(QString::fromLatin1(value).replace(u'@', dir.path()));
        setStored(stored);
        QCOMPARE(GetCustomDataDir(), found == "1" ? dir.path() : QString());
        QCOMPARE(store().contains(kValue), stored.isValid()); // the lookup only reads
    }
};

QTEST_GUILESS_MAIN(TestModRegistry)
#include "tst_modregistry.moc"
