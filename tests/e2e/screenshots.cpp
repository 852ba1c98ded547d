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
#include "stereo_scene.h"

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
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int kWidth = kStereoSceneWidth;
constexpr int kHeight = kStereoSceneHeight;

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
        const std::vector<std::uint8_t> jpeg = encodeJpeg(renderStereoEye(eye));
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
