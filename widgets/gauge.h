// A horizontal progress gauge: black frame, white inside, a black bar for the
// percentage done and the percentage as text over it.
#pragma once

#include <QWidget>

class TGauge : public QWidget {
    Q_OBJECT

public:
    explicit TGauge(QWidget* parent = nullptr);

    int minValue() const { return min_; }
    int maxValue() const { return max_; }
    int progress() const { return progress_; }

    // The progress always stays within minimum..maximum and is clamped when
    // the range changes. A minimum above the maximum raises the maximum to
    // it; a maximum below the minimum lowers the minimum to it.
    void setMinValue(int v);
    void setMaxValue(int v);
    void setProgress(int v);

    // trunc(100 * (progress - min) / (max - min)), 0 when max == min.
    int percentDone() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Applies a new state and repaints only if the whole-number percentage
    // moved: callers set the progress once per pixel of a build.
    void changeState(int minValue, int maxValue, int progress);

    int min_ = 0;
    int max_ = 100;
    int progress_ = 0;
};

// Lets the accessibility layer see every TGauge as a read-only progress bar.
// Safe to call any number of times; the TGauge constructor calls it.
void installGaugeAccessibility();
