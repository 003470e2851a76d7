// mkmanual: turns the user manual's text (Markdown, UTF-8) into its PDF with
// Qt's own PDF writer, so the build makes manvelmar.pdf from the text in the
// tree.
//
//   mkmanual INPUT.md OUTPUT.pdf
//
// The PDF gets a table of contents with page numbers after the title, page
// numbers at the foot of every page, the pictures the text names (paths
// relative to the text, scaled to the page's width), lines that wrap at the
// right margin (code too), and tables, pictures and headings that never start
// at the foot of a page and go on at the top of the next.

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <cmath>
#include <cstdio>

namespace {

struct Heading {
    QTextBlock block;
    int level;
};

QList<Heading> headings(QTextDocument& doc) {
    QList<Heading> found;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const int level = b.blockFormat().headingLevel();
        if (level == 2 || level == 3) {
            found.append({b, level});
        }
    }
    return found;
}

int pageOf(QTextDocument& doc, double y) {
    return static_cast<int>(std::floor(y / doc.pageSize().height())) + 1;
}

// Scales every picture to the page's width at most (a screen pixel is 3/4 of
// a point).
void fitPictures(QTextDocument& doc, const QDir& base) {
    const double room = doc.pageSize().width() - 2 * doc.documentMargin() - 8;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (!image.isValid()) {
                continue;
            }
            const QImage picture(base.filePath(image.name()));
            if (picture.isNull()) {
                std::fprintf(stderr, "mkmanual: no picture %s\n", qPrintable(image.name()));
                continue;
            }
            double width = picture.width() * 0.75;
            double height = picture.height() * 0.75;
            if (width > room) {
                height *= room / width;
                width = room;
            }
            image.setWidth(width);
            image.setHeight(height);
            QTextCursor c(&doc);
            c.setPosition(fragment.position());
            c.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            c.setCharFormat(image);
        }
    }
}

// Sets `breakBefore` on what would cross a page's foot, a few rounds, since
// every break moves what follows.
void keepTogether(QTextDocument& doc) {
    const double page = doc.pageSize().height();
    for (int round = 0; round < 8; ++round) {
        bool moved = false;
        QAbstractTextDocumentLayout* layout = doc.documentLayout();
        // Tables whole on one page.
        for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
            auto* table = qobject_cast<QTextTable*>(frame);
            if (!table) {
                continue;
            }
            const QRectF r = layout->frameBoundingRect(table);
            QTextTableFormat format = table->format();
            if (r.height() < page * 0.9 && pageOf(doc, r.top()) != pageOf(doc, r.bottom() - 1) &&
                format.pageBreakPolicy() == QTextFormat::PageBreak_Auto) {
                // A line ending in ':' just before it leads into it: both go.
                const QTextBlock before = doc.findBlock(table->firstPosition()).previous();
                QTextBlockFormat lead = before.blockFormat();
                if (before.isValid() && before.text().trimmed().endsWith(QLatin1Char(':')) &&
                    lead.pageBreakPolicy() == QTextFormat::PageBreak_Auto) {
                    lead.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                    QTextCursor(before).setBlockFormat(lead);
                } else {
                    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                    table->setFormat(format);
                }
                moved = true;
                break;
            }
        }
        if (moved) {
            continue;
        }
        // Pictures whole; headings with their first lines (and the table or
        // picture that follows them) on the same page.
        for (QTextBlock b = doc.begin(); b.isValid() && !moved; b = b.next()) {
            QTextBlockFormat format = b.blockFormat();
            if (format.pageBreakPolicy() != QTextFormat::PageBreak_Auto) {
                continue;
            }
            const QRectF r = layout->blockBoundingRect(b);
            const double left = page * pageOf(doc, r.top()) - r.top(); // room below the block's top
            bool breakHere = false;
            // A line ending in ':' leads into the table after it.
            const auto leadsIntoTable = [](const QTextBlock& block) {
                return block.isValid() && block.text().trimmed().endsWith(QLatin1Char(':')) &&
                       block.next().isValid() && QTextCursor(block.next()).currentTable() != nullptr;
            };
            if (format.headingLevel() > 0 || leadsIntoTable(b)) {
                QRectF next = r;
                QTextBlock after = b.next();
                if (leadsIntoTable(after)) {
                    after = after.next(); // a heading, its lead-in and the table
                }
                if (after.isValid()) {
                    const QRectF a = layout->blockBoundingRect(after);
                    next = a.height() > 0 ? a : next;
                    if (QTextTable* t = QTextCursor(after).currentTable()) {
                        next = layout->frameBoundingRect(t);
                    }
                }
                breakHere = left < std::min(page * 0.9, next.bottom() - r.top() + 4);
            } else if (b.text().contains(QChar::ObjectReplacementCharacter)) {
                breakHere = r.height() < page * 0.9 && left < r.height();
            }
            if (breakHere && r.top() > page * (pageOf(doc, r.top()) - 1) + 1) {
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                QTextCursor(b).setBlockFormat(format);
                moved = true;
            }
        }
        if (!moved) {
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // no display needed
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkmanual INPUT.md OUTPUT.pdf\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    QFile in(input);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mkmanual: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    doc.setDefaultStyleSheet(QStringLiteral("table { border-collapse: collapse; } "
                                            "td, th { padding: 3px; }"));
    const QDir base = QFileInfo(input).absoluteDir();
    doc.setBaseUrl(QUrl::fromLocalFile(base.absolutePath() + QLatin1Char('/')));
    // Long lines wrap at the margin, code and paths without blanks too.
    QTextOption wrap = doc.defaultTextOption();
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(wrap);
    doc.setMarkdown(QString::fromUtf8(in.readAll()));
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        QTextBlockFormat format = b.blockFormat();
        if (format.nonBreakableLines()) {
            format.setNonBreakableLines(false);
            QTextCursor(b).setBlockFormat(format);
        }
    }

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle(QStringLiteral("Velmar - Manuale d'uso"));
    pdf.setCreator(QStringLiteral("Velmar"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(18, 18, 18, 22), QPageLayout::Millimeter));
    pdf.setResolution(300);
    // Lay the text out on the page's printable size (in points, as the
    // document measures), not on its default width.
    const QSizeF pageSize = pdf.pageLayout().paintRect(QPageLayout::Point).size();
    doc.setPageSize(pageSize);
    fitPictures(doc, base);

    // The table of contents, before the first chapter, on a page of its own.
    const QList<Heading> chapters = headings(doc);
    QList<QTextBlock> entries;
    if (!chapters.isEmpty()) {
        // After what comes before the first chapter (the title).
        QTextCursor c(chapters.first().block.previous());
        c.movePosition(QTextCursor::EndOfBlock);
        QTextCharFormat titleChars;
        titleChars.setFontWeight(QFont::Bold);
        titleChars.setFontPointSize(14);
        QTextBlockFormat title;
        title.setTopMargin(18);
        title.setBottomMargin(8);
        c.insertBlock(title, titleChars);
        c.insertText(QStringLiteral("Indice"), titleChars);
        const double right = pageSize.width() - 2 * doc.documentMargin() - 4;
        for (const Heading& h : chapters) {
            QTextBlockFormat line;
            line.setIndent(h.level == 3 ? 1 : 0);
            line.setTopMargin(h.level == 2 ? 4 : 0);
            // Tab positions count from the indented margin.
            line.setTabPositions({QTextOption::Tab(right - line.indent() * doc.indentWidth(),
                                                   QTextOption::RightTab)});
            QTextCharFormat chars;
            chars.setFontWeight(h.level == 2 ? QFont::Bold : QFont::Normal);
            c.insertBlock(line, chars);
            c.insertText(h.block.text() + QStringLiteral("\t00"), chars);
            entries.append(c.block());
        }
        QTextBlockFormat first = chapters.first().block.blockFormat();
        first.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(chapters.first().block).setBlockFormat(first);
    }
    keepTogether(doc);
    for (int i = 0; i < entries.size(); ++i) {
        const QRectF r = doc.documentLayout()->blockBoundingRect(chapters.at(i).block);
        QTextCursor c(entries.at(i));
        c.movePosition(QTextCursor::EndOfBlock);
        c.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, 2);
        c.insertText(QString::number(pageOf(doc, r.top() + 1)));
    }

    // Page by page, with its number at the foot.
    QPainter painter(&pdf);
    const double scale = pdf.resolution() / 72.0;
    const int pages = doc.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0) {
            pdf.newPage();
        }
        painter.save();
        painter.scale(scale, scale);
        painter.translate(0, -i * pageSize.height());
        doc.drawContents(&painter, QRectF(0, i * pageSize.height(), pageSize.width(), pageSize.height()));
        painter.restore();
        // The foot, in the bottom margin (the font's points are the device's).
        QFont small = font;
        small.setPointSizeF(8);
        painter.setFont(small);
        painter.drawText(QRectF(0, (pageSize.height() + 14) * scale, pageSize.width() * scale, 20 * scale),
                         Qt::AlignHCenter,
                         QStringLiteral("Velmar - Manuale d'uso - pagina %1 di %2").arg(i + 1).arg(pages));
    }
    return painter.end() ? 0 : 1;
}
