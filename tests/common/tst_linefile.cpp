// Byte-exact line files: reading with CR LF, LF or lone CR as line ends
// (including a CR LF split between two reads of the reader), writing with CR LF.

#include "common/Fault.h"
#include "common/LineFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <string>
#include <vector>

using namespace velmar;

namespace {

using Lines = std::vector<std::string>;

// The reader takes the file in pieces of this size; line ends that straddle
// a multiple of it are the hard case.
constexpr int kChunk = 64 * 1024;

QByteArray toBytes(const std::string& s) {
    return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

QStringList describe(const Lines& lines) {
    QStringList out;
    for (const auto& l : lines) {
        if (l.size() > 40) {
            out << QString("<%1 bytes: %2...>")
                       .arg(l.size())
                       .arg(QString::fromLatin1(toBytes(l.substr(0, 20)).toPercentEncoding()));
        } else {
            out << QString::fromLatin1(toBytes(l).toPercentEncoding());
        }
    }
    return out;
}

// Compares line by line, so a failure names the first differing line instead
// of dumping megabytes.
bool sameLines(const Lines& got, const Lines& want, QString& why) {
    const std::size_t n = std::min(got.size(), want.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            why = QString("line %1 differs: got %2, expected %3")
                      .arg(i + 1)
                      .arg(describe({got[i]}).join(""), describe({want[i]}).join(""));
            return false;
        }
    }
    if (got.size() != want.size()) {
        why = QString("got %1 lines, expected %2; first extra/missing: %3 / %4")
                  .arg(got.size())
                  .arg(want.size())
                  .arg(describe(Lines(got.begin() + n, got.end())).mid(0, 3).join('|'))
                  .arg(describe(Lines(want.begin() + n, want.end())).mid(0, 3).join('|'));
        return false;
    }
    return true;
}

#define COMPARE_LINES(got, want)                                                                   \
    do {                                                                                           \
        QString why_;                                                                              \
        QVERIFY2(sameLines((got), (want), why_), qPrintable(why_));                                \
    } while (false)

template <typename F> std::optional<int> faultOf(F&& f) {
    try {
        f();
    } catch (const Fault& e) {
        return e.number();
    }
    return std::nullopt;
}

// Builds file content and the lines a reader must find in it.
struct Content {
    QByteArray bytes;
    Lines lines;

    void add(const QByteArray& line, const char* end = "\r\n") {
        bytes += line;
        bytes += end;
        lines.push_back(line.toStdString());
    }
    // A line of filler bytes whose line end starts at byte offset `endAt`.
    void addEndingAt(qsizetype endAt, const char* end = "\r\n") {
        Q_ASSERT(endAt >= bytes.size());
        QByteArray line(endAt - bytes.size(), 'x');
        for (qsizetype i = 0; i < line.size(); ++i) {
            line[i] = static_cast<char>('a' + (bytes.size() + i) % 26);
        }
        add(line, end);
    }
};

Lines readAll(const QString& path) {
    LineReader reader;
    Lines out;
    if (!reader.open(path)) {
        return out;
    }
    std::string line;
    while (reader.next(line)) {
        out.push_back(line);
    }
    return out;
}

} // namespace

class TestLineFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void readsLineEnds_data();
    void readsLineEnds();
    void lineEndAcrossBufferBoundary_data();
    void lineEndAcrossBufferBoundary();
    void lineEndsAroundManyBoundaries();
    void allByteValuesPreserved();
    void megabyteLine();
    void readerOnMissingFile();
    void readerReopens();
    void readerAfterEndStaysAtEnd();

    void writerWritesCrLfAndExactBytes();
    void writerLargeOutput();
    void writerTruncates();
    void writerDestructorFlushes();
    void writerMissingFolder();

    void roundTrip_data();
    void roundTrip();
    void readLinesMissingFile();
    void writeLinesMissingFolder();

private:
    QString path(const QString& name) const { return dir_->filePath(name); }
    QString writeFile(const QByteArray& bytes);

    std::optional<QTemporaryDir> dir_;
    int counter_ = 0;
};

void TestLineFile::init() {
    if (!dir_) {
        dir_.emplace();
        QVERIFY(dir_->isValid());
    }
}

QString TestLineFile::writeFile(const QByteArray& bytes) {
    const QString p = path(QString("in%1.txt").arg(++counter_));
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        qFatal("cannot write test file %s", qPrintable(p));
    }
    return p;
}

// ---------------------------------------------------------------------------
// Reading

void TestLineFile::readsLineEnds_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("CR LF") << QByteArray("one\r\ntwo\r\n") << QStringList{"one", "two"};
    QTest::newRow("LF") << QByteArray("one\ntwo\n") << QStringList{"one", "two"};
    QTest::newRow("lone CR") << QByteArray("one\rtwo\r") << QStringList{"one", "two"};
    QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("last line without end")
        << QByteArray("one\r\nfinesco") << QStringList{"one", "finesco"};
    QTest::newRow("only last line") << QByteArray("finesco") << QStringList{"finesco"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("only CR LF") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("only LF") << QByteArray("\n") << QStringList{""};
    QTest::newRow("only CR") << QByteArray("\r") << QStringList{""};
    QTest::newRow("two CR LF") << QByteArray("\r\n\r\n") << QStringList{"", ""};
    QTest::newRow("empty lines between")
        << QByteArray("a\r\n\r\n\nb") << QStringList{"a", "", "", "b"};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("trailing blanks kept")
        << QByteArray("  a  \r\n\t\r\n") << QStringList{"  a  ", "\t"};
    QTest::newRow("end ends at CR") << QByteArray("a\r\nb\r") << QStringList{"a", "b"};
}

void TestLineFile::readsLineEnds() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    Lines want;
    for (const auto& s : expected) {
        want.push_back(s.toStdString());
    }
    const QString p = writeFile(bytes);
    COMPARE_LINES(readAll(p), want);
    COMPARE_LINES(readLines(p), want);
}

void TestLineFile::lineEndAcrossBufferBoundary_data() {
    QTest::addColumn<int>("endAt");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QStringList>("nextLines");

    // The end of the long line starts at byte `endAt`; `next` follows it and
    // reads as `nextLines`.
    const int b = kChunk;
    QTest::newRow("CR LF, CR last of first read")
        << b - 1 << QByteArray("\r\n") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("CR LF, CR first of second read")
        << b << QByteArray("\r\n") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("CR LF, LF last of first read")
        << b - 2 << QByteArray("\r\n") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("CR LF, CR last of second read")
        << 2 * b - 1 << QByteArray("\r\n") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("CR LF at boundary, then empty line")
        << b - 1 << QByteArray("\r\n") << QByteArray("\r\nz") << QStringList{"", "z"};
    QTest::newRow("CR LF at boundary, then CR LF at end")
        << b - 1 << QByteArray("\r\n") << QByteArray("z\r\n") << QStringList{"z"};
    QTest::newRow("lone CR last of first read")
        << b - 1 << QByteArray("\r") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("lone CR, then empty line")
        << b - 1 << QByteArray("\r") << QByteArray("\rz") << QStringList{"", "z"};
    QTest::newRow("lone CR, then LF CR")
        << b - 1 << QByteArray("\r") << QByteArray("z\n\r") << QStringList{"z", ""};
    QTest::newRow("LF last of first read")
        << b - 1 << QByteArray("\n") << QByteArray("z") << QStringList{"z"};
    QTest::newRow("LF first of second read")
        << b << QByteArray("\n") << QByteArray("\nz") << QStringList{"", "z"};
    QTest::newRow("CR LF, file ends after LF")
        << b - 1 << QByteArray("\r\n") << QByteArray() << QStringList{};
    QTest::newRow("CR is last byte of file")
        << b - 1 << QByteArray("\r") << QByteArray() << QStringList{};
}

void TestLineFile::lineEndAcrossBufferBoundary() {
    QFETCH(int, endAt);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, next);
    QFETCH(QStringList, nextLines);

    Content c;
    c.add("first");
    c.addEndingAt(endAt, end.constData());
    QCOMPARE(c.bytes.size(), qsizetype(endAt) + end.size());
    c.bytes += next;
    for (const auto& l : nextLines) {
        c.lines.push_back(l.toStdString());
    }
    COMPARE_LINES(readAll(writeFile(c.bytes)), c.lines);
}

void TestLineFile::lineEndsAroundManyBoundaries() {
    // For each of several read boundaries, line ends placed at every offset
    // from a few bytes before it to a few bytes after it, with every kind of
    // line end, each in its own file and all together in one.
    const char* ends[] = {"\r\n", "\n", "\r"};
    Content all;
    for (int k = 1; k <= 4; ++k) {
        for (int delta = -3; delta <= 2; ++delta) {
            for (const char* end : ends) {
                Content one;
                one.add("head");
                one.addEndingAt(qsizetype(k) * kChunk + delta, end);
                one.add("tail", "");
                COMPARE_LINES(readAll(writeFile(one.bytes)), one.lines);
            }
        }
        // The combined file: a line end straddling each boundary.
        all.addEndingAt(qsizetype(k) * kChunk - 1);
        all.add("after boundary");
        all.add("");
    }
    all.add("last", "");
    QVERIFY(all.bytes.size() > 4 * kChunk);
    COMPARE_LINES(readAll(writeFile(all.bytes)), all.lines);
    COMPARE_LINES(readLines(writeFile(all.bytes)), all.lines);
}

void TestLineFile::allByteValuesPreserved() {
    QByteArray line;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            line += static_cast<char>(b);
        }
    }
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b) {
        high += static_cast<char>(b);
    }
    Content c;
    c.add(line);
    c.add(QByteArray("\0\0\0", 3));
    c.add(high, "\n");
    c.add(QByteArray("finesco\0", 8), "");
    const Lines got = readAll(writeFile(c.bytes));
    COMPARE_LINES(got, c.lines);
    QCOMPARE(got.at(0).size(), std::size_t(254));
    QCOMPARE(got.at(1).size(), std::size_t(3));
    QCOMPARE(got.at(3).size(), std::size_t(8));
}

void TestLineFile::megabyteLine() {
    QByteArray big(1024 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i) {
        char ch = static_cast<char>(i * 7 % 251);
        if (ch == '\r' || ch == '\n') {
            ch = ' ';
        }
        big[i] = ch;
    }
    Content c;
    c.add("before");
    c.add(big);
    c.add("after");
    c.add(big, "");
    const Lines got = readAll(writeFile(c.bytes));
    COMPARE_LINES(got, c.lines);
}

void TestLineFile::readerOnMissingFile() {
    LineReader reader;
    QVERIFY(!reader.open(path("no such file.txt")));
    QVERIFY(!reader.isOpen());
    std::string line = "unchanged";
    QVERIFY(!reader.next(line));

    LineReader never;
    QVERIFY(!never.next(line));
}

void TestLineFile::readerReopens() {
    // A reader opened on a second file forgets what it had buffered from the first.
    const QString first = writeFile("a1\r\na2\r\na3\r\n");
    const QString second = writeFile("b1\nb2");
    LineReader reader(first);
    QVERIFY(reader.isOpen());
    std::string line;
    QVERIFY(reader.next(line));
    QCOMPARE(QByteArray::fromStdString(line), QByteArray("a1"));
    QVERIFY(reader.open(second));
    Lines rest;
    while (reader.next(line)) {
        rest.push_back(line);
    }
    COMPARE_LINES(rest, (Lines{"b1", "b2"}));
}

void TestLineFile::readerAfterEndStaysAtEnd() {
    LineReader reader(writeFile("only\r\n"));
    std::string line;
    QVERIFY(reader.next(line));
    QCOMPARE(QByteArray::fromStdString(line), QByteArray("only"));
    QVERIFY(!reader.next(line));
    QVERIFY(!reader.next(line));
}

// ---------------------------------------------------------------------------
// Writing

static QByteArray fileBytes(const QString& p) {
    QFile f(p);
    if (!f.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return f.readAll();
}

void TestLineFile::writerWritesCrLfAndExactBytes() {
    const QString p = path("out.txt");
    LineWriter w;
    QVERIFY(!w.isOpen());
    w.create(p);
    QVERIFY(w.isOpen());
    w.writeLine("1000H1R");
    w.writeLine("");
    w.writeLine(std::string_view("\0\x80\xFF\xE0", 4));
    w.writeLine("  blanks  ");
    w.close();
    QVERIFY(!w.isOpen());
    const QByteArray want = QByteArray("1000H1R\r\n") + "\r\n" + QByteArray("\0\x80\xFF\xE0", 4) +
                            "\r\n" + "  blanks  \r\n";
    QCOMPARE(want.size(), 29);
    QCOMPARE(fileBytes(p), want);
    w.close(); // closing twice does nothing
    QCOMPARE(fileBytes(p), want);
}

void TestLineFile::writerLargeOutput() {
    // More than the writer holds back, so it writes in several pieces.
    const QString p = path("large.txt");
    QByteArray want;
    {
        LineWriter w;
        w.create(p);
        for (int i = 0; i < 20000; ++i) {
            const QByteArray line = QByteArray::number(i) + QByteArray(i % 37, '\xE8');
            w.writeLine(std::string_view(line.constData(), std::size_t(line.size())));
            want += line + "\r\n";
        }
        w.close();
    }
    QVERIFY(want.size() > 4 * kChunk);
    QCOMPARE(fileBytes(p), want);
}

void TestLineFile::writerTruncates() {
    const QString p = writeFile(QByteArray(5000, 'o'));
    LineWriter w;
    w.create(p);
    w.writeLine("new");
    w.close();
    QCOMPARE(fileBytes(p), QByteArray("new\r\n"));

    w.create(p);
    w.close();
    QCOMPARE(fileBytes(p), QByteArray());
}

void TestLineFile::writerDestructorFlushes() {
    const QString p = path("abandoned.txt");
    {
        LineWriter w;
        w.create(p);
        w.writeLine("kept");
    }
    QCOMPARE(fileBytes(p), QByteArray("kept\r\n"));
}

void TestLineFile::writerMissingFolder() {
    const QString p = path("missing folder/sub/out.txt");
    LineWriter w;
    const auto fault = faultOf([&] { w.create(p); });
    QCOMPARE(fault.value_or(-1), faultno::PathNotFound);
    QVERIFY(!w.isOpen());
    QVERIFY(!QFile::exists(p));

    // A folder where the file should be: the folder exists, the file cannot be made.
    QVERIFY(QDir(dir_->path()).mkpath("a folder"));
    const auto onFolder = faultOf([&] { w.create(path("a folder")); });
    QCOMPARE(onFolder.value_or(-1), faultno::FileAccess);
}

// ---------------------------------------------------------------------------
// Whole-file helpers

void TestLineFile::roundTrip_data() {
    QTest::addColumn<QList<QByteArray>>("lines");

    QTest::newRow("none") << QList<QByteArray>{};
    QTest::newRow("one empty") << QList<QByteArray>{""};
    QTest::newRow("settings") << QList<QByteArray>{" 5 ",          "30",   "1",           "0",
                                                   "192.168.1.10", "6660", "99MEY012345", "3500"};
    QTest::newRow("trailing empty lines") << QList<QByteArray>{"a", "", ""};
    QTest::newRow("leading empty line") << QList<QByteArray>{"", "b"};
    QTest::newRow("bytes") << QList<QByteArray>{QByteArray("\0\x01\x7F", 3), "\x80\x81\x9F\xFF",
                                                "caff\xE8 \xB0"};
    QTest::newRow("long line") << QList<QByteArray>{QByteArray(3 * kChunk + 17, 'q'), "x"};
}

void TestLineFile::roundTrip() {
    QFETCH(QList<QByteArray>, lines);
    Lines want;
    QByteArray wantBytes;
    for (const auto& l : lines) {
        want.push_back(l.toStdString());
        wantBytes += l + "\r\n";
    }
    const QString p = path(QString("round%1.txt").arg(++counter_));
    QVERIFY(writeLines(p, want));
    QCOMPARE(fileBytes(p), wantBytes);
    COMPARE_LINES(readLines(p), want);
}

void TestLineFile::readLinesMissingFile() {
    QVERIFY(readLines(path("absent.txt")).empty());
    QVERIFY(readLines(path("absent folder/absent.txt")).empty());
}

void TestLineFile::writeLinesMissingFolder() {
    QVERIFY(!writeLines(path("absent folder/x.txt"), Lines{"a"}));
    QVERIFY(!QFile::exists(path("absent folder/x.txt")));
}

QTEST_GUILESS_MAIN(TestLineFile)
#include "tst_linefile.moc"
