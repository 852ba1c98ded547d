// The window's anaglyph composition: the glasses calibration (three gain
// sliders, their values, and the black and white fields with the red and
// cyan swatches showing the anaglyph's two pure colours at the current
// gains) and the builder (offsets, swap, block step, the build buttons, the
// progress gauge and the build itself). The window paces the build and
// re-reads its controls between runs of blocks; the pixels are the
// composition engine's (compose/engine), the number fields and the gauge
// live in compose/.
#include "captions.h"
#include "form.h"
#include "widgets.h"

#include "compose/anaglyph.h"
#include "compose/engine.h"
#include "widgets/gauge.h"
#include "compose/pacing.h"
#include "widgets/spinedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include <algorithm>
#include <climits>

namespace {

// Named for assistive tools by ShowGainNames, in the window's language.
QSlider* makeGainSlider(QWidget* parent, const char* name, int y)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QLatin1String(name));
    slider->setGeometry(192, y, 113, 25);
    slider->setRange(0, 255);
    slider->setSingleStep(1);
    slider->setPageStep(2);
    slider->setTickPosition(QSlider::NoTicks);
    slider->setValue(255);
    return slider;
}

TSpinEdit* makeNumberField(QWidget* parent, const char* name, QRect r, int min, int max, int value)
{
    auto* field = new TSpinEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(r);
    field->setRange(min, max);
    field->setValue(value);
    return field;
}

// A field may hold any integer text, the most negative int included.
int negated(int v) { return clampToInt(-(long long)v); }

} // namespace

void TForm1::createCalibration()
{
    QGroupBox* box = GroupBox3;
    // Stacking: the black field, the white field over its lower half, then
    // the two swatches straddling the border between them.
    Panel3 = makePanel(box, "Panel3", clBlack, QRect(8, 16, 113, 65));
    Panel4 = makePanel(box, "Panel4", clWhite, QRect(8, 48, 113, 33));
    Panel1 = makePanel(box, "Panel1", clRed, QRect(24, 32, 33, 33));
    Panel2 = makePanel(box, "Panel2", clAqua, QRect(72, 32, 33, 33));

    Label1 = makeLabel(box, "Label1", QString(), 128, 16);
    Label2 = makeLabel(box, "Label2", QString(), 128, 48);

    TrackBar1 = makeGainSlider(box, "TrackBar1", 13);
    TrackBar2 = makeGainSlider(box, "TrackBar2", 37);
    TrackBar3 = makeGainSlider(box, "TrackBar3", 61);

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

void TForm1::createBuilder()
{
    QGroupBox* box = GroupBox1;
    Label6 = makeLabel(box, "Label6", QString(), 8, 16);
    Label7 = makeLabel(box, "Label7", QString(), 96, 16);
    SpinEdit1 = makeNumberField(box, "SpinEdit1", QRect(8, 32, 57, 22), -10000, 10000, 0);
    SpinEdit2 = makeNumberField(box, "SpinEdit2", QRect(96, 32, 57, 22), -10000, 10000, 0);
    Label6->setBuddy(SpinEdit1);
    Label7->setBuddy(SpinEdit2);

    CheckBox1 = new QCheckBox(box);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(184, 15, 97, 17);

    Gauge1 = new TGauge(box);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(168, 32, 105, 25);
    Gauge1->setMinValue(0);
    Gauge1->setMaxValue(60000);
    Gauge1->setProgress(0);

    Button3 = makeButton(box, "Button3", QRect(280, 10, 81, 25));
    Button5 = makeButton(box, "Button5", QRect(280, 37, 81, 25));

    Label17 = new QLabel(box);
    Label17->setObjectName(QStringLiteral("Label17"));
    Label17->setGeometry(279, 67, 52, 17);
    Label17->setWordWrap(true);
    SpinEdit3 = makeNumberField(box, "SpinEdit3", QRect(312, 64, 49, 22), 2, 50, 2);
    Label17->setBuddy(SpinEdit3);

    Label8 = makeLabel(box, "Label8", QString(), 8, 59);
    ComboBox1 = new QComboBox(box);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(8, 72, 89, 21);
    ComboBox1->addItems({ QStringLiteral("Русский"), QStringLiteral("English") });
    ComboBox1->setCurrentIndex(0);
    Label8->setBuddy(ComboBox1);

    // The label sits over the field's left edge; keep the field on top so its
    // text stays readable and clickable.
    SpinEdit3->raise();
}

void TForm1::Button3Click(QObject*) { DoAnaglyph(1); }

void TForm1::Button5Click(QObject*) { DoAnaglyph(SpinEdit3->value()); }

void TForm1::CheckBox1Click(QObject*)
{
    // Swapping which frame feeds red turns the shift around.
    SpinEdit1->setValue(negated(SpinEdit1->value()));
    SpinEdit2->setValue(negated(SpinEdit2->value()));
}

BlockInputs TForm1::readBlockInputs() const
{
    BlockInputs in;
    in.frame1 = &Image2->picture();
    in.frame2 = &Image1->picture();
    in.W1 = Image2->width();
    in.H1 = Image2->height();
    in.dx = SpinEdit1->value();
    in.dy = SpinEdit2->value();
    in.swap = CheckBox1->isChecked();
    in.gains = { TrackBar1->value(), TrackBar2->value(), TrackBar3->value() };
    return in;
}

void TForm1::DoAnaglyph(int s)
{
    s = std::max(s, 1);
    if (Image1->width() != Image2->width() || Image1->height() != Image2->height()) {
        ShowMessage(messageText(Message::SizeMismatchTitle, LanguageIndex()),
            messageText(Message::SizeMismatchText, LanguageIndex()));
        return;
    }

    // Whatever happens from here on, the group box comes back and a close
    // requested meanwhile is carried out once the build is over.
    struct BuildScope {
        TForm1* form;
        explicit BuildScope(TForm1* f) : form(f)
        {
            form->building_ = true;
            form->GroupBox1->setEnabled(false);
        }
        ~BuildScope()
        {
            form->GroupBox1->setEnabled(true);
            form->building_ = false;
            if (form->closeRequested_) {
                form->closeRequested_ = false;
                QMetaObject::invokeMethod(form, &QWidget::close, Qt::QueuedConnection);
            }
        }
    } scope(this);

    ShowPage(TabSheet3);
    Image3->resize(Image1->width(), Image1->height());
    LetEventsRun();

    // The working bitmap lives for this build only; the unique_ptr releases
    // it on every way out, an error included.
    auto work = std::make_unique<TBitmap>();
    work->setSize(Image1->width(), Image1->height());
    Gauge1->setMaxValue(gaugeMaximum(Image3->width(), Image3->height()));
    LetEventsRun();

    // The grid is planned once; the sources and gains are taken again before
    // every run, as events may have changed them since.
    CompositionPlan plan = planBuild(readBlockInputs(), Image1->width(), Image1->height(), s);
    pacing_->start([this] { LetEventsRun(); });
    for (int r = 0; r < plan.blockRows; ++r) {
        const int y = int(blockOrigin(r, s));
        // Each row spans frame 2's view as it is when the row starts.
        const int lastColumn = blocksAlong(Image1->width(), s) - 1;
        for (int c = 0; c <= lastColumn;) {
            updateSources(plan, readBlockInputs());
            const int run = std::max(pacing_->runLength(), 1);
            const int last = int(std::min<long long>((long long)c + run - 1, lastColumn));
            renderBlockRun(plan, y, c, last, *work);
            Gauge1->setProgress(gaugePosition(Image3->width(), blockOrigin(last, s), y));
            pacing_->afterRun(last - c + 1);
            c = last + 1;
        }
    }

    // Keep only where the two frames overlap. The old picture goes first, so
    // that memory holds one picture fewer while the crop is made.
    const Overlap keep = overlapOf(Image1->width(), Image1->height(), SpinEdit1->value(), SpinEdit2->value());
    Image3->resize(keep.width, keep.height);
    Image3->picture().setSize(0, 0);
    Image3->picture().takeOver(cropToOverlap(std::move(*work), keep));
    Image3->pictureChanged();
    Image3->repaint();

    work.reset();
    GroupBox1->setEnabled(true);
    LetEventsRun();
}

void TForm1::ShowGainNames()
{
    const int language = LanguageIndex();
    TrackBar1->setAccessibleName(messageText(Message::GainRed, language));
    TrackBar2->setAccessibleName(messageText(Message::GainGreen, language));
    TrackBar3->setAccessibleName(messageText(Message::GainBlue, language));
}
