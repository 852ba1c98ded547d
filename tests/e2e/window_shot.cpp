// Grabs one X11 window of another process, saves it as PNG and checks that
// it has the main window's client size and that something was painted in it.
//
//   window-shot WINDOW_ID OUT.png [X,Y=RRGGBB ...]
//
// Each X,Y=RRGGBB also requires the pixel at (X, Y) of the window to have
// exactly that colour.
// WINDOW_ID is decimal (as xdotool prints it) or 0x hex (as xwininfo does).
// Exit 0 when the checks hold, 1 when they don't, 2 on bad usage.

#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QString>

#include <cstdio>

namespace {

constexpr int kWidth = 859;
constexpr int kHeight = 526;
// A painted window has text, frames and controls: many colours, none of them
// covering (nearly) everything. A blank, black or single-colour grab fails.
constexpr int kMinColours = 8;
constexpr double kMaxShareOfOneColour = 0.97;

}  // namespace

int main(int argc, char **argv)
{
    // Grabbing another client's window needs the real X server, whatever the
    // caller's environment says.
    // Keep stdout and stderr in order when both go to one log.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);

    if (argc < 3) {
        std::fprintf(stderr, "usage: window-shot WINDOW_ID OUT.png [X,Y=RRGGBB ...]\n");
        return 2;
    }
    bool ok = false;
    const WId wid = QString::fromLocal8Bit(argv[1]).toULongLong(&ok, 0);
    if (!ok || wid == 0) {
        std::fprintf(stderr, "window-shot: not a window id: %s\n", argv[1]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);

    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "window-shot: no screen\n");
        return 1;
    }
    const QImage image = screen->grabWindow(wid).toImage().convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        std::fprintf(stderr, "window-shot: could not grab window 0x%llx\n",
                     static_cast<unsigned long long>(wid));
        return 1;
    }
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "window-shot: could not write %s\n", qPrintable(out));
        return 1;
    }
    std::printf("window-shot: grabbed %d x %d into %s\n", image.width(), image.height(),
                qPrintable(out));

    QHash<QRgb, qint64> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x] | 0xff000000u];
    }
    qint64 most = 0;
    QRgb mostColour = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            mostColour = it.key();
        }
    }
    const qint64 total = qint64(image.width()) * image.height();
    const double share = total ? double(most) / double(total) : 1.0;
    std::printf("window-shot: %lld distinct colours; most common #%06x covers %.1f%%\n",
                static_cast<long long>(counts.size()), unsigned(mostColour & 0xffffffu),
                100.0 * share);

    bool good = true;
    if (image.width() != kWidth || image.height() != kHeight) {
        std::fprintf(stderr, "window-shot: FAIL size is %d x %d, expected %d x %d\n",
                     image.width(), image.height(), kWidth, kHeight);
        good = false;
    }
    if (counts.size() < kMinColours) {
        std::fprintf(stderr, "window-shot: FAIL only %lld distinct colours (need %d): not painted\n",
                     static_cast<long long>(counts.size()), kMinColours);
        good = false;
    }
    if (share > kMaxShareOfOneColour) {
        std::fprintf(stderr, "window-shot: FAIL one colour covers %.1f%% (limit %.0f%%): not painted\n",
                     100.0 * share, 100.0 * kMaxShareOfOneColour);
        good = false;
    }
    for (int i = 3; i < argc; ++i) {
        int x = 0, y = 0;
        unsigned expected = 0;
        char end = 0;
        if (std::sscanf(argv[i], "%d,%d=%6x%c", &x, &y, &expected, &end) != 3) {
            std::fprintf(stderr, "window-shot: not a pixel check: %s\n", argv[i]);
            return 2;
        }
        if (!image.rect().contains(x, y)) {
            std::fprintf(stderr, "window-shot: FAIL pixel %d,%d lies outside the window\n", x, y);
            good = false;
            continue;
        }
        const unsigned actual = image.pixel(x, y) & 0xffffffu;
        if (actual != expected) {
            std::fprintf(stderr, "window-shot: FAIL pixel %d,%d is #%06x, expected #%06x\n", x, y, actual, expected);
            good = false;
        } else {
            std::printf("window-shot: pixel %d,%d is #%06x\n", x, y, actual);
        }
    }
    if (good)
        std::printf("window-shot: OK\n");
    return good ? 0 : 1;
}
