// mkmanual: turns the user manual's text (Markdown, UTF-8) into its PDF with
// Qt's own PDF writer, so the build makes manvelmar.pdf from the text in the
// tree.
//
//   mkmanual INPUT.md OUTPUT.pdf

#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // no display needed
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkmanual INPUT.md OUTPUT.pdf\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
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
    doc.setMarkdown(QString::fromUtf8(in.readAll()));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle(QStringLiteral("Velmar - Manuale d'uso"));
    pdf.setCreator(QStringLiteral("Velmar"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
    pdf.setResolution(300);
    // Lay the text out on the page's printable width (in points, as the
    // document measures), not on its default width.
    doc.setPageSize(pdf.pageLayout().paintRect(QPageLayout::Point).size());
    doc.print(&pdf);
    return 0;
}
