// The webcam page through the window, with synthetic cameras behind the
// capture operations: connecting, streaming, grabbing through the clipboard,
// the two modes, the crosshairs and the centring.
#include "app/form.h"
#include "app/widgets.h"
#include "widgets/capture/camera_backend.h"
#include "widgets/capture/camera_dialogs.h"
#include "widgets/capture/capture_window.h"
#include "camera/v4l2_camera.h"
#include "widgets/bitmap_image.h"
#include "fake_v4l2.h"
#include "camera/synthetic_camera.h"
#include "widgets/capture/timer.h"
#include "fixtures.h"
#include "gui_test.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTimer>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>

#include <thread>
#include <utility>

namespace {

// The window with its webcam page in front.
struct Window : ShownWindow {
    Window() { form.PageControl1->setCurrentWidget(form.TabSheet5); }
    SyntheticBackend& cameras = testPlatform().cameras;
    SyntheticSwitches& switches = testPlatform().cameras.switches();
};

// The capture windows a preview panel holds, oldest first.
QList<CaptureWindow*> windowsIn(QWidget* panel)
{
    return panel->findChildren<CaptureWindow*>(Qt::FindDirectChildrenOnly);
}

QList<QWidget*> enabledOf(const QList<QWidget*>& controls)
{
    QList<QWidget*> on;
    for (QWidget* w : controls)
        if (w->isEnabled())
            on.append(w);
    return on;
}

// What camera `index` shows as frame `frame` at that size.
TBitmap syntheticFrame(FrameSize size, int index, long frame)
{
    TBitmap b;
    drawSyntheticFrame(b, size, index, frame, 0);
    return b;
}

QImage imageOf(const TBitmap& b) { return imageViewOf(b).copy(); }

// Runs `act` on the next modal dialog once it is open, as a user would.
void whenDialogOpens(std::function<void(QDialog*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            poll->stop();
            act(dialog);
        }
    });
    poll->start(20);
}

// Ticks channel 1 or 2 until its newest window shows a frame of that size.
bool tickUntilFrame(TForm1& form, int channel, QSize size)
{
    QWidget* panel = channel == 1 ? form.Panel6 : form.Panel12;
    for (int i = 0; i < 500; ++i) {
        channel == 1 ? form.Timer1Timer(nullptr) : form.Timer2Timer(nullptr);
        const QList<CaptureWindow*> windows = windowsIn(panel);
        const auto& frame = windows.isEmpty() ? nullptr : windows.last()->frame();
        if (frame && frame->width() == size.width() && frame->height() == size.height())
            return true;
        QTest::qWait(10);
    }
    return false;
}

} // namespace

class TestCapture : public QObject {
    Q_OBJECT
private slots:
    void pageAsLaidOut()
    {
        Window w;
        TForm1& f = w.form;
        const struct {
            QWidget* control;
            QRect rect;
            bool enabled;
        } expected[] = {
            { f.ScrollBox4, { 8, 32, 415, 293 }, true }, { f.ScrollBox5, { 424, 32, 414, 293 }, true },
            { f.Button2, { 264, 328, 75, 27 }, true }, { f.Button4x, { 344, 328, 75, 27 }, false },
            { f.Button8, { 684, 328, 75, 27 }, false }, { f.Button9, { 764, 328, 75, 27 }, false },
            { f.Button1s, { 40, 4, 75, 25 }, false }, { f.Button1f, { 301, 3, 75, 25 }, false },
            { f.Button2s, { 474, 3, 75, 25 }, false }, { f.Button2f, { 735, 2, 75, 25 }, false },
            { f.Button1x, { 8, 328, 75, 27 }, false }, { f.Panel5, { 88, 328, 25, 25 }, true },
            { f.Button7, { 428, 328, 75, 27 }, false }, { f.Panel11, { 512, 328, 25, 25 }, true },
            { f.Button10, { 8, 360, 97, 27 }, true }, { f.Button11, { 112, 360, 97, 27 }, true },
            { f.Button14, { 360, 360, 129, 25 }, false }, { f.Button13, { 636, 360, 97, 27 }, false },
            { f.Button12, { 740, 360, 97, 27 }, false }, { f.RadioButton1, { 120, 8, 185, 17 }, true },
            { f.RadioButton2, { 549, 8, 185, 17 }, true }, { f.Button1z, { 378, 3, 95, 25 }, true },
            { f.Panel13, { 8, 4, 25, 25 }, true }, { f.Panel14, { 811, 4, 25, 25 }, true },
            { f.CheckBox2, { 128, 331, 57, 17 }, true }, { f.CheckBox3, { 544, 331, 57, 17 }, true },
        };
        QCOMPARE(f.TabSheet5->size(), QSize(846, 393));
        for (const auto& e : expected) {
            QCOMPARE(e.control->parentWidget(), f.TabSheet5);
            QVERIFY2(e.control->geometry() == e.rect, qPrintable(e.control->objectName()));
            QVERIFY2(e.control->isEnabled() == e.enabled, qPrintable(e.control->objectName()));
        }
        QCOMPARE(f.Panel6->size(), QSize(800, 600));
        QCOMPARE(f.Panel12->size(), QSize(800, 600));
        QCOMPARE(f.Panel5->color(), TColor(0xFF));
        QCOMPARE(f.Panel11->color(), TColor(0xFF));
        QCOMPARE(f.Panel13->color(), TColor(0xFF));
        QCOMPARE(f.Panel14->color(), TColor(0xFFFF00));
        QVERIFY(f.RadioButton1->isChecked());
        QVERIFY(!f.CheckBox2->isChecked() && !f.CheckBox3->isChecked());
        for (TPanel* line : { f.Panel7, f.Panel8, f.Panel9, f.Panel10 }) {
            QVERIFY(line->isHidden());
            QCOMPARE(line->color(), TColor(0xFF));
        }
        QVERIFY(f.Button14->font().bold());
        QVERIFY(!f.Button10->font().bold());
        QVERIFY(!f.Timer1->enabled() && !f.Timer2->enabled());
        QCOMPARE(f.Timer1->interval(), 500);
        QCOMPARE(f.Timer2->interval(), 500);
        // The crosshair lines lie above the preview boxes.
        const QObjectList& stack = f.TabSheet5->children();
        QVERIFY(stack.indexOf(f.Panel9) > stack.indexOf(f.ScrollBox4));
        QVERIFY(stack.indexOf(f.Panel10) > stack.indexOf(f.ScrollBox5));
    }

    void keyboardVisitsThePageInItsOrder()
    {
        Window w;
        TForm1& f = w.form;
        // Everything that can take the focus once channel 2 is in use.
        f.RadioButton2->click();
        f.Button8->click();
        const QList<QWidget*> order = { f.RadioButton2, f.ScrollBox4, f.ScrollBox5, f.Button1x, f.Button2,
            f.Button4x, f.Button7, f.Button8, f.Button9, f.Button10, f.Button11, f.Button12, f.Button13, f.Button14,
            f.CheckBox2, f.CheckBox3, f.Button1z, f.Button1s, f.Button1f, f.Button2s, f.Button2f };
        for (qsizetype i = 1; i < order.size(); ++i)
            QVERIFY2(order[i - 1]->nextInFocusChain() == order[i] || [&] {
                // Qt's chain may hold widgets that take no focus in between.
                QWidget* next = order[i - 1]->nextInFocusChain();
                while (next && next != order[i] && !(next->focusPolicy() & Qt::TabFocus))
                    next = next->nextInFocusChain();
                return next == order[i];
            }(),
                qPrintable(order[i - 1]->objectName() + " then " + order[i]->objectName()));
    }

    void connectWithoutACamera()
    {
        Window w;
        TForm1& f = w.form;
        w.switches.cameras = 0;
        f.Button2->click();
        QVERIFY(w.platform.shown.empty());
        QCOMPARE(enabledOf({ f.Button1s, f.Button1f, f.Button4x, f.Button1x }).size(), 4);
        // Nothing was read into the buffer, which is all zeros.
        QCOMPARE(f.Panel6->size(), QSize(0, 0));
        QCOMPARE(windowsIn(f.Panel6).size(), 1);
        QVERIFY(!windowsIn(f.Panel6)[0]->camera());
    }

    // Channel 1's window takes the panel's size at that moment: 0 x 0 after a
    // connect that read nothing, then what the last connect read. Channel 2's
    // are always 800 x 600.
    void repeatedConnectsMakeWindowsOfThePanelsSize()
    {
        Window w;
        TForm1& f = w.form;
        w.switches.cameras = 0;
        f.Button2->click();
        QCOMPARE(windowsIn(f.Panel6).last()->size(), QSize(800, 600));
        QCOMPARE(f.Panel6->size(), QSize(0, 0));

        w.switches.cameras = 1;
        f.Button2->click();
        QCOMPARE(windowsIn(f.Panel6).last()->size(), QSize(0, 0));
        QCOMPARE(f.Panel6->size(), QSize(640, 480));

        w.switches.size = { 320, 240 };
        f.Button2->click();
        QCOMPARE(windowsIn(f.Panel6).last()->size(), QSize(640, 480));
        QCOMPARE(f.Panel6->size(), QSize(320, 240));
        // The older windows stay in the panel, the second still attached.
        const QList<CaptureWindow*> windows = windowsIn(f.Panel6);
        QCOMPARE(windows.size(), 3);
        QVERIFY(!windows[0]->camera());
        QVERIFY(windows[1]->camera());
        // Each connect showed the source dialog of its new window.
        QCOMPARE(w.cameras.sourceDialogs, 2);

        f.RadioButton2->click();
        f.Panel12->resize(100, 100);
        f.Button8->click();
        f.Button8->click();
        for (CaptureWindow* window : windowsIn(f.Panel12))
            QCOMPARE(window->size(), QSize(800, 600));
        QCOMPARE(windowsIn(f.Panel12).size(), 2);
        // Both channels reach driver 0, the same camera.
        QCOMPARE(windowsIn(f.Panel12).last()->camera(), windows[2]->camera());
    }

    // A connect that fails anywhere shows nothing and still enables the
    // channel's buttons and reads the format.
    void failedConnects_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("no window") << "window";
        QTest::newRow("camera busy") << "open";
        QTest::newRow("source dialog fails") << "dialog";
    }
    void failedConnects()
    {
        QFETCH(QString, failure);
        Window w;
        TForm1& f = w.form;
        w.cameras.refuseWindows = failure == "window";
        w.switches.failOpen = failure == "open";
        if (failure == "dialog")
            w.cameras.sourceDialog = [](CaptureWindow&) { throw CaptureError("The dialog failed"); };
        f.RadioButton2->click();
        f.Button8->click();
        QVERIFY(w.platform.shown.empty());
        QCOMPARE(enabledOf({ f.Button2s, f.Button2f, f.Button7, f.Button9 }).size(), 4);
        QVERIFY(f.Cam2Connected);
        // The dialog came after the camera was attached, so its format is read.
        QCOMPARE(f.Panel12->size(), failure == "dialog" ? QSize(640, 480) : QSize(0, 0));
        QCOMPARE(windowsIn(f.Panel12).size(), failure == "window" ? 0 : 1);
        // Back to one camera and to two again: the flag brings channel 2's
        // buttons back.
        f.RadioButton1->click();
        QCOMPARE(enabledOf({ f.Button2s, f.Button2f, f.Button7, f.Button9 }).size(), 0);
        f.RadioButton2->click();
        QCOMPARE(enabledOf({ f.Button2s, f.Button2f, f.Button7, f.Button9 }).size(), 4);
        // Requests to a channel without a window do nothing.
        f.Timer2Timer(nullptr);
        f.Button9->click();
        QVERIFY(w.platform.shown.empty());
    }

    void modes()
    {
        Window w;
        TForm1& f = w.form;
        const QList<QWidget*> channel2 = { f.Button7, f.Button8, f.Button9, f.Button12, f.Button13, f.Button14,
            f.Button2s, f.Button2f };
        const QList<QWidget*> channel1 = { f.Button2, f.Button10, f.Button11 };
        QCOMPARE(enabledOf(channel2).size(), 0);
        // Two cameras before channel 2 was ever connected: connect and the
        // grabs only.
        f.RadioButton2->click();
        QCOMPARE(enabledOf(channel2), (QList<QWidget*> { f.Button8, f.Button12, f.Button13, f.Button14 }));
        QCOMPARE(enabledOf(channel1), channel1);
        // A click on the mode already chosen runs nothing.
        f.Button12->setEnabled(false);
        f.RadioButton2->click();
        QVERIFY(!f.Button12->isEnabled());
        f.Button8->click();
        f.Button9->click(); // disconnected: the buttons come back all the same
        // One camera while channel 2 streams: its stream goes on, only its
        // switch is out of reach.
        f.Button7->click();
        f.RadioButton1->click();
        QCOMPARE(enabledOf(channel2).size(), 0);
        QVERIFY(f.Timer2->enabled());
        QCOMPARE(f.Panel11->color(), TColor(0x8000));
        QCOMPARE(enabledOf(channel1), channel1);
        f.RadioButton2->click();
        QCOMPARE(enabledOf(channel2), channel2);
    }

    void streamSwitchAndTicks()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        CaptureWindow* window = windowsIn(f.Panel6).last();
        QVERIFY(!window->frame());
        const long before = w.cameras.synthetic().framesFetched();
        f.Button1x->click();
        QVERIFY(f.Timer1->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0x8000));
        // The first tick comes a whole period after the press.
        QTest::qWait(250);
        QCOMPARE(w.cameras.synthetic().framesFetched(), before);
        QTRY_VERIFY_WITH_TIMEOUT(window->frame() != nullptr, 3000);
        const long first = w.cameras.synthetic().framesFetched();
        QTRY_VERIFY_WITH_TIMEOUT(w.cameras.synthetic().framesFetched() > first, 3000);
        f.Button1x->click();
        QVERIFY(!f.Timer1->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0xFF));
        const long stopped = w.cameras.synthetic().framesFetched();
        QTest::qWait(700);
        QCOMPARE(w.cameras.synthetic().framesFetched(), stopped);
    }

    // A tick reads the format, sizes the panel and fetches one frame, which
    // the window shows at its own size from its corner.
    void tickFollowsTheFormatAndShowsTheFrame()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        CaptureWindow* window = windowsIn(f.Panel6).last();
        w.switches.size = { 320, 240 };
        f.Timer1Timer(nullptr);
        QCOMPARE(f.Panel6->size(), QSize(320, 240));
        QVERIFY(window->frame());
        QCOMPARE(window->frame()->width(), 320);
        // The window was made 800 x 600: the frame fills its corner unscaled.
        QCOMPARE(window->size(), QSize(800, 600));
        const QImage shown = window->grab(QRect(0, 0, 320, 240)).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown, imageOf(syntheticFrame({ 320, 240 }, 0, 0)));

        // Disconnected: the stream goes on, its ticks read no new format and
        // fetch nothing.
        f.Button1x->click();
        f.Button4x->click();
        QVERIFY(f.Button4x->isEnabled() && f.Button1x->isEnabled() && f.Button1s->isEnabled());
        QVERIFY(f.Timer1->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0x8000));
        f.Button1x->click();
        w.switches.size = { 1280, 720 };
        const long fetched = w.cameras.synthetic().framesFetched();
        f.Timer1Timer(nullptr);
        QCOMPARE(f.Panel6->size(), QSize(320, 240));
        QCOMPARE(w.cameras.synthetic().framesFetched(), fetched);
    }

    void formatDialogReachesThePanelAtTheNextTick()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        w.cameras.formatDialog = [](CaptureWindow& window) { window.camera()->setMode({ 1280, 720 }, {}); };
        f.Button1f->click();
        QCOMPARE(w.cameras.formatDialogs, 1);
        QCOMPARE(f.Panel6->size(), QSize(640, 480));
        f.Timer1Timer(nullptr);
        QCOMPARE(f.Panel6->size(), QSize(1280, 720));
        // A dialog that fails shows nothing.
        w.cameras.formatDialog = [](CaptureWindow&) { throw CaptureError("The dialog failed"); };
        w.cameras.sourceDialog = w.cameras.formatDialog;
        f.Button1f->click();
        f.Button1s->click();
        QVERIFY(w.platform.shown.empty());
    }

    // Ticks go on while a dialog of either channel is open.
    void ticksGoOnDuringADialog()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        f.Button1x->click();
        long during = -1;
        w.cameras.sourceDialog = [&](CaptureWindow&) {
            const long before = w.cameras.synthetic().framesFetched();
            QTRY_VERIFY_WITH_TIMEOUT(w.cameras.synthetic().framesFetched() > before, 3000);
            during = w.cameras.synthetic().framesFetched() - before;
        };
        f.Button1s->click();
        QVERIFY(during > 0);
    }

    // A camera that is unplugged while it streams is told once: its stream
    // stops as if its button had been pressed. Pressing it again tries
    // again and tells once more; once the camera is back the stream goes on.
    void aLostCameraIsToldOnce()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        f.Button1x->click();
        QTRY_VERIFY_WITH_TIMEOUT(windowsIn(f.Panel6).last()->frame() != nullptr, 3000);
        w.switches.unplugged = true;
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(1), 3000);
        QCOMPARE(w.platform.shown[0].text,
            QStringLiteral("Camera \"Synthetic camera 1\" stopped working: No such device."));
        QVERIFY(!f.Timer1->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0xFF));
        // Three periods later: no box, and the camera is not asked again.
        const long fetched = w.cameras.synthetic().framesFetched();
        QTest::qWait(1600);
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
        QCOMPARE(w.cameras.synthetic().framesFetched(), fetched);

        // Still gone: one more box at the first tick, and the stream is off.
        f.Button1x->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(2), 3000);
        QVERIFY(!f.Timer1->enabled());
        QTest::qWait(1100);
        QCOMPARE(w.platform.shown.size(), std::size_t(2));

        // Back: the stream goes on, with no box.
        w.switches.unplugged = false;
        f.Button1x->click();
        const long back = w.cameras.synthetic().framesFetched();
        QTRY_VERIFY_WITH_TIMEOUT(w.cameras.synthetic().framesFetched() > back + 1, 3000);
        QVERIFY(f.Timer1->enabled());
        QCOMPARE(w.platform.shown.size(), std::size_t(2));
        f.Button1x->click();
    }

    // Both channels on one camera, both streaming: each tells the loss once
    // and stops; the box of one does not hide the other's.
    void aSharedCameraLostIsToldOncePerChannel()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        f.RadioButton2->click();
        f.Button8->click();
        QCOMPARE(windowsIn(f.Panel12).last()->camera(), windowsIn(f.Panel6).last()->camera());
        f.Button1x->click();
        f.Button7->click();
        QTRY_VERIFY_WITH_TIMEOUT(windowsIn(f.Panel12).last()->frame() != nullptr, 3000);
        w.switches.unplugged = true;
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(2), 3000);
        QVERIFY(!f.Timer1->enabled() && !f.Timer2->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0xFF));
        QCOMPARE(f.Panel11->color(), TColor(0xFF));
        QTest::qWait(1100);
        QCOMPARE(w.platform.shown.size(), std::size_t(2));
    }

    // Unplugged while the camera's source dialog is open: the loss is told
    // once while the dialog is open, and the stream is off when it closes.
    void aCameraLostDuringADialogIsToldOnce()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        f.Button1x->click();
        std::size_t boxesInDialog = 0;
        w.cameras.sourceDialog = [&](CaptureWindow&) {
            w.switches.unplugged = true;
            QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(1), 3000);
            QTest::qWait(1100);
            boxesInDialog = w.platform.shown.size();
        };
        f.Button1s->click();
        QCOMPARE(boxesInDialog, std::size_t(1));
        QVERIFY(!f.Timer1->enabled());
        QTest::qWait(700);
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
    }

    // A camera that fails in another way (a bad frame, a refused request)
    // may recover: one box at a time, and the next tick after it is closed
    // tries again.
    void failingTicksShowOneBoxAtATime()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        w.switches.failFetch = true;
        int fetchesWhileOpen = -1;
        bool waited = false;
        w.platform.whileBoxIsOpen = [&] {
            // Only the first box stays open a while.
            if (std::exchange(waited, true))
                return;
            // Three periods pass with the box open, and a tick falls due
            // however the toolkit delivers it.
            const long before = w.cameras.synthetic().framesFetched();
            QTest::qWait(1600);
            emit f.Timer1->timeout();
            fetchesWhileOpen = int(w.cameras.synthetic().framesFetched() - before);
        };
        f.Button1x->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(1), 3000);
        QCOMPARE(w.platform.shown[0].title, QStringLiteral("Orvanta"));
        QCOMPARE(w.platform.shown[0].text,
            QStringLiteral("Camera \"Synthetic camera 1\" stopped working: Input/output error."));
        QCOMPARE(fetchesWhileOpen, 0);
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
        QVERIFY(f.Timer1->enabled());
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(2), 3000);
        f.Button1x->click();
    }

    void notEnoughTimers()
    {
        // A thread without an event loop has no timers to give.
        std::string message;
        bool enabledAfter = false;
        std::thread([&] {
            TTimer timer;
            try {
                timer.setEnabled(true);
            } catch (const std::exception& e) {
                message = e.what();
            }
            enabledAfter = timer.enabled();
        }).join();
        QCOMPARE(message, std::string("Not enough timers available"));
        QVERIFY(enabledAfter);
    }

    void grabsThroughTheClipboard()
    {
        Window w;
        TForm1& f = w.form;
        f.Button2->click();
        f.Timer1Timer(nullptr);
        const QImage frame = imageOf(syntheticFrame({ 640, 480 }, 0, 0));
        f.Button10->click();
        QVERIFY(w.platform.shown.empty());
        // The frame went by the clipboard, where it stays for other programs.
        QCOMPARE(w.platform.clipboard, frame);
        QCOMPARE(imageOf(f.Image2->picture()), frame);
        QCOMPARE(f.Image2->size(), QSize(640, 480));
        // The page in front and the anaglyph stay as they were.
        QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet5);
        QVERIFY(f.Image3->picture().empty());
        // With the stream off, grabs give the frame last fetched.
        f.Button11->click();
        QCOMPARE(imageOf(f.Image1->picture()), frame);
        f.Timer1Timer(nullptr);
        f.Button11->click();
        QCOMPARE(imageOf(f.Image1->picture()), imageOf(syntheticFrame({ 640, 480 }, 0, 1)));
    }

    void grabFromAChannelNeverConnected()
    {
        Window w;
        TForm1& f = w.form;
        // Whatever the clipboard holds, copied in another program, is taken.
        QImage copied(30, 20, QImage::Format_Indexed8);
        copied.setColorTable({ qRgb(10, 20, 30), qRgb(200, 100, 50) });
        copied.fill(1);
        w.platform.clipboard = copied;
        f.Button10->click();
        QVERIFY(w.platform.shown.empty());
        QCOMPARE(f.Image2->picture().width(), 30);
        QCOMPARE(f.Image2->picture().pixel(5, 5), RGB(200, 100, 50));
        QCOMPARE(w.platform.clipboardWrites, 0);

        // An empty clipboard: the frame keeps its picture.
        w.platform.clipboard = QImage();
        f.Button10->click();
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
        QCOMPARE(w.platform.shown[0].text, QStringLiteral("Unsupported clipboard format."));
        QCOMPARE(f.Image2->picture().width(), 30);

        w.platform.clipboard = copied;
        w.platform.clipboardBusy = true;
        f.Button11->click();
        QCOMPARE(w.platform.shown.size(), std::size_t(2));
        QCOMPARE(w.platform.shown[1].text, QStringLiteral("Cannot open clipboard."));
        QVERIFY(f.Image1->picture().empty());
    }

    void grabBoth()
    {
        Window w;
        TForm1& f = w.form;
        f.RadioButton2->click();
        f.Button2->click();
        f.Timer1Timer(nullptr);
        // Channel 2 never connected: frame 2 gets channel 1's frame again,
        // still on the clipboard.
        f.Button14->click();
        QVERIFY(w.platform.shown.empty());
        const QImage frame = imageOf(syntheticFrame({ 640, 480 }, 0, 0));
        QCOMPARE(imageOf(f.Image2->picture()), frame);
        QCOMPARE(imageOf(f.Image1->picture()), frame);

        // Two cameras: each frame from its own.
        w.switches.cameras = 2;
        w.cameras.sourceDialog = [&](CaptureWindow& window) {
            window.attach(w.cameras.synthetic().open("synthetic:1"));
        };
        f.Button8->click();
        f.Timer2Timer(nullptr);
        f.Button14->click();
        QCOMPARE(imageOf(f.Image1->picture()), imageOf(syntheticFrame({ 640, 480 }, 1, 0)));

        // A first grab that fails ends the command before channel 2's.
        f.Image1->setPicture(TBitmap());
        w.platform.clipboardBusy = true;
        f.Button14->click();
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
        QVERIFY(f.Image1->picture().empty());
    }

    void crosshairs()
    {
        Window w;
        TForm1& f = w.form;
        QCOMPARE(f.Panel9->geometry(), QRect(8, 178, 415, 3));
        QCOMPARE(f.Panel7->geometry(), QRect(215, 32, 3, 293));
        QCOMPARE(f.Panel8->geometry(), QRect(424, 178, 414, 3));
        QCOMPARE(f.Panel10->geometry(), QRect(631, 32, 3, 293));

        f.CheckBox3->click();
        QVERIFY(f.Panel8->isVisible() && f.Panel10->isVisible());
        QVERIFY(f.Panel7->isHidden() && f.Panel9->isHidden());
        f.CheckBox3->click();
        QVERIFY(f.Panel8->isHidden() && f.Panel10->isHidden());
        f.CheckBox2->click();
        QVERIFY(f.Panel7->isVisible() && f.Panel9->isVisible());

        f.resize(f.width() + 100, f.height());
        QCOMPARE(f.ScrollBox5->width(), 514);
        QCOMPARE(f.Panel8->geometry(), QRect(424, 178, 514, 3));
        QCOMPARE(f.Panel10->geometry(), QRect(681, 32, 3, 293));
        QCOMPARE(f.Panel9->geometry(), QRect(8, 178, 415, 3));
        QCOMPARE(f.Panel7->geometry(), QRect(215, 32, 3, 293));

        // A taller window while another page is in front moves the lines as
        // well; bringing the page back does not move them again.
        f.PageControl1->setCurrentWidget(f.TabSheet4);
        f.resize(f.width(), f.height() + 40);
        QCOMPARE(f.Panel9->geometry(), QRect(8, 198, 415, 3));
        f.PageControl1->setCurrentWidget(f.TabSheet5);
        QCOMPARE(f.Panel9->geometry(), QRect(8, 198, 415, 3));
        QCOMPARE(f.ScrollBox4->geometry(), QRect(8, 32, 415, 333));
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("panel");
        QTest::addColumn<QPoint>("scrolled");
        QTest::newRow("larger") << QSize(800, 600) << QPoint(205, 165);
        QTest::newRow("narrower") << QSize(300, 600) << QPoint(0, 165);
        QTest::newRow("lower") << QSize(800, 100) << QPoint(205, 0);
        QTest::newRow("nothing read") << QSize(0, 0) << QPoint(0, 0);
    }
    void centring()
    {
        QFETCH(QSize, panel);
        QFETCH(QPoint, scrolled);
        Window w;
        TForm1& f = w.form;
        // A visible area of 390 x 270 in the left box.
        f.ScrollBox4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        f.ScrollBox4->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        const QSize frame = f.ScrollBox4->size() - f.ScrollBox4->viewport()->size();
        f.ScrollBox4->resize(QSize(390, 270) + frame);
        f.Panel6->resize(panel);
        f.Panel12->resize(panel);
        f.RadioButton2->click();
        f.Button1z->click();
        QCOMPARE(f.ScrollBox4->viewport()->size(), QSize(390, 270));
        QCOMPARE(QPoint(f.ScrollBox4->horizontalScrollBar()->value(), f.ScrollBox4->verticalScrollBar()->value()),
            scrolled);
        // The right box centres its own panel at the same time.
        const QSize view = f.ScrollBox5->viewport()->size();
        const QPoint right(std::max((panel.width() - view.width()) / 2, 0),
            std::max((panel.height() - view.height()) / 2, 0));
        QCOMPARE(QPoint(f.ScrollBox5->horizontalScrollBar()->value(), f.ScrollBox5->verticalScrollBar()->value()),
            right);
    }

    // The program's own back end on made-up Video4Linux2 devices, with its
    // real dialogs: each channel chooses its camera in the source dialog,
    // frames arrive converted, a frame size chosen in the format dialog
    // reaches the panel at the next tick, and a camera unplugged while
    // streaming is reported once, not at every tick.
    void videoForLinuxCamerasThroughTheWindow()
    {
        Window w;
        TForm1& f = w.form;
        auto devices = std::make_shared<FakeV4l2>();
        devices->addDevice(fakeCamera("/dev/video0", "Left Cam",
            { fakeFormat(V4L2_PIX_FMT_YUYV, { { 640, 480 }, { 320, 240 } }) }));
        devices->addDevice(
            fakeCamera("/dev/video1", "Right Cam", { fakeFormat(V4L2_PIX_FMT_MJPEG, { { 640, 480 } }) }));
        w.platform.otherCameras = std::make_unique<CameraBackend>(
            v4l2Cameras(devices), [&](const QImage& picture) { w.platform.putPicture(picture); });

        QStringList listed;
        whenDialogOpens([&](QDialog* dialog) {
            auto* cameras = dialog->findChild<QComboBox*>(QStringLiteral("cameraBox"));
            for (int i = 0; cameras && i < cameras->count(); ++i)
                listed << cameras->itemText(i);
            listed << QStringLiteral("selected: ") + (cameras ? cameras->currentText() : QString());
            dialog->reject();
        });
        f.Button2->click();
        QCOMPARE(listed, (QStringList { "Left Cam", "Right Cam", "selected: Left Cam" }));
        QCOMPARE(f.Panel6->size(), QSize(640, 480));
        QVERIFY(tickUntilFrame(f, 1, { 640, 480 }));

        f.RadioButton2->click();
        whenDialogOpens([](QDialog* dialog) {
            auto* cameras = dialog->findChild<QComboBox*>(QStringLiteral("cameraBox"));
            QVERIFY(cameras);
            cameras->setCurrentIndex(cameras->findText(QStringLiteral("Right Cam")));
            dialog->reject();
        });
        f.Button8->click();
        QCOMPARE(windowsIn(f.Panel12).last()->camera()->info().id, std::string("/dev/video1"));
        QVERIFY(tickUntilFrame(f, 2, { 640, 480 }));

        f.Button14->click();
        QVERIFY(w.platform.shown.empty());
        QCOMPARE(f.Image2->picture().width(), 640);
        QCOMPARE(f.Image1->picture().width(), 640);
        QCOMPARE(imageOf(f.Image1->picture()), w.platform.clipboard);

        whenDialogOpens([](QDialog* dialog) {
            auto* sizes = dialog->findChild<QComboBox*>(QStringLiteral("frameSizeBox"));
            QVERIFY(sizes);
            sizes->setCurrentIndex(sizes->findText(QStringLiteral("320 × 240")));
            dialog->accept();
        });
        f.Button1f->click();
        QCOMPARE(f.Panel6->size(), QSize(640, 480));
        QVERIFY(tickUntilFrame(f, 1, { 320, 240 }));
        QCOMPARE(f.Panel6->size(), QSize(320, 240));

        std::size_t boxesAfterWaiting = 0;
        bool waited = false;
        w.platform.whileBoxIsOpen = [&] {
            if (std::exchange(waited, true))
                return;
            // Two more periods pass with the box open.
            QTest::qWait(1300);
            boxesAfterWaiting = w.platform.shown.size();
        };
        f.Button1x->click();
        devices->unplug("/dev/video0");
        QTRY_COMPARE_WITH_TIMEOUT(w.platform.shown.size(), std::size_t(1), 3000);
        QCOMPARE(w.platform.shown[0].text,
            QStringLiteral("Camera \"Left Cam\" (/dev/video0) stopped working: No such device."));
        QCOMPARE(boxesAfterWaiting, std::size_t(1));
        // The stream stopped with the box, as if its button had been pressed.
        QVERIFY(!f.Timer1->enabled());
        QCOMPARE(f.Panel5->color(), TColor(0xFF));
        // Channel 2's camera goes on.
        QVERIFY(tickUntilFrame(f, 2, { 640, 480 }));

        // Plugged back in, the camera connects as usual and streams again.
        devices->replug("/dev/video0");
        whenDialogOpens([](QDialog* dialog) {
            auto* cameras = dialog->findChild<QComboBox*>(QStringLiteral("cameraBox"));
            QVERIFY(cameras);
            cameras->setCurrentIndex(cameras->findText(QStringLiteral("Left Cam")));
            dialog->reject();
        });
        f.Button2->click();
        QCOMPARE(windowsIn(f.Panel6).last()->camera()->info().id, std::string("/dev/video0"));
        f.Button1x->click();
        QTRY_VERIFY_WITH_TIMEOUT(windowsIn(f.Panel6).last()->frame() != nullptr, 3000);
        QCOMPARE(w.platform.shown.size(), std::size_t(1));
        f.Button1x->click();
        w.platform.otherCameras.reset();
    }
};

ORVANTA_GUI_TEST_MAIN(TestCapture)
#include "test_capture.moc"
