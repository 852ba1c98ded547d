#include "widgets/spinedit.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QProxyStyle>
#include <QStyleFactory>

#include <algorithm>
#include <cstdint>

namespace {

// Holding an arrow button steps first after 400 ms, then every 100 ms,
// whatever the platform style would choose. QAbstractSpinBox reads both
// delays from these style hints whenever its style changes.
class SpinRepeatStyle : public QProxyStyle {
public:
    SpinRepeatStyle() : QProxyStyle(copyOfApplicationStyle()) {}

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override
    {
        switch (hint) {
        case SH_SpinBox_ClickAutoRepeatThreshold:
            return 400;
        case SH_SpinBox_ClickAutoRepeatRate:
            return 100;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
        }
    }

private:
    // A proxy takes ownership of its base, so it cannot wrap the
    // application's style object itself; a fresh instance of the same style
    // looks the same. Null (a style the factory does not know) makes
    // QProxyStyle fall back to the desktop style.
    static QStyle* copyOfApplicationStyle()
    {
        if (const QStyle* app = QApplication::style())
            return QStyleFactory::create(app->name());
        return nullptr;
    }
};

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// A key that would insert printable text into the field. Control characters
// (Backspace, Tab, Escape, Delete) and Ctrl/Cmd combinations (copy, paste,
// undo, select all) are editing commands and not typed characters.
bool insertsText(const QKeyEvent* event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() != 0x7F; });
}

bool isAllowedTyping(const QString& text)
{
    if (text == QLocale().decimalPoint())
        return true;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return isAsciiDigit(c) || c == u'+' || c == u'-'; });
}

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    // QWidget::setStyle does not take ownership; the widget's children are
    // deleted with it.
    auto* style = new SpinRepeatStyle;
    style->setParent(this);
    setStyle(style);
    lineEdit()->setText(QStringLiteral("0"));
}

bool TSpinEdit::parseInteger(const QString& text, int& out)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return false;
    // The magnitude may reach 2^31 for a negative number; anything beyond
    // that cannot be an int32 and stops the scan before it can overflow.
    constexpr std::int64_t limit = std::int64_t(1) << 31;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!isAsciiDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > limit)
            return false;
    }
    const std::int64_t v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX)
        return false;
    out = int(v);
    return true;
}

void TSpinEdit::setRange(int minValue, int maxValue)
{
    min_ = minValue;
    max_ = std::max(minValue, maxValue);
}

int TSpinEdit::withinRange(int v) const { return std::clamp(v, min_, max_); }

int TSpinEdit::value() const
{
    int v = 0;
    return parseInteger(lineEdit()->text(), v) ? v : min_;
}

void TSpinEdit::setValue(int v)
{
    const int clamped = withinRange(v);
    lineEdit()->setText(QString::number(clamped));
    QAccessibleValueChangeEvent event(this, clamped);
    QAccessible::updateAccessibility(&event);
}

void TSpinEdit::setText(const QString& text) { lineEdit()->setText(text); }

void TSpinEdit::stepBy(int steps)
{
    // Summed in 64 bits so a step beyond the int range still clamps.
    const std::int64_t target = std::int64_t(value()) + steps;
    setValue(int(std::clamp<std::int64_t>(target, min_, max_)));
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    // Both directions stay enabled at the ends: the clamp in stepBy keeps the
    // value in range, and text that is not an integer can always step.
    if (isReadOnly())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State TSpinEdit::validate(QString&, int&) const { return QValidator::Acceptable; }

void TSpinEdit::fixup(QString&) const {}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Enter:
    case Qt::Key_Return:
        // QAbstractSpinBox would reinterpret the text here; this field keeps
        // it as typed.
        QApplication::beep();
        event->setAccepted(true);
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // No ten-step jumps.
        event->setAccepted(true);
        return;
    default:
        break;
    }
    if (insertsText(event) && !isAllowedTyping(event->text())) {
        QApplication::beep();
        event->setAccepted(true);
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    // Clamp before anyone reacts to the focus leaving (a button that takes
    // the focus acts after this). Text that is not an integer reads as the
    // minimum, which is in range, so it stays.
    const int v = value();
    if (v != withinRange(v))
        setValue(v);
    QAbstractSpinBox::focusOutEvent(event);
}
