// Makes the documentation's pictures: renders a stereo pair of a small 3-D
// scene, opens it in the real window through its buttons, builds the
// anaglyph, and grabs the whole window with each page in front, in Russian
// and in English. The webcam page shows two synthetic cameras streaming.
//
//   orvanta-screenshots OUTDIR
//
// Writes into OUTDIR:
//   start.png               the window as it starts
//   <page>-<ru|en>.png      the window, page = frame1, frame2, anaglyph,
//                           webcam, about
//   anaglyph-picture.png    the built anaglyph at its own size
//   stereo-left.jpg, stereo-right.jpg   the pair the window opened
//
// It also measures every caption against its control and prints what does
// not fit ("fit: ..." lines), to be checked on the pictures. Exit status 0
// when the window did everything asked of it (frames opened, anaglyph built,
// previews streaming, captions in the language chosen, no box shown), 1
// otherwise; the pictures are written either way.
#include "app/application.h"
#include "app/captions.h"
#include "app/form.h"
#include "app/platform.h"
#include "app/widgets.h"
#include "widgets/capture/capture_window.h"
#include "widgets/capture/synthetic_backend.h"
#include "widgets/bitmap_image.h"
#include "gui_test.h"
#include "own_cameras.h"
#include "pictures/jpeg_codec.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// The scene: a tiled wall far behind the screen, a checkered floor, three
// spheres, a tilted card and a turned box in front of the wall, seen by two
// parallel cameras a small step apart. Parallel cameras shift every point
// only horizontally, by a disparity that depends on its depth alone; the
// sensors are offset so that depth kConvergence lies on the screen.

struct Vec {
    double x = 0, y = 0, z = 0;
};
Vec operator+(Vec a, Vec b) { return { a.x + b.x, a.y + b.y, a.z + b.z }; }
Vec operator-(Vec a, Vec b) { return { a.x - b.x, a.y - b.y, a.z - b.z }; }
Vec operator*(Vec a, double s) { return { a.x * s, a.y * s, a.z * s }; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec normalized(Vec a) { return a * (1.0 / std::sqrt(dot(a, a))); }
Vec mix(Vec a, Vec b, double t) { return a * (1 - t) + b * t; }

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr double kFocal = 800; // pixels
// Focal length times baseline over depth is the disparity in pixels: with
// these the wall lies 6 pixels behind the screen and the nearest sphere
// about 15 pixels in front of it.
constexpr double kBaseline = 0.15;
constexpr double kConvergence = 10;
constexpr double kWallZ = 20;
constexpr double kFloorY = -2.2;

// A point of a surface: its colour before lighting and its normal.
struct Surface {
    double t = 0;
    Vec normal;
    Vec colour;
    double shine = 0; // strength of the highlight
};

std::uint32_t hash(int a, int b)
{
    std::uint32_t h = std::uint32_t(a) * 73856093u ^ std::uint32_t(b) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

Vec hsv(double h, double s, double v)
{
    h = std::fmod(h, 1.0) * 6;
    const int i = int(h);
    const double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i % 6) {
    case 0: return { v, t, p };
    case 1: return { q, v, p };
    case 2: return { p, v, t };
    case 3: return { p, q, v };
    case 4: return { t, p, v };
    default: return { v, p, q };
    }
}

// Square tiles of many colours with dark joints; each tile carries a grid of
// small light dots, fine enough to give the eyes something to match.
Vec wallTexture(double x, double y)
{
    constexpr double tile = 0.9;
    const double u = x / tile + 40, v = y / tile + 40;
    const int i = int(std::floor(u)), j = int(std::floor(v));
    const double fu = u - i, fv = v - j;
    if (fu < 0.05 || fv < 0.05)
        return { 0.22, 0.2, 0.25 };
    const std::uint32_t h = hash(i, j);
    Vec c = hsv((h % 360) / 360.0, 0.55 + (h >> 9) % 30 / 100.0, 0.7 + (h >> 17) % 25 / 100.0);
    const double du = fu * 9 - std::floor(fu * 9) - 0.5, dv = fv * 9 - std::floor(fv * 9) - 0.5;
    if (du * du + dv * dv < 0.06)
        c = mix(c, { 1, 1, 1 }, 0.45);
    return c;
}

Vec floorTexture(double x, double z)
{
    const int i = int(std::floor(x * 1.2 + 100)), j = int(std::floor(z * 1.2));
    const bool light = ((i + j) & 1) != 0;
    Vec c = light ? Vec { 0.86, 0.82, 0.7 } : Vec { 0.2, 0.36, 0.42 };
    // A thin line across each square, so that even a single square has a
    // detail to fuse.
    const double fx = x * 1.2 - std::floor(x * 1.2);
    if (std::fabs(fx - 0.5) < 0.03)
        c = mix(c, { 0.9, 0.45, 0.1 }, 0.6);
    return c;
}

struct Sphere {
    Vec centre;
    double radius;
    Vec a, b; // the two colours of its checks
    int bands; // checks around the equator
};

struct Card {
    Vec centre;
    double halfWidth, halfHeight, yaw; // yaw turns it about the vertical axis
};

struct Box {
    Vec centre;
    Vec half;
    double yaw;
};

const Sphere kSpheres[] = {
    { { -2.1, 0.45, 7.0 }, 1.05, { 1.0, 0.55, 0.05 }, { 0.98, 0.95, 0.85 }, 12 },
    { { 1.55, 1.05, 4.6 }, 0.5, { 0.15, 0.35, 0.95 }, { 1.0, 0.88, 0.1 }, 10 },
    { { 2.2, 2.45, 13.0 }, 0.8, { 0.1, 0.7, 0.25 }, { 0.95, 0.95, 0.95 }, 14 },
};
const Card kCard { { -0.1, 1.55, 6.2 }, 0.85, 0.6, 0.5 };
const Box kBox { { 0.55, kFloorY + 0.7, 10.5 }, { 0.7, 0.7, 0.7 }, 0.6 };

// Rings of the colour circle on the card, a white border around them.
Vec cardTexture(double s, double t)
{
    if (std::fabs(s) > 0.92 || std::fabs(t) > 0.9)
        return { 0.97, 0.97, 0.95 };
    const double r = std::sqrt(s * s + t * t * 2);
    const double angle = std::atan2(t, s) / (2 * std::numbers::pi) + 0.5;
    const int ring = int(r * 7);
    Vec c = hsv(angle + ring * 0.08, 0.8, 0.95);
    if ((ring & 1) != 0)
        c = c * 0.6;
    return c;
}

// Each face its own colour with a white grid on it.
Vec boxTexture(int face, double s, double t)
{
    static const Vec faces[] = { { 0.85, 0.2, 0.7 }, { 0.55, 0.8, 0.15 }, { 0.5, 0.3, 0.85 } };
    const double gs = s * 4 - std::floor(s * 4), gt = t * 4 - std::floor(t * 4);
    if (gs < 0.08 || gt < 0.08)
        return { 0.95, 0.95, 0.95 };
    return faces[face % 3];
}

Vec turned(Vec v, double yaw)
{
    const double c = std::cos(yaw), s = std::sin(yaw);
    return { c * v.x + s * v.z, v.y, -s * v.x + c * v.z };
}

std::optional<Surface> hitSphere(const Sphere& sp, Vec o, Vec d)
{
    const Vec oc = o - sp.centre;
    const double b = dot(oc, d), c = dot(oc, oc) - sp.radius * sp.radius;
    const double disc = b * b - c;
    if (disc < 0)
        return std::nullopt;
    const double t = -b - std::sqrt(disc);
    if (t <= 1e-6)
        return std::nullopt;
    const Vec n = normalized(o + d * t - sp.centre);
    // Checks in longitude and latitude, turned a little so that the poles
    // do not face the camera.
    const Vec m = turned(n, 0.7);
    const double lon = std::atan2(m.z, m.x) / (2 * std::numbers::pi) + 0.5;
    const double lat = std::asin(std::clamp(m.y, -1.0, 1.0)) / std::numbers::pi + 0.5;
    const bool first = ((int(lon * sp.bands) + int(lat * sp.bands / 2)) & 1) != 0;
    return Surface { t, n, first ? sp.a : sp.b, 0.5 };
}

std::optional<Surface> hitCard(const Card& card, Vec o, Vec d)
{
    const Vec n = turned({ 0, 0, -1 }, card.yaw);
    const double dn = dot(d, n);
    if (std::fabs(dn) < 1e-9)
        return std::nullopt;
    const double t = dot(card.centre - o, n) / dn;
    if (t <= 1e-6)
        return std::nullopt;
    const Vec local = turned(o + d * t - card.centre, -card.yaw);
    const double s = local.x / card.halfWidth, tt = local.y / card.halfHeight;
    if (std::fabs(s) > 1 || std::fabs(tt) > 1)
        return std::nullopt;
    return Surface { t, dn < 0 ? n : n * -1, cardTexture(s, tt), 0.1 };
}

std::optional<Surface> hitBox(const Box& box, Vec o, Vec d)
{
    // In the box's own axes it is an axis-aligned slab test.
    const Vec lo = turned(o - box.centre, -box.yaw), ld = turned(d, -box.yaw);
    const double lov[3] = { lo.x, lo.y, lo.z }, ldv[3] = { ld.x, ld.y, ld.z };
    const double half[3] = { box.half.x, box.half.y, box.half.z };
    double tNear = -1e30, tFar = 1e30;
    int axis = 0;
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(ldv[k]) < 1e-12) {
            if (std::fabs(lov[k]) > half[k])
                return std::nullopt;
            continue;
        }
        double t1 = (-half[k] - lov[k]) / ldv[k], t2 = (half[k] - lov[k]) / ldv[k];
        if (t1 > t2)
            std::swap(t1, t2);
        if (t1 > tNear) {
            tNear = t1;
            axis = k;
        }
        tFar = std::min(tFar, t2);
    }
    if (tNear > tFar || tNear <= 1e-6)
        return std::nullopt;
    const Vec p = lo + ld * tNear;
    const double pv[3] = { p.x, p.y, p.z };
    Vec n;
    (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = pv[axis] > 0 ? 1 : -1;
    const int s = (axis + 1) % 3, t = (axis + 2) % 3;
    const Vec colour = boxTexture(axis, (pv[s] / half[s] + 1) / 2, (pv[t] / half[t] + 1) / 2);
    return Surface { tNear, turned(n, box.yaw), colour, 0.2 };
}

std::optional<Surface> nearest(Vec o, Vec d)
{
    std::optional<Surface> best;
    auto keep = [&](std::optional<Surface> s) {
        if (s && (!best || s->t < best->t))
            best = s;
    };
    for (const Sphere& sp : kSpheres)
        keep(hitSphere(sp, o, d));
    keep(hitCard(kCard, o, d));
    keep(hitBox(kBox, o, d));
    if (d.z > 1e-9) {
        const double t = (kWallZ - o.z) / d.z;
        const Vec p = o + d * t;
        if (p.y >= kFloorY)
            keep(Surface { t, { 0, 0, -1 }, wallTexture(p.x, p.y), 0 });
    }
    if (d.y < -1e-9) {
        const double t = (kFloorY - o.y) / d.y;
        const Vec p = o + d * t;
        if (p.z <= kWallZ)
            keep(Surface { t, { 0, 1, 0 }, floorTexture(p.x, p.z), 0 });
    }
    return best;
}

// Light from above, a little from the left and from behind the viewer.
const Vec kLight = normalized({ -0.35, 0.8, -0.5 });

Vec shade(Vec o, Vec d)
{
    const std::optional<Surface> s = nearest(o, d);
    if (!s)
        return { 0, 0, 0 };
    const Vec p = o + d * s->t;
    const double facing = std::max(dot(s->normal, kLight), 0.0);
    const bool lit = facing > 0 && !nearest(p + s->normal * 1e-4, kLight);
    const double diffuse = lit ? facing : 0;
    Vec c = s->colour * (0.45 + 0.6 * diffuse);
    if (lit && s->shine > 0) {
        const Vec r = s->normal * (2 * dot(s->normal, kLight)) - kLight;
        const double highlight = std::pow(std::max(-dot(r, d), 0.0), 40) * s->shine;
        c = c + Vec { highlight, highlight, highlight };
    }
    return c;
}

// One eye's view, eye -1 the left and +1 the right, with 2 x 2 samples a
// pixel.
TBitmap renderEye(int eye)
{
    const double ox = eye * kBaseline / 2;
    // The sensor offset that puts depth kConvergence on the screen.
    const double shift = kFocal * ox / kConvergence;
    TBitmap picture;
    picture.setSize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        std::uint32_t* row = picture.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            Vec sum;
            for (int sy = 0; sy < 2; ++sy)
                for (int sx = 0; sx < 2; ++sx) {
                    const double ix = x + 0.25 + 0.5 * sx - kWidth / 2.0;
                    const double iy = kHeight / 2.0 - (y + 0.25 + 0.5 * sy);
                    const Vec d = normalized({ (ix - shift) / kFocal, iy / kFocal, 1 });
                    sum = sum + shade({ ox, 0, 0 }, d);
                }
            auto channel = [](double v) { return std::uint32_t(std::clamp(v / 4, 0.0, 1.0) * 255 + 0.5); };
            row[x] = 0xFF000000u | channel(sum.x) << 16 | channel(sum.y) << 8 | channel(sum.z);
        }
    }
    return picture;
}

// ---------------------------------------------------------------------------

// Runs the event loop for a while, timers included.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        runFor(20);
    }
    return true;
}

bool writeBytes(const QString& name, const std::vector<std::uint8_t>& bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly)
        && f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

QImage imageOf(const TBitmap& picture) { return imageViewOf(picture).copy(); }

QString captionOf(TForm1& form, const CaptionRow& row)
{
    if (row.kind == CaptionKind::Title)
        return form.windowTitle();
    QObject* control = form.findChild<QObject*>(QLatin1String(row.control));
    if (!control)
        return QStringLiteral("<no control>");
    switch (row.kind) {
    case CaptionKind::GroupBox: return static_cast<QGroupBox*>(control)->title();
    case CaptionKind::Button: return static_cast<QAbstractButton*>(control)->text();
    case CaptionKind::Label:
    case CaptionKind::FixedLabel: return static_cast<QLabel*>(control)->text();
    case CaptionKind::Panel: return static_cast<TPanel*>(control)->caption();
    case CaptionKind::Page:
        return form.PageControl1->tabText(form.PageControl1->indexOf(static_cast<QWidget*>(control)));
    case CaptionKind::Title: break;
    }
    return QString();
}

// Where a control's caption is drawn, in its parent's coordinates, and the
// width it needs against the width it has. Null when the control shows no
// caption this way.
struct CaptionPlace {
    QRect drawn;
    int needs = 0;
    int has = 0;
};

std::optional<CaptionPlace> placeOf(QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->text().isEmpty()) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.icon = button->icon();
        opt.iconSize = button->iconSize();
        const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        const QStyle::SubElement element = check ? QStyle::SE_CheckBoxContents
            : radio                              ? QStyle::SE_RadioButtonContents
                                                 : QStyle::SE_PushButtonContents;
        const QRect contents = w->style()->subElementRect(element, &opt, w);
        int needs = fm.horizontalAdvance(button->text());
        if (!check && !radio && !button->icon().isNull())
            needs += button->iconSize().width() + 4;
        const int textWidth = std::min(needs, contents.width());
        QRect drawn(contents.left(), contents.top(), textWidth, contents.height());
        if (!check && !radio)
            drawn.moveLeft(contents.center().x() - textWidth / 2);
        return CaptionPlace { drawn.translated(w->pos()), needs, contents.width() };
    }
    if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
        const QRect text = fm.boundingRect(QRect(QPoint(0, 0), label->size()),
            int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0), label->text());
        const int needs = label->wordWrap() ? text.height() : fm.horizontalAdvance(label->text());
        const int has = label->wordWrap() ? label->height() : label->width();
        return CaptionPlace { text.translated(w->pos()), needs, has };
    }
    if (auto* box = qobject_cast<QGroupBox*>(w); box && !box->title().isEmpty()) {
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect label = w->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, w);
        return CaptionPlace { label.translated(w->pos()), fm.horizontalAdvance(box->title()), box->width() - 8 };
    }
    return std::nullopt;
}

// Prints every caption that is cut short or runs into another control shown
// on the same parent.
void checkFit(TForm1& form, const QString& language)
{
    QList<QWidget*> controls = form.findChildren<QWidget*>();
    for (QWidget* w : controls) {
        if (!w->isVisibleTo(&form) || w->objectName().isEmpty())
            continue;
        const std::optional<CaptionPlace> place = placeOf(w);
        if (!place)
            continue;
        if (place->needs > place->has)
            std::printf("fit: %s %s: caption needs %d px, has %d\n", qPrintable(language), qPrintable(w->objectName()),
                place->needs, place->has);
        const auto* group = qobject_cast<QGroupBox*>(w);
        for (QObject* o : w->parentWidget()->children()) {
            auto* other = qobject_cast<QWidget*>(o);
            if (!other || other == w || !other->isVisibleTo(&form) || other->isWindow())
                continue;
            // Copies of one caption laid over each other a pixel apart draw
            // an outline on purpose.
            if (auto* twin = qobject_cast<QLabel*>(other); twin && qobject_cast<QLabel*>(w)
                && twin->text() == static_cast<QLabel*>(w)->text())
                continue;
            // A group box's caption is checked against its own controls.
            const QRect otherRect = group ? QRect() : other->geometry();
            const QRect overlap = place->drawn & otherRect;
            if (overlap.width() > 1 && overlap.height() > 1)
                std::printf("fit: %s %s: caption runs %dx%d px into %s\n", qPrintable(language),
                    qPrintable(w->objectName()), overlap.width(), overlap.height(), qPrintable(other->objectName()));
        }
        if (group) {
            const QRect title = place->drawn.translated(-w->pos());
            for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const QRect overlap = title & child->geometry();
                if (child->isVisibleTo(&form) && overlap.width() > 1 && overlap.height() > 1)
                    std::printf("fit: %s %s: title runs %dx%d px into %s\n", qPrintable(language),
                        qPrintable(w->objectName()), overlap.width(), overlap.height(),
                        qPrintable(child->objectName()));
            }
        }
    }
    QTabBar* tabs = form.PageControl1->tabBar();
    const int tabsNeed = tabs->tabRect(tabs->count() - 1).right() + 1;
    if (tabsNeed > form.PageControl1->width())
        std::printf("fit: %s PageControl1: tabs need %d px, have %d\n", qPrintable(language), tabsNeed,
            form.PageControl1->width());
}

// Chooses a language in the drop-down from the keyboard, as a user would,
// so that the window's own switch runs.
bool chooseLanguage(TForm1& form, int index)
{
    QComboBox* box = form.ComboBox1;
    while (box->currentIndex() != index) {
        const int before = box->currentIndex();
        const int key = before < index ? Qt::Key_Down : Qt::Key_Up;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &press);
        QCoreApplication::sendEvent(box, &release);
        if (box->currentIndex() == before)
            return false;
    }
    return true;
}

struct Page {
    const char* name;
    QWidget* TForm1::*page;
};

const Page kPages[] = {
    { "frame1", &TForm1::TabSheet2 },
    { "frame2", &TForm1::TabSheet1 },
    { "anaglyph", &TForm1::TabSheet3 },
    { "webcam", &TForm1::TabSheet5 },
    { "about", &TForm1::TabSheet4 },
};

bool previewShowsFrame(QWidget* panel)
{
    for (CaptureWindow* window : panel->findChildren<CaptureWindow*>())
        if (window->frame() && !window->frame()->empty())
            return true;
    return false;
}

int run(const QString& outDir, ScriptedPlatform& platform)
{
    int failures = 0;
    const auto fail = [&failures](const QString& what) {
        std::fprintf(stderr, "orvanta-screenshots: %s\n", qPrintable(what));
        ++failures;
    };

    QTemporaryDir work;
    if (!work.isValid() || !QDir().mkpath(outDir)) {
        fail(QStringLiteral("cannot make the folders"));
        return 1;
    }

    // The pair, through the program's own encoder.
    const QString left = work.filePath(QStringLiteral("left.jpg"));
    const QString right = work.filePath(QStringLiteral("right.jpg"));
    for (auto [eye, name, copy] : { std::tuple { -1, left, QStringLiteral("stereo-left.jpg") },
             std::tuple { 1, right, QStringLiteral("stereo-right.jpg") } }) {
        const std::vector<std::uint8_t> jpeg = encodeJpeg(renderEye(eye));
        if (!writeBytes(name, jpeg) || !writeBytes(QDir(outDir).filePath(copy), jpeg)) {
            fail(QStringLiteral("cannot write ") + name);
            return 1;
        }
    }

    TForm1 form(platform);
    form.show();
    runFor(100);
    if (!form.grab().save(QDir(outDir).filePath(QStringLiteral("start.png"))))
        fail(QStringLiteral("cannot write start.png"));

    platform.answer(left);
    platform.answer(right);
    form.BitBtn1->click();
    form.BitBtn2->click();
    for (const TImage* view : { form.Image2, form.Image1 })
        if (view->picture().width() != kWidth || view->picture().height() != kHeight)
            fail(view->objectName() + QStringLiteral(" did not open its frame"));

    form.Button3->click();
    if (!waitUntil([&] { return form.GroupBox1->isEnabled() && !form.Building(); }, 60000))
        fail(QStringLiteral("the build did not finish within a minute"));
    const TBitmap& anaglyph = form.Image3->picture();
    if (anaglyph.width() != kWidth || anaglyph.height() != kHeight)
        fail(QStringLiteral("the anaglyph is %1x%2").arg(anaglyph.width()).arg(anaglyph.height()));
    if (!imageOf(anaglyph).save(QDir(outDir).filePath(QStringLiteral("anaglyph-picture.png"))))
        fail(QStringLiteral("cannot write anaglyph-picture.png"));

    // Both webcam channels connected and streaming, crosshairs on.
    form.PageControl1->setCurrentWidget(form.TabSheet5);
    runFor(50);
    form.Button2->click();
    form.RadioButton2->click();
    form.Button8->click();
    form.Button1x->click();
    form.Button7->click();
    form.CheckBox2->click();
    form.CheckBox3->click();
    if (!waitUntil([&] { return previewShowsFrame(form.Panel6) && previewShowsFrame(form.Panel12); }, 5000))
        fail(QStringLiteral("the previews show no camera picture"));

    for (int language : { 0, 1 }) {
        const QString tag = language == 0 ? QStringLiteral("ru") : QStringLiteral("en");
        if (!chooseLanguage(form, language))
            fail(QStringLiteral("the drop-down did not take language %1").arg(language));
        runFor(50);
        for (const CaptionRow& row : switchableCaptions()) {
            const QString shown = captionOf(form, row);
            if (shown != captionIn(row, language) && !(language == 0 && shown == startCaption(row)))
                fail(QStringLiteral("%1 reads \"%2\" in %3").arg(QLatin1String(row.control), shown, tag));
        }
        for (const Page& page : kPages) {
            form.PageControl1->setCurrentWidget(form.*page.page);
            // Lets a stream tick repaint the previews.
            runFor(page.page == &TForm1::TabSheet5 ? 600 : 50);
            checkFit(form, tag + QLatin1Char(' ') + QLatin1String(page.name));
            const QString file = QDir(outDir).filePath(QStringLiteral("%1-%2.png").arg(QLatin1String(page.name), tag));
            if (!form.grab().save(file))
                fail(QStringLiteral("cannot write ") + file);
        }
    }

    for (const ShownBox& box : platform.shown)
        fail(QStringLiteral("the window showed a box: ") + box.title + QStringLiteral(": ") + box.text);
    form.Button1x->click();
    form.Button7->click();
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argc > 0 ? argv[0] : "orvanta-screenshots");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    // The window is drawn off screen: no display is needed, and the pictures
    // do not depend on one.
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    char* qtArgv[] = { argv[0], platformOption, offscreen, nullptr };
    int qtArgc = 3;
    // The desktop as the tool plays it: file dialogs answered from a queue,
    // boxes recorded, and a camera of its own for each channel.
    OrvantaApplication app(qtArgc, qtArgv);
    ScriptedPlatform platform;
    giveEachChannelItsCamera(platform.cameras);
    app.reportErrorsThrough(&platform);
    return run(outDir, platform);
}
