#include "wiring.h"

#include "application.h"
#include "form.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QSlider>

#include <array>
#include <exception>
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

void connectRow(TForm1& form, const WiringRow& row)
{
    QObject* sender = form.findChild<QObject*>(QLatin1String(row.control));
    if (!sender)
        badRow(row, "no control of that name");
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
    }
}

} // namespace

std::span<const WiringRow> wiringTable() { return kWiring; }

void wireControls(TForm1& form)
{
    for (const WiringRow& row : kWiring)
        connectRow(form, row);
}
