// The webcam page: two capture channels with their connect, source and format
// commands, their streams and grabs, the one- and two-camera modes, the
// crosshairs and the centring of the previews.
#include "anchors.h"
#include "captions.h"
#include "form.h"
#include "platform.h"
#include "widgets.h"

#include "camera/camera.h"
#include "widgets/capture/capture_window.h"
#include "widgets/bitmap_image.h"
#include "widgets/capture/timer.h"
#include "compose/errors.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>

namespace {

// Requests a capture window as a visible child of its panel.
constexpr std::uint32_t kCaptureWindowStyle = kCaptureChild | kCaptureVisible;
constexpr int kStreamPeriodMs = 500;
constexpr TColor kStreaming = 0x8000;
constexpr TColor kNotStreaming = 0xFF;

// A plain panel in the window's face colour that a preview box scrolls.
QFrame* makePreviewPanel(QScrollArea* box, const char* name)
{
    auto* panel = new QFrame;
    panel->setObjectName(QLatin1String(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setBackgroundRole(QPalette::Button);
    panel->setAutoFillBackground(true);
    panel->resize(800, 600);
    box->setWidget(panel);
    return panel;
}

QScrollArea* makePreviewBox(QWidget* page, const char* name)
{
    auto* box = new QScrollArea(page);
    box->setObjectName(QLatin1String(name));
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    box->setLineWidth(1);
    box->setWidgetResizable(false);
    box->viewport()->setBackgroundRole(QPalette::Button);
    return box;
}

// A crosshair line: pure colour, no bevel, hidden until its box is ticked.
// Only the resize handler moves it, so it is not in the page's layout.
TPanel* makeLine(QWidget* page, const char* name)
{
    TPanel* line = makePanel(page, name, 0xFF);
    line->setFrameStyle(QFrame::NoFrame);
    line->hide();
    return line;
}

// A connect and the cameras' dialogs keep their failures to themselves.
template <class Request>
void quietly(Request request)
{
    try {
        request();
    } catch (...) {
    }
}

} // namespace

void TForm1::createWebcamPage()
{
    QWidget* page = TabSheet5;
    webcamLayout_ = new AnchorLayout(page, kPageSize, true);
    const auto place = [this](QWidget* w, int x, int y, int width, int height, int anchors) {
        webcamLayout_->add(w, QRect(x, y, width, height), anchors);
    };
    constexpr int LT = akLeft | akTop;
    constexpr int LB = akLeft | akBottom;
    constexpr int RB = akRight | akBottom;

    // Creation order is stacking order: the crosshair lines come after the
    // preview boxes, so they are drawn over the video.
    RadioButton1 = new QRadioButton(page);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setChecked(true);
    place(RadioButton1, 120, 8, 185, 17, LT);
    RadioButton2 = new QRadioButton(page);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    place(RadioButton2, 549, 8, 185, 17, LT);

    ScrollBox4 = makePreviewBox(page, "ScrollBox4");
    place(ScrollBox4, 8, 32, 415, 293, akLeft | akTop | akBottom);
    Panel6 = makePreviewPanel(ScrollBox4, "Panel6");
    ScrollBox5 = makePreviewBox(page, "ScrollBox5");
    place(ScrollBox5, 424, 32, 414, 293, akLeft | akTop | akRight | akBottom);
    Panel12 = makePreviewPanel(ScrollBox5, "Panel12");

    Button1x = makeButton(page, "Button1x");
    place(Button1x, 8, 328, 75, 27, LB);
    Button2 = makeButton(page, "Button2");
    place(Button2, 264, 328, 75, 27, LB);
    Button4x = makeButton(page, "Button4x");
    place(Button4x, 344, 328, 75, 27, LB);
    Button7 = makeButton(page, "Button7");
    place(Button7, 428, 328, 75, 27, RB);
    Button8 = makeButton(page, "Button8");
    place(Button8, 684, 328, 75, 27, RB);
    Button9 = makeButton(page, "Button9");
    place(Button9, 764, 328, 75, 27, RB);
    Button10 = makeButton(page, "Button10");
    place(Button10, 8, 360, 97, 27, LB);
    Button11 = makeButton(page, "Button11");
    place(Button11, 112, 360, 97, 27, LB);
    Button12 = makeButton(page, "Button12");
    place(Button12, 740, 360, 97, 27, RB);
    Button13 = makeButton(page, "Button13");
    place(Button13, 636, 360, 97, 27, RB);
    Button14 = makeButton(page, "Button14");
    QFont bold = Button14->font();
    bold.setBold(true);
    Button14->setFont(bold);
    place(Button14, 360, 360, 129, 25, akLeft | akRight | akBottom);

    Panel5 = makePanel(page, "Panel5", kNotStreaming);
    place(Panel5, 88, 328, 25, 25, LB);
    CheckBox2 = new QCheckBox(page);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    place(CheckBox2, 128, 331, 57, 17, LB);
    Panel7 = makeLine(page, "Panel7");
    Panel7->setGeometry(220, 32, 3, 297);
    Panel9 = makeLine(page, "Panel9");
    Panel9->setGeometry(15, 181, 409, 3);
    Panel8 = makeLine(page, "Panel8");
    Panel8->setGeometry(431, 181, 409, 3);
    Panel10 = makeLine(page, "Panel10");
    Panel10->setGeometry(636, 32, 3, 297);
    CheckBox3 = new QCheckBox(page);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    place(CheckBox3, 544, 331, 57, 17, RB);
    Panel11 = makePanel(page, "Panel11", kNotStreaming);
    place(Panel11, 512, 328, 25, 25, RB);

    Button1z = makeButton(page, "Button1z");
    place(Button1z, 378, 3, 95, 25, LT);
    Panel13 = makePanel(page, "Panel13", 0xFF);
    place(Panel13, 8, 4, 25, 25, LT);
    Panel14 = makePanel(page, "Panel14", 0xFFFF00);
    place(Panel14, 811, 4, 25, 25, akRight | akTop);
    Button1s = makeButton(page, "Button1s");
    place(Button1s, 40, 4, 75, 25, LT);
    Button1f = makeButton(page, "Button1f");
    place(Button1f, 301, 3, 75, 25, LT);
    Button2s = makeButton(page, "Button2s");
    place(Button2s, 474, 3, 75, 25, LT);
    Button2f = makeButton(page, "Button2f");
    place(Button2f, 735, 2, 75, 25, LT);

    // One-camera mode at start, without its handler: channel 1 can only
    // connect, channel 2 not at all.
    for (QWidget* w : { Button4x, Button8, Button9, Button1s, Button1f, Button2s, Button2f, Button1x, Button7,
             Button14, Button13, Button12 })
        w->setEnabled(false);

    const QList<QWidget*> chain = { RadioButton1, RadioButton2, ScrollBox4, ScrollBox5, Button1x, Button2,
        Button4x, Button7, Button8, Button9, Button10, Button11, Button12, Button13, Button14, CheckBox2, CheckBox3,
        Button1z, Button1s, Button1f, Button2s, Button2f };
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);

    Timer1 = new TTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kStreamPeriodMs);
    Timer2 = new TTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(kStreamPeriodMs);
}

TForm1::Channel TForm1::channel1() { return { "Video1", CapWnd1, VideoFormat1, Panel6, true, Timer1, Panel5 }; }

TForm1::Channel TForm1::channel2() { return { "Video2", CapWnd2, VideoFormat2, Panel12, false, Timer2, Panel11 }; }

void TForm1::ConnectChannel(const Channel& channel)
{
    CaptureBackend& capture = platform_.capture();
    // Making the window, attaching the camera and its source dialog may each
    // fail; the channel's buttons are enabled and its format read all the same.
    quietly([&] {
        const QSize size = channel.windowTakesPanelSize ? channel.panel->size() : QSize(800, 600);
        channel.window = capture.createCaptureWindow(QString::fromLatin1(channel.windowName), kCaptureWindowStyle, 0,
            0, size.width(), size.height(), channel.panel, 1);
        capture.driverConnect(channel.window, 0);
        capture.videoSourceDialog(channel.window);
    });
}

void TForm1::SizePanel(const Channel& channel)
{
    channel.panel->resize(channel.format.biWidth(), channel.format.biHeight());
}

void TForm1::Button2Click(QObject*)
{
    const Channel channel = channel1();
    ConnectChannel(channel);
    for (QWidget* w : { Button1s, Button1f, Button4x, Button1x })
        w->setEnabled(true);
    platform_.capture().getVideoFormat(channel.window, channel.format);
    SizePanel(channel);
}

void TForm1::Button8Click(QObject*)
{
    const Channel channel = channel2();
    ConnectChannel(channel);
    for (QWidget* w : { Button2s, Button2f, Button7, Button9 })
        w->setEnabled(true);
    Cam2Connected = true;
    platform_.capture().getVideoFormat(channel.window, channel.format);
    SizePanel(channel);
}

void TForm1::Button4xClick(QObject*) { platform_.capture().driverDisconnect(CapWnd1); }

void TForm1::Button9Click(QObject*) { platform_.capture().driverDisconnect(CapWnd2); }

void TForm1::Button1sClick(QObject*) { quietly([&] { platform_.capture().videoSourceDialog(CapWnd1); }); }

void TForm1::Button1fClick(QObject*) { quietly([&] { platform_.capture().videoFormatDialog(CapWnd1); }); }

void TForm1::Button2sClick(QObject*) { quietly([&] { platform_.capture().videoSourceDialog(CapWnd2); }); }

void TForm1::Button2fClick(QObject*) { quietly([&] { platform_.capture().videoFormatDialog(CapWnd2); }); }

void TForm1::SwitchStream(TTimer* timer, TPanel* indicator)
{
    timer->setEnabled(!timer->enabled());
    ShowStreamState(indicator, timer->enabled());
}

void TForm1::ShowStreamState(TPanel* indicator, bool streaming)
{
    indicator->setColor(streaming ? kStreaming : kNotStreaming);
    indicator->setAccessibleName(
        messageText(streaming ? Message::Streaming : Message::NotStreaming, LanguageIndex()));
}

void TForm1::ShowStreamStates()
{
    ShowStreamState(Panel5, Timer1->enabled());
    ShowStreamState(Panel11, Timer2->enabled());
}

void TForm1::Button1xClick(QObject*) { SwitchStream(Timer1, Panel5); }

void TForm1::Button7Click(QObject*) { SwitchStream(Timer2, Panel11); }

void TForm1::StreamTick(const Channel& channel)
{
    CaptureBackend& capture = platform_.capture();
    try {
        capture.getVideoFormat(channel.window, channel.format);
        SizePanel(channel);
        capture.grabFrame(channel.window);
    } catch (const CameraLostError&) {
        // A camera that is gone stays gone: every later tick would only
        // bring the same box again. Its stream stops as if its button had
        // been pressed, and the loss is told once; pressing the button
        // tries again.
        if (channel.timer->enabled())
            SwitchStream(channel.timer, channel.indicator);
        throw;
    }
}

void TForm1::Timer1Timer(QObject*) { StreamTick(channel1()); }

void TForm1::Timer2Timer(QObject*) { StreamTick(channel2()); }

void TForm1::Grab(const Channel& channel, TImage* view)
{
    platform_.capture().editCopy(channel.window);
    QImage picture;
    if (!platform_.takePicture(picture))
        throw EOrvantaError("Cannot open clipboard");
    if (picture.isNull())
        throw EOrvantaError("Unsupported clipboard format");
    view->setPicture(bitmapOfImage(picture));
}

void TForm1::Button10Click(QObject*) { Grab(channel1(), Image2); }

void TForm1::Button11Click(QObject*) { Grab(channel1(), Image1); }

void TForm1::Button13Click(QObject*) { Grab(channel2(), Image2); }

void TForm1::Button12Click(QObject*) { Grab(channel2(), Image1); }

void TForm1::Button14Click(QObject*)
{
    Grab(channel1(), Image2);
    Grab(channel2(), Image1);
}

void TForm1::RadioButton1Click(QObject*)
{
    for (QWidget* w : { Button7, Button8, Button9, Button12, Button13, Button14, Button2s, Button2f })
        w->setEnabled(false);
}

void TForm1::RadioButton2Click(QObject*)
{
    for (QWidget* w : { Button8, Button12, Button13, Button14 })
        w->setEnabled(true);
    if (Cam2Connected)
        for (QWidget* w : { Button7, Button9, Button2s, Button2f })
            w->setEnabled(true);
}

void TForm1::CheckBox2Click(QObject*)
{
    Panel7->setVisible(CheckBox2->isChecked());
    Panel9->setVisible(CheckBox2->isChecked());
}

void TForm1::CheckBox3Click(QObject*)
{
    Panel8->setVisible(CheckBox3->isChecked());
    Panel10->setVisible(CheckBox3->isChecked());
}

void TForm1::FormResize(QObject*)
{
    // Lengths first for both channels, then positions.
    Panel9->resize(ScrollBox4->width(), Panel9->height());
    Panel7->resize(Panel7->width(), ScrollBox4->height());
    Panel8->resize(ScrollBox5->width(), Panel8->height());
    Panel10->resize(Panel10->width(), ScrollBox5->height());
    PlaceCrosshair(ScrollBox4, Panel9, Panel7);
    PlaceCrosshair(ScrollBox5, Panel8, Panel10);
}

void TForm1::PlaceCrosshair(QScrollArea* box, TPanel* horizontal, TPanel* vertical)
{
    const QRect b = box->geometry();
    horizontal->move(b.left(), b.top() + b.height() / 2);
    vertical->move(b.left() + b.width() / 2, b.top());
}

void TForm1::Button1zClick(QObject*)
{
    for (auto [box, panel] : { std::pair { ScrollBox4, Panel6 }, std::pair { ScrollBox5, Panel12 } }) {
        // The scroll bars hold each position between 0 and their largest.
        box->horizontalScrollBar()->setValue((panel->width() - box->viewport()->width()) / 2);
        box->verticalScrollBar()->setValue((panel->height() - box->viewport()->height()) / 2);
    }
}
