// The setting store read as a registry: key names, one value, and the custom
// data directory an installation may set.

#include "common/Fault.h"
#include "support/modRegistry.h"
#include "support/SettingStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace velmar;

namespace {

const QString kKey = QStringLiteral("SOFTWARE\\Qarnwerk\\QARNVELMAR");
const QString kValue = QStringLiteral("CustomPathDataDir");

QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                     QStringLiteral("QARNVELMAR"));
}

void setValue(const QString& name, const QVariant& value) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Qarnwerk"),
                QStringLiteral("QARNVELMAR"));
    if (value.isValid()) {
        s.setValue(name, value);
    } else {
        s.remove(name);
    }
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
        configHome_ = QDir(home_.path()).filePath(QStringLiteral("config"));
        qputenv("XDG_CONFIG_HOME", configHome_.toLocal8Bit());
    }

    // Runs first, before anything wrote the store: an installer's hand-written
    // file at the documented place is what the lookup reads.
    void storeFileWrittenByHand() {
        QTemporaryDir dataDir;
        QVERIFY(QDir().mkpath(configHome_ + QStringLiteral("/Qarnwerk")));
        const QString file = configHome_ + QStringLiteral("/Qarnwerk/QARNVELMAR.conf");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nCustomPathDataDir=" + dataDir.path().toLocal8Bit() + "/\n");
        f.close();
        QCOMPARE(QDir::cleanPath(SettingStore::location()), QDir::cleanPath(file));
        QCOMPARE(GetCustomDataDir(), dataDir.path());
        setValue(kValue, QVariant());
    }

    void cleanup() { setValue(kValue, QVariant()); }

    void isValidKeyName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("valid");
        QTest::newRow("the key") << "SOFTWARE\\Qarnwerk\\QARNVELMAR" << true;
        QTest::newRow("one level") << "SOFTWARE" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("forward slashes are plain characters") << "SOFTWARE/Qarnwerk" << true;
        QTest::newRow("leading backslash") << "\\SOFTWARE\\Qarnwerk" << false;
        QTest::newRow("trailing backslash") << "SOFTWARE\\Qarnwerk\\" << false;
        QTest::newRow("two in a row") << "SOFTWARE\\\\Qarnwerk" << false;
        QTest::newRow("three in a row") << "SOFTWARE\\\\\\Qarnwerk" << false;
        QTest::newRow("only a backslash") << "\\" << false;
        QTest::newRow("two in a row at the end of a middle part") << "A\\B\\\\C\\D" << false;
    }
    void isValidKeyName() {
        QFETCH(QString, path);
        QFETCH(bool, valid);
        QCOMPARE(IsValidKeyName(path), valid);
    }

    void raiseOnRegError_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("raises");
        QTest::newRow("success") << 0 << false;
        QTest::newRow("file not found") << 2 << true;
        QTest::newRow("access denied") << 5 << true;
        QTest::newRow("more data") << 234 << true;
        QTest::newRow("negative") << -1 << true;
    }
    void raiseOnRegError() {
        QFETCH(int, status);
        QFETCH(bool, raises);
        int number = 0;
        try {
            RaiseOnRegError(status);
        } catch (const Fault& f) {
            number = f.number();
        }
        QCOMPARE(number, raises ? 5 : 0);
    }

    void queryRegValue_data() {
        QTest::addColumn<quint32>("root");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("stored"); // invalid: the value is absent
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("value");
        const quint32 hkcu = HKEY_CURRENT_USER_ROOT;
        const QString longText(1023, QLatin1Char('d'));
        QTest::newRow("text value")
            << hkcu << kKey << kValue << QVariant("/srv/cassa") << true << "/srv/cassa";
        QTest::newRow("key in another case") << hkcu << "software\\qarnwerk\\qarnvelmar" << kValue
                                             << QVariant("/srv/cassa") << true << "/srv/cassa";
        QTest::newRow("empty text") << hkcu << kKey << kValue << QVariant("") << true << "";
        QTest::newRow("number as decimal text")
            << hkcu << kKey << kValue << QVariant(4096) << true << "4096";
        QTest::newRow("1023 characters fit")
            << hkcu << kKey << kValue << QVariant(longText) << true << longText;
        QTest::newRow("1024 characters do not")
            << hkcu << kKey << kValue << QVariant(longText + QLatin1Char('d')) << false << "";
        QTest::newRow("much longer")
            << hkcu << kKey << kValue << QVariant(QString(5000, QLatin1Char('x'))) << false << "";
        QTest::newRow("missing value") << hkcu << kKey << kValue << QVariant() << false << "";
        QTest::newRow("other value name")
            << hkcu << kKey << "AltroValore" << QVariant("/srv/cassa") << false << "";
        QTest::newRow("wrong key") << hkcu << "SOFTWARE\\Qarnwerk\\ALTRO" << kValue
                                   << QVariant("/srv/cassa") << false << "";
        QTest::newRow("parent key")
            << hkcu << "SOFTWARE\\Qarnwerk" << kValue << QVariant("/srv/cassa") << false << "";
        QTest::newRow("local machine root")
            << quint32(0x80000002u) << kKey << kValue << QVariant("/srv/cassa") << false << "";
        QTest::newRow("leading backslash") << hkcu << "\\SOFTWARE\\Qarnwerk\\QARNVELMAR" << kValue
                                           << QVariant("/srv/cassa") << false << "";
        QTest::newRow("trailing backslash") << hkcu << "SOFTWARE\\Qarnwerk\\QARNVELMAR\\" << kValue
                                            << QVariant("/srv/cassa") << false << "";
        QTest::newRow("double backslash") << hkcu << "SOFTWARE\\\\Qarnwerk\\QARNVELMAR" << kValue
                                          << QVariant("/srv/cassa") << false << "";
    }
    void queryRegValue() {
        QFETCH(quint32, root);
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QVariant, stored);
        QFETCH(bool, ok);
        QFETCH(QString, value);
        setValue(kValue, stored);
        QString out = QStringLiteral("untouched");
        QCOMPARE(QueryRegValue(root, key, name, out), ok);
        QCOMPARE(out, ok ? value : QStringLiteral("untouched"));
    }

    void customDataDir_data() {
        QTest::addColumn<QVariant>("stored"); // "@" stands for an existing folder
        QTest::addColumn<bool>("found");
        QTest::newRow("existing folder") << QVariant("@") << true;
        QTest::newRow("trailing slash") << QVariant("@/") << true;
        QTest::newRow("trailing backslash") << QVariant("@\\") << true;
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("empty") << QVariant("") << false;
        QTest::newRow("only a backslash") << QVariant("\\") << false;
        QTest::newRow("only a slash") << QVariant("/") << false;
        QTest::newRow("missing folder") << QVariant("@/manca") << false;
        QTest::newRow("missing folder, trailing slash") << QVariant("@/manca/") << false;
        QTest::newRow("a file, not a folder") << QVariant("@/file.txt") << false;
        QTest::newRow("Windows path") << QVariant("C:\\Dati\\Cassa\\") << false;
    }
    void customDataDir() {
        QFETCH(QVariant, stored);
        QFETCH(bool, found);
        QTemporaryDir dir;
        QFile file(QDir(dir.path()).filePath(QStringLiteral("file.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (stored.isValid()) {
            stored = stored.toString().replace(QLatin1String("@"), dir.path());
        }
        setValue(kValue, stored);
        QCOMPARE(GetCustomDataDir(), found ? dir.path() : QString());
    }

    void customDataDirTooLong() {
        QTemporaryDir dir;
        // An existing folder whose name, with the separators, passes 1023 characters.
        QString deep = dir.path();
        while (deep.size() < 1030) {
            deep += QStringLiteral("/") + QString(100, QLatin1Char('a'));
        }
        QVERIFY(QDir().mkpath(deep));
        setValue(kValue, deep);
        QCOMPARE(GetCustomDataDir(), QString());
    }

    // The lookup only reads: it never writes the store.
    void lookupWritesNothing() {
        setValue(kValue, QVariant());
        QString out;
        QVERIFY(!QueryRegValue(HKEY_CURRENT_USER_ROOT, kKey, kValue, out));
        QVERIFY(GetCustomDataDir().isEmpty());
        QVERIFY(!store().contains(kValue));
    }
};

QTEST_GUILESS_MAIN(TestModRegistry)
#include "tst_modregistry.moc"
