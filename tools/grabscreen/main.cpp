// grabscreen: saves a rectangle of the X screen as a PNG, for the
// documentation's screenshots (scripts/screenshots.sh). It refuses to save a
// picture of one flat colour, which means the window was not painted yet, so
// the script can try again.
//
//   grabscreen X Y WIDTH HEIGHT OUT.png

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

namespace {

bool isFlat(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (image.pixel(x, y) != first) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: grabscreen X Y WIDTH HEIGHT OUT.png\n");
        return 2;
    }
    int numbers[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = args.at(i + 1).toInt(&ok);
        if (!ok || (i >= 2 && numbers[i] <= 0)) {
            std::fprintf(stderr, "grabscreen: not a position or size: %s\n", qPrintable(args.at(i + 1)));
            return 2;
        }
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "grabscreen: no screen\n");
        return 1;
    }
    const QImage image = screen->grabWindow(0, numbers[0], numbers[1], numbers[2], numbers[3]).toImage();
    if (image.isNull() || isFlat(image)) {
        std::fprintf(stderr, "grabscreen: nothing painted there yet\n");
        return 3;
    }
    if (!image.save(args.at(5), "PNG")) {
        std::fprintf(stderr, "grabscreen: cannot write %s\n", qPrintable(args.at(5)));
        return 1;
    }
    return 0;
}
