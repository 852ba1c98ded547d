#include "widgets/gauge.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstdint>

namespace {

QString percentText(int p) { return QString::asprintf("%d%%", p); }

// How many pixel columns of the inside the bar covers, counted from the
// inside's left edge. The bar's right edge is trunc(w * (p * 0.01)) with w the
// inside width plus one, an exclusive coordinate relative to the inside's
// left edge: the bar covers inside columns 0 .. edge-1, i.e. widget columns
// 1 .. edge. At 100% the edge is w, one column past the inside; that column
// is the right frame line, black already, so the bar is cut at the inside.
// An edge below 1 fills nothing.
int barColumns(int insideWidth, int percent)
{
    const int w = insideWidth + 1;
    const int edge = std::min(int(double(w) * (percent * 0.01)), w);
    if (edge < 1)
        return 0;
    return std::min(edge, insideWidth);
}

class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit GaugeAccessible(TGauge* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return percentText(gauge()->percentDone());
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return gauge()->progress(); }
    // The gauge shows the builder's progress; nobody else may move it.
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return gauge()->maxValue(); }
    QVariant minimumValue() const override { return gauge()->minValue(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    TGauge* gauge() const { return static_cast<TGauge*>(widget()); }
};

QAccessibleInterface* gaugeAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String(TGauge::staticMetaObject.className()) && object
        && object->isWidgetType())
        return new GaugeAccessible(static_cast<TGauge*>(object));
    return nullptr;
}

} // namespace

void installGaugeAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(gaugeAccessibleFactory);
        return true;
    }();
    (void)installed;
}

TGauge::TGauge(QWidget* parent) : QWidget(parent)
{
    installGaugeAccessibility();
    // paintEvent covers every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TGauge::percentDone() const
{
    const std::int64_t span = std::int64_t(max_) - min_;
    if (span == 0)
        return 0;
    return int(100 * (std::int64_t(progress_) - min_) / span);
}

void TGauge::setMinValue(int v) { changeState(v, std::max(v, max_), progress_); }

void TGauge::setMaxValue(int v) { changeState(std::min(min_, v), v, progress_); }

void TGauge::setProgress(int v) { changeState(min_, max_, v); }

void TGauge::changeState(int minValue, int maxValue, int progress)
{
    const int before = percentDone();
    min_ = minValue;
    max_ = maxValue;
    progress_ = std::clamp(progress, minValue, maxValue);
    if (percentDone() == before)
        return;
    update();
    QAccessibleValueChangeEvent event(this, progress_);
    QAccessible::updateAccessibility(&event);
}

void TGauge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect all = rect();
    painter.fillRect(all, Qt::black);
    const QRect inside = all.adjusted(1, 1, -1, -1);
    if (inside.isEmpty())
        return;
    painter.fillRect(inside, Qt::white);

    const int p = percentDone();
    const int bar = barColumns(inside.width(), p);
    const QRect barRect(inside.left(), inside.top(), bar, inside.height());
    const QRect whiteRect(inside.left() + bar, inside.top(), inside.width() - bar,
                          inside.height());
    if (bar > 0)
        painter.fillRect(barRect, Qt::black);

    // The text takes the inverse of what lies beneath it: drawn once in black
    // where the inside is white and once in white over the bar.
    const QString text = percentText(p);
    if (!whiteRect.isEmpty()) {
        painter.setClipRect(whiteRect);
        painter.setPen(Qt::black);
        painter.drawText(all, Qt::AlignCenter, text);
    }
    if (!barRect.isEmpty()) {
        painter.setClipRect(barRect);
        painter.setPen(Qt::white);
        painter.drawText(all, Qt::AlignCenter, text);
    }
}
