// Writes the application icon at the sizes a desktop wants, for installing.
#include <QDir>
#include <QGuiApplication>

#include "framework/ui/Artwork.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        return 64;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        return 73;
    }
    for (int size : {16, 32, 48, 64, 128}) {
        if (!quorrel::AppPixmap(size).save(
                folder.filePath(QStringLiteral("quorrel-%1.png").arg(size)))) {
            return 74;
        }
    }
    return 0;
}
