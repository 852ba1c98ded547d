// The glasses calibration: three gain sliders, their values, and the black and
// white fields with the red and cyan swatches showing the anaglyph's two pure
// colours at the current gains.
#include "app/application.h"
#include "app/form.h"
#include "app/widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {

TPanel* makePanel(QWidget* parent, const char* name, QRect r, TColor color)
{
    auto* panel = new TPanel(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(r);
    panel->setColor(color);
    return panel;
}

QSlider* makeGainSlider(QWidget* parent, const char* name, int y, const QString& accessibleName)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QLatin1String(name));
    slider->setGeometry(192, y, 113, 25);
    slider->setRange(0, 255);
    slider->setSingleStep(1);
    slider->setPageStep(2);
    slider->setTickPosition(QSlider::NoTicks);
    slider->setValue(255);
    slider->setAccessibleName(accessibleName);
    return slider;
}

} // namespace

void TForm1::createCalibration()
{
    QGroupBox* box = GroupBox3;
    // Stacking: the black field, the white field over its lower half, then
    // the two swatches straddling the border between them.
    Panel3 = makePanel(box, "Panel3", QRect(8, 16, 113, 65), clBlack);
    Panel4 = makePanel(box, "Panel4", QRect(8, 48, 113, 33), clWhite);
    Panel1 = makePanel(box, "Panel1", QRect(24, 32, 33, 33), clRed);
    Panel2 = makePanel(box, "Panel2", QRect(72, 32, 33, 33), clAqua);

    Label1 = makeLabel(box, "Label1", QString(), 128, 16);
    Label2 = makeLabel(box, "Label2", QString(), 128, 48);

    TrackBar1 = makeGainSlider(box, "TrackBar1", 13, QStringLiteral("Красный R"));
    TrackBar2 = makeGainSlider(box, "TrackBar2", 37, QStringLiteral("Голубой G"));
    TrackBar3 = makeGainSlider(box, "TrackBar3", 61, QStringLiteral("Голубой B"));

    Label3 = makeLabel(box, "Label3", QString(), 304, 16);
    Label4 = makeLabel(box, "Label4", QString(), 304, 40);
    Label5 = makeLabel(box, "Label5", QString(), 304, 64);

    Button6 = new QPushButton(box);
    Button6->setObjectName(QStringLiteral("Button6"));
    Button6->setGeometry(126, 61, 57, 25);
}

void TForm1::TrackBar1Change(QObject*)
{
    Label3->setText(QString::number(TrackBar1->value()));
    Label3->adjustSize();
    Panel1->setColor(RGB(TrackBar1->value(), 0, 0));
}

void TForm1::TrackBar2Change(QObject*)
{
    Label4->setText(QString::number(TrackBar2->value()));
    Label4->adjustSize();
    updateSwatches();
}

void TForm1::TrackBar3Change(QObject*)
{
    Label5->setText(QString::number(TrackBar3->value()));
    Label5->adjustSize();
    updateSwatches();
}

void TForm1::updateSwatches() { Panel2->setColor(RGB(0, TrackBar2->value(), TrackBar3->value())); }
