// Writes the application icon as PNG files, painted by the logo itself:
//   corvane-render-app-icon FOLDER SIZE...
// Each size goes to FOLDER/<size>x<size>/apps/corvane.png, the icon theme's layout.
#include <cstdio>

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>

#include "App/CorvaneLogo.h"

namespace {

bool writeIcon(const QString& folder, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    corvane::CorvaneLogo::paint(painter, size);
    painter.end();
    const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    return QDir().mkpath(apps) && image.save(apps + QStringLiteral("/corvane.png"), "PNG");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        bool isNumber = false;
        const int size = QByteArray(argv[i]).toInt(&isNumber);
        if (!isNumber || size <= 0 || !writeIcon(folder, size)) {
            std::fprintf(stderr, "cannot write the %s pixel icon into %s\n", argv[i], argv[1]);
            return 1;
        }
    }
    return 0;
}
