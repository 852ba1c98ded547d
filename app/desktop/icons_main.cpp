// orvanta-icons OUTDIR NAME SIZE...: writes the program's icon, as the window
// shows it, into OUTDIR in the layout of the hicolor icon theme
// (OUTDIR/16x16/apps/NAME.png and so on), for the desktop entry's menu item.
//
// The build lists the sizes it installs; they must be exactly the sizes the
// window's icon is drawn at, so that a size added to or dropped from the
// drawing stops the build instead of leaving the menu with a stale or missing
// picture.
#include "app/icon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "orvanta-icons: %s\n", qPrintable(message));
    return 1;
}

QString sizeList(const std::vector<int>& sizes)
{
    QStringList words;
    for (int size : sizes)
        words << QString::number(size);
    return words.join(u' ');
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvanta-icons OUTDIR NAME SIZE...\n");
        return 2;
    }
    // Only the offscreen platform is needed; the build sets it.
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    std::vector<int> asked;
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok)
            return fail(QStringLiteral("not a size: %1").arg(QString::fromLocal8Bit(argv[i])));
        asked.push_back(size);
    }
    std::vector<int> drawn(kAppIconSizes.begin(), kAppIconSizes.end());
    std::vector<int> sortedAsked = asked;
    std::sort(sortedAsked.begin(), sortedAsked.end());
    std::sort(drawn.begin(), drawn.end());
    if (sortedAsked != drawn)
        return fail(QStringLiteral("asked for sizes %1, but the window's icon is drawn at %2")
                        .arg(sizeList(asked), sizeList(drawn)));

    for (int size : drawn) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("cannot create %1").arg(dir));
        const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!appIconImage(size).save(file, "PNG"))
            return fail(QStringLiteral("cannot write %1").arg(file));
    }
    return 0;
}
