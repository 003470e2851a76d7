// Byte-exact line files: reading with CR LF, LF or lone CR as line ends
// (including a CR LF split between two reads of the reader), writing with CR LF.

#include "common/Fault.h"
#include "common/LineFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <string>
#include <vector>

using namespace velmar;

namespace {

// The reader takes the file in pieces of this size; line ends that straddle
// a multiple of it are the hard case.
constexpr int kChunk = 64 * 1024;

// Lines as a list QCOMPARE can show: it names the first differing line, shortened.
QByteArrayList list(const std::vector<std::string>& lines) {
    QByteArrayList out;
    for (const auto& l : lines) {
        out << QByteArray::fromStdString(l);
    }
    return out;
}

QByteArrayList readAll(const QString& path) {
    LineReader reader(path);
    QByteArrayList out;
    for (std::string line; reader.next(line);) {
        out << QByteArray::fromStdString(line);
    }
    return out;
}

QByteArray fileBytes(const QString& p) {
    QFile f(p);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The fault number `f` throws, 0 when it returns.
template <typename F> int faultOf(F&& f) {
    try {
        f();
    } catch (const Fault& e) {
        return e.number();
    }
    return 0;
}

} // namespace

class TestLineFile : public QObject {
    Q_OBJECT

private slots:
    void readsLineEnds_data();
    void readsLineEnds();
    void readerStates();
    void writer();
    void writerFaults();
    void roundTrip_data();
    void roundTrip();

private:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString writeFile(const QByteArray& bytes);

    QTemporaryDir dir_;
    int counter_ = 0;
};

QString TestLineFile::writeFile(const QByteArray& bytes) {
    const QString p = path(QString("in%1.txt").arg(++counter_));
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        qFatal("cannot write test file %s", qPrintable(p));
    }
    return p;
}

void TestLineFile::readsLineEnds_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n") << QByteArrayList{"a", "b", "c", "d"};
    QTest::newRow("last line without end")
        << QByteArray("one\r\nfinesco") << QByteArrayList{"one", "finesco"};
    QTest::newRow("empty file") << QByteArray() << QByteArrayList{};
    QTest::newRow("only CR") << QByteArray("\r") << QByteArrayList{""};
    QTest::newRow("two CR LF") << QByteArray("\r\n\r\n") << QByteArrayList{"", ""};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QByteArrayList{"a", "", "b"};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QByteArrayList{"a", "", "b"};
    QTest::newRow("blanks kept") << QByteArray("  a  \r\n\t\n") << QByteArrayList{"  a  ", "\t"};

    // Every byte but CR and LF is part of a line; lines longer than many reads.
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            all += char(b);
        }
    }
    const QByteArray huge = all.repeated(4200);
    QTest::newRow("all bytes, megabyte lines")
        << all + "\r\n" + huge + "\n" + QByteArray("\0\0", 2) + "\r" + huge +
               QByteArray("finesco\0", 8)
        << QByteArrayList{all, huge, QByteArray("\0\0", 2), huge + QByteArray("finesco\0", 8)};

    // A long line whose end starts at byte `at`, around the first reads' boundaries, then "z".
    for (const char* end : {"\r\n", "\n", "\r"}) {
        for (int at : {kChunk - 2, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 1}) {
            const QByteArray line = huge.left(at - 7);
            QTest::addRow("%s at %d", QByteArray(end).toPercentEncoding().constData(), at)
                << "first\r\n" + line + end + "z" << QByteArrayList{"first", line, "z"};
        }
    }
    // A CR LF across each of four boundaries in one file.
    QByteArray four;
    QByteArrayList fourLines;
    for (int k = 1; k <= 4; ++k) {
        const QByteArray line = huge.mid(k, k * kChunk - 1 - four.size());
        four += line + "\r\n\r\nafter\n";
        fourLines << line << ""
                  << "after";
    }
    QTest::newRow("CR LF across four boundaries") << four << fourLines;
    // The line end at the boundary followed by another one, or by the end of the file.
    const QByteArray line = huge.left(kChunk - 1);
    QTest::newRow("CR LF across, then empty line")
        << line + "\r\n\r\nz" << QByteArrayList{line, "", "z"};
    QTest::newRow("CR LF across, then CR LF at end") << line + "\r\nz\r\n"
                                                     << QByteArrayList{line, "z"};
    QTest::newRow("CR last of read, then CR") << line + "\r\rz" << QByteArrayList{line, "", "z"};
    QTest::newRow("CR last of read, then LF CR")
        << line + "\rz\n\r" << QByteArrayList{line, "z", ""};
    QTest::newRow("LF last of read, then LF") << line + "\n\nz" << QByteArrayList{line, "", "z"};
    QTest::newRow("CR LF across, end of file") << line + "\r\n" << QByteArrayList{line};
    QTest::newRow("CR last byte of file") << line + "\r" << QByteArrayList{line};
}

void TestLineFile::readsLineEnds() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArrayList, expected);
    const QString p = writeFile(bytes);
    QCOMPARE(readAll(p), expected);
    QCOMPARE(list(readLines(p)), expected);
}

void TestLineFile::readerStates() {
    LineReader reader;
    std::string line = "unchanged";
    QVERIFY(!reader.next(line)); // never opened
    QVERIFY(!reader.open(path("no such file.txt")));
    QVERIFY(!reader.isOpen());
    QVERIFY(!reader.next(line));
    QVERIFY(readLines(path("absent folder/absent.txt")).empty());

    // A reader opened on a second file forgets what it had buffered from the first.
    QVERIFY(reader.open(writeFile("a1\r\na2\r\na3\r\n")));
    QVERIFY(reader.next(line));
    QCOMPARE(QByteArray::fromStdString(line), QByteArray("a1"));
    QVERIFY(reader.open(writeFile("b1\nb2")));
    QVERIFY(reader.next(line) && line == "b1");
    QVERIFY(reader.next(line) && line == "b2");
    // At the end it stays at the end.
    QVERIFY(!reader.next(line));
    QVERIFY(!reader.next(line));
}

void TestLineFile::writer() {
    const QString p = writeFile(QByteArray(5000, 'o'));
    LineWriter w;
    QVERIFY(!w.isOpen());
    w.create(p); // truncates
    QVERIFY(w.isOpen());
    w.writeLine("1000H1R");
    w.writeLine("");
    w.writeLine(std::string_view("\0\x80\xFF", 3));
    w.writeLine("  blanks  ");
    w.close();
    QVERIFY(!w.isOpen());
    const QByteArray want = QByteArray("1000H1R\r\n\r\n\0\x80\xFF\r\n  blanks  \r\n", 28);
    QCOMPARE(fileBytes(p), want);
    w.close(); // closing twice does nothing
    QCOMPARE(fileBytes(p), want);
    {
        LineWriter abandoned;
        abandoned.create(p);
        abandoned.writeLine("kept");
    }
    QCOMPARE(fileBytes(p), QByteArray("kept\r\n"));
}

void TestLineFile::writerFaults() {
    const QString p = path("missing folder/sub/out.txt");
    LineWriter w;
    QCOMPARE(faultOf([&] { w.create(p); }), faultno::PathNotFound);
    QVERIFY(!w.isOpen());
    QVERIFY(!writeLines(p, {"a"}));
    QVERIFY(!QFile::exists(p));

    // A folder where the file should be: the folder exists, the file cannot be made.
    QVERIFY(QDir(dir_.path()).mkpath("a folder"));
    QCOMPARE(faultOf([&] { w.create(path("a folder")); }), faultno::FileAccess);
}

void TestLineFile::roundTrip_data() {
    QTest::addColumn<QByteArrayList>("lines");

    QTest::newRow("none") << QByteArrayList{};
    QTest::newRow("one empty") << QByteArrayList{""};
    QTest::newRow("empty lines around") << QByteArrayList{"", "a", "", ""};
    QTest::newRow("bytes") << QByteArrayList{QByteArray("\0\x01\x7F", 3), "\x80\x9F\xFF\xE8 "};
    QTest::newRow("long line") << QByteArrayList{QByteArray(3 * kChunk + 17, 'q'), "x"};
    // More than the writer holds back, so it writes in several pieces.
    QByteArrayList many;
    for (int i = 0; i < 20000; ++i) {
        many << QByteArray::number(i) + QByteArray(i % 37, '\xE8');
    }
    QTest::newRow("many lines") << many;
}

void TestLineFile::roundTrip() {
    QFETCH(QByteArrayList, lines);
    std::vector<std::string> in;
    QByteArray wantBytes;
    for (const auto& l : lines) {
        in.push_back(l.toStdString());
        wantBytes += l + "\r\n";
    }
    const QString p = path(QString("round%1.txt").arg(++counter_));
    QVERIFY(writeLines(p, in));
    QCOMPARE(fileBytes(p), wantBytes);
    QCOMPARE(list(readLines(p)), lines);
}

QTEST_GUILESS_MAIN(TestLineFile)
#include "tst_linefile.moc"
