// mkicon: writes the program's icon as PNG files for the desktop entry, at
// build time, from the same drawing the window and the tray icon use.
//
//   mkicon SIZE OUT.png [SIZE OUT.png]...

#include "app/TrayIcon.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // No display is needed to draw into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3 || args.size() % 2 == 0) {
        std::fprintf(stderr, "usage: mkicon SIZE OUT.png [SIZE OUT.png]...\n");
        return 2;
    }
    for (int i = 1; i + 1 < args.size(); i += 2) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size < 16 || size > 1024) {
            std::fprintf(stderr, "mkicon: not a size from 16 to 1024: %s\n", qPrintable(args.at(i)));
            return 2;
        }
        if (!velmar::ui::programPicture(size).save(args.at(i + 1), "PNG")) {
            std::fprintf(stderr, "mkicon: cannot write %s\n", qPrintable(args.at(i + 1)));
            return 1;
        }
    }
    return 0;
}
