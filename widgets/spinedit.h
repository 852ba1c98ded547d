// An integer edit box with up/down arrow buttons.
//
// Unlike QSpinBox it keeps whatever text the user pasted: the value is read
// from the text on demand, and text that is not an integer reads as the
// minimum. Only typing is filtered. Being a QAbstractSpinBox with "value",
// "minimum" and "maximum" properties, it gets Qt's own spin-box
// accessibility.
#pragma once

#include <QAbstractSpinBox>
#include <QString>
#include <QValidator>

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue)
    Q_PROPERTY(int minimum READ minValue)
    Q_PROPERTY(int maximum READ maxValue)

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // A maximum below the minimum is raised to the minimum. The text is left
    // as it is, even when its value falls outside the new range.
    void setRange(int minValue, int maxValue);
    int minValue() const { return min_; }
    int maxValue() const { return max_; }

    // The text read as an integer (see parseInteger), or the minimum when it
    // is not one. Not clamped.
    int value() const;
    // Writes v, clamped into the range, as the text.
    void setValue(int v);
    // Puts raw text into the field as a paste would: no filtering.
    void setText(const QString& text);

    // An optional "+" or "-" followed by one or more ASCII digits, nothing
    // else, within the signed 32-bit range. Returns false for anything else.
    static bool parseInteger(const QString& text, int& out);

    void stepBy(int steps) override;
    StepEnabled stepEnabled() const override;
    // Every text is acceptable: pasted text is kept whole and nothing is
    // "fixed up" on Enter or focus loss.
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int withinRange(int v) const;

    int min_ = 0;
    int max_ = 100;
};
