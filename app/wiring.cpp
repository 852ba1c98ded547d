#include "wiring.h"

#include "application.h"
#include "form.h"

#include "widgets/capture/timer.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSlider>

#include <array>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using E = WiredEvent;

// In the window's creation order.
const std::array kWiring = {
    WiringRow { "BitBtn1", E::Click, &TForm1::BitBtn1Click, "pictures" },
    WiringRow { "BitBtn2", E::Click, &TForm1::BitBtn2Click, "pictures" },
    WiringRow { "TrackBar1", E::Change, &TForm1::TrackBar1Change, "compose" },
    WiringRow { "TrackBar2", E::Change, &TForm1::TrackBar2Change, "compose" },
    WiringRow { "TrackBar3", E::Change, &TForm1::TrackBar3Change, "compose" },
    WiringRow { "BitBtn5", E::Click, &TForm1::BitBtn5Click, "pictures" },
    WiringRow { "BitBtn7", E::Click, &TForm1::BitBtn7Click, "pictures" },
    WiringRow { "BitBtn4", E::Click, &TForm1::BitBtn4Click, "pictures" },
    WiringRow { "BitBtn6", E::Click, &TForm1::BitBtn6Click, "pictures" },
    WiringRow { "BitBtn3", E::Click, &TForm1::Button4Click, "pictures" },
    WiringRow { "BitBtn8", E::Click, &TForm1::BitBtn8Click, "pictures" },
    WiringRow { "BitBtn9", E::Click, &TForm1::BitBtn9Click, "pictures" },
    WiringRow { "Button3", E::Click, &TForm1::Button3Click, "compose" },
    WiringRow { "CheckBox1", E::Toggle, &TForm1::CheckBox1Click, "compose" },
    WiringRow { "Button5", E::Click, &TForm1::Button5Click, "compose" },
    WiringRow { "RadioButton1", E::Select, &TForm1::RadioButton1Click, "capture" },
    WiringRow { "RadioButton2", E::Select, &TForm1::RadioButton2Click, "capture" },
    WiringRow { "Button1x", E::Click, &TForm1::Button1xClick, "capture" },
    WiringRow { "Button2", E::Click, &TForm1::Button2Click, "capture" },
    WiringRow { "Button4x", E::Click, &TForm1::Button4xClick, "capture" },
    WiringRow { "Button7", E::Click, &TForm1::Button7Click, "capture" },
    WiringRow { "Button8", E::Click, &TForm1::Button8Click, "capture" },
    WiringRow { "Button9", E::Click, &TForm1::Button9Click, "capture" },
    WiringRow { "Button10", E::Click, &TForm1::Button10Click, "capture" },
    WiringRow { "Button11", E::Click, &TForm1::Button11Click, "capture" },
    WiringRow { "Button12", E::Click, &TForm1::Button12Click, "capture" },
    WiringRow { "Button13", E::Click, &TForm1::Button13Click, "capture" },
    WiringRow { "Button14", E::Click, &TForm1::Button14Click, "capture" },
    WiringRow { "CheckBox2", E::Toggle, &TForm1::CheckBox2Click, "capture" },
    WiringRow { "CheckBox3", E::Toggle, &TForm1::CheckBox3Click, "capture" },
    WiringRow { "Button1z", E::Click, &TForm1::Button1zClick, "capture" },
    WiringRow { "Button1s", E::Click, &TForm1::Button1sClick, "capture" },
    WiringRow { "Button1f", E::Click, &TForm1::Button1fClick, "capture" },
    WiringRow { "Button2s", E::Click, &TForm1::Button2sClick, "capture" },
    WiringRow { "Button2f", E::Click, &TForm1::Button2fClick, "capture" },
    WiringRow { "Timer1", E::Tick, &TForm1::Timer1Timer, "capture" },
    WiringRow { "Timer2", E::Tick, &TForm1::Timer2Timer, "capture" },
    WiringRow { "Form1", E::Resize, &TForm1::FormResize, "capture" },
    WiringRow { "Form1", E::Drop, &TForm1::FormDragDrop, "pictures" },
    WiringRow { "Button6", E::Click, &TForm1::Button6Click, "app" },
    WiringRow { "Image4", E::Click, &TForm1::Image4Click, "app" },
    WiringRow { "Image5", E::Click, &TForm1::Image4Click, "app" },
    WiringRow { "ComboBox1", E::Choose, &TForm1::ComboBox1Change, "app" },
};

[[noreturn]] void badRow(const WiringRow& row, const char* why)
{
    throw std::logic_error(std::string("wiring row ") + row.control + ": " + why);
}

template <class Control>
Control* controlOf(TForm1& form, const WiringRow& row)
{
    auto* control = form.findChild<Control*>(QLatin1String(row.control));
    if (!control)
        badRow(row, "no control of that name and kind");
    return control;
}

QObject* senderOf(TForm1& form, const WiringRow& row)
{
    if (form.objectName() == QLatin1String(row.control))
        return &form;
    QObject* sender = form.findChild<QObject*>(QLatin1String(row.control));
    if (!sender)
        badRow(row, "no control of that name");
    return sender;
}

// A timer's handler whose errors are shown one box at a time: a stream tick
// that keeps failing would otherwise stack a new modal box over the last at
// every tick, since ticks go on while a box is open. Ticks that fall due
// while the handler runs (its box included) do nothing; the next one after
// tries again. Qt happens not to re-enter a timer's own tick, but this holds
// however the tick arrives.
void connectTick(TForm1& form, TTimer* timer, void (TForm1::*handler)(QObject*))
{
    auto busy = std::make_shared<bool>(false);
    QObject::connect(timer, &TTimer::timeout, &form, [&form, handler, timer, busy] {
        if (*busy)
            return;
        *busy = true;
        runHandler(form.platform(), [&] { (form.*handler)(timer); });
        *busy = false;
    });
}

void connectRow(TForm1& form, const WiringRow& row)
{
    QObject* sender = senderOf(form, row);
    // The one place a handler is wrapped in the general error report.
    const auto run = [&form, handler = row.handler, sender] {
        runHandler(form.platform(), [&] { (form.*handler)(sender); });
    };
    switch (row.event) {
    case E::Click:
        QObject::connect(controlOf<QAbstractButton>(form, row), &QAbstractButton::clicked, &form, run);
        return;
    case E::Toggle:
        QObject::connect(controlOf<QCheckBox>(form, row), &QCheckBox::toggled, &form, run);
        return;
    case E::Change:
        QObject::connect(controlOf<QSlider>(form, row), &QSlider::valueChanged, &form, run);
        return;
    case E::Select:
        QObject::connect(controlOf<QRadioButton>(form, row), &QRadioButton::toggled, &form, [run](bool selected) {
            if (selected)
                run();
        });
        return;
    case E::Tick:
        connectTick(form, controlOf<TTimer>(form, row), row.handler);
        return;
    case E::Choose:
        // Only the user's choice, not a selection the program makes.
        QObject::connect(controlOf<QComboBox>(form, row), &QComboBox::activated, &form, run);
        return;
    case E::Resize:
        if (sender != &form)
            badRow(row, "only the window itself is resized");
        QObject::connect(&form, &TForm1::resized, &form, run);
        return;
    case E::Drop:
        if (sender != &form)
            badRow(row, "only the window itself takes drops");
        // Queued: the drop event returns, and the desktop finishes the drag,
        // before a picture loads or an error box waits for the user.
        QObject::connect(&form, &TForm1::filesDropped, &form, run, Qt::QueuedConnection);
        return;
    }
}

} // namespace

std::span<const WiringRow> wiringTable() { return kWiring; }

void wireControls(TForm1& form)
{
    for (const WiringRow& row : kWiring)
        connectRow(form, row);
}
