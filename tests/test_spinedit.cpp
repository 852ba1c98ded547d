#include "widgets/spinedit.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QLocale>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QVBoxLayout>

#include <climits>

namespace {

// A shown, active window holding a field and a second widget to move the
// focus to, as in the real form.
struct Form {
    QWidget window;
    TSpinEdit* spin;
    QLineEdit* other;

    Form(int minValue, int maxValue)
    {
        auto* layout = new QVBoxLayout(&window);
        spin = new TSpinEdit;
        other = new QLineEdit;
        layout->addWidget(spin);
        layout->addWidget(other);
        spin->setRange(minValue, maxValue);
        window.show();
        window.activateWindow();
    }
};

QPoint buttonCentre(TSpinEdit* spin, QStyle::SubControl control)
{
    QStyleOptionSpinBox opt;
    opt.initFrom(spin);
    opt.rect = spin->rect();
    opt.subControls = QStyle::SC_All;
    opt.buttonSymbols = spin->buttonSymbols();
    opt.frame = spin->hasFrame();
    opt.stepEnabled = spin->stepEnabled();
    const QRect r = spin->style()->subControlRect(QStyle::CC_SpinBox, &opt, control, spin);
    return r.center();
}

} // namespace

class TestSpinEdit : public QObject {
    Q_OBJECT

private:
    QLocale savedLocale_;

private slots:
    void initTestCase() { savedLocale_ = QLocale(); }
    void cleanup() { QLocale::setDefault(savedLocale_); }

    void valueReadsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("digits") << "12" << 12;
        QTest::newRow("minus") << "-5" << -5;
        QTest::newRow("plus") << "+7" << 7;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("above range, not clamped") << "20000" << 20000;
        QTest::newRow("int max") << "2147483647" << INT_MAX;
        QTest::newRow("int min") << "-2147483648" << INT_MIN;
        // Everything below reads as the minimum.
        QTest::newRow("empty") << "" << -10000;
        QTest::newRow("sign only") << "-" << -10000;
        QTest::newRow("letters") << "abc" << -10000;
        QTest::newRow("decimal") << "1.5" << -10000;
        QTest::newRow("leading space") << " 3" << -10000;
        QTest::newRow("trailing space") << "3 " << -10000;
        QTest::newRow("two signs") << "--5" << -10000;
        QTest::newRow("sign after digits") << "5-" << -10000;
        QTest::newRow("exponent") << "1e3" << -10000;
        QTest::newRow("int max + 1") << "2147483648" << -10000;
        QTest::newRow("int min - 1") << "-2147483649" << -10000;
        QTest::newRow("huge") << "99999999999" << -10000;
        QTest::newRow("non-ASCII digit") << QStringLiteral("\u0663") << -10000;
        QTest::newRow("unicode minus") << QStringLiteral("\u22125") << -10000;
    }
    void valueReadsText()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        TSpinEdit spin;
        spin.setRange(-10000, 10000);
        spin.setText(text);
        QCOMPARE(spin.text(), text); // taken whole, as pasted
        QCOMPARE(spin.value(), expected);
    }

    void setValueWritesClampedText()
    {
        TSpinEdit spin;
        spin.setRange(2, 50);
        spin.setValue(7);
        QCOMPARE(spin.text(), QStringLiteral("7"));
        spin.setValue(51);
        QCOMPARE(spin.text(), QStringLiteral("50"));
        spin.setValue(INT_MIN);
        QCOMPARE(spin.text(), QStringLiteral("2"));
    }

    void typingIsFiltered_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("letter dropped") << "C" << "1a2" << "12";
        QTest::newRow("signs and point") << "C" << "-1.5+" << "-1.5+";
        QTest::newRow("space and punctuation") << "C" << "7 8!,x" << "78";
        QTest::newRow("comma locale takes comma") << "de_DE" << "1,5" << "1,5";
        QTest::newRow("comma locale drops point") << "de_DE" << "1.5" << "15";
    }
    void typingIsFiltered()
    {
        QFETCH(QString, locale);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        Form form(-10000, 10000);
        form.spin->setText(QString());
        form.spin->setFocus();
        QTest::keyClicks(form.spin, typed);
        QCOMPARE(form.spin->text(), expected);
    }

    void enterAndPageKeysChangeNothing()
    {
        Form form(-10000, 10000);
        form.spin->setFocus();
        QSignalSpy finished(form.spin, &QAbstractSpinBox::editingFinished);
        // Out of range and not an integer: neither is corrected on Enter.
        for (const QString& text : {QStringLiteral("20000"), QStringLiteral("1.5")}) {
            form.spin->setText(text);
            QTest::keyClick(form.spin, Qt::Key_Return);
            QTest::keyClick(form.spin, Qt::Key_Enter);
            QCOMPARE(form.spin->text(), text);
        }
        // Dropped, not handled as the end of an edit.
        QCOMPARE(finished.count(), 0);
        form.spin->setValue(5);
        QTest::keyClick(form.spin, Qt::Key_PageUp);
        QCOMPARE(form.spin->text(), QStringLiteral("5"));
        QTest::keyClick(form.spin, Qt::Key_PageDown);
        QCOMPARE(form.spin->text(), QStringLiteral("5"));
    }

    void editingKeysPassThrough()
    {
        Form form(-10000, 10000);
        form.spin->setFocus();
        form.spin->setText(QStringLiteral("123"));
        QTest::keyClick(form.spin, Qt::Key_End);
        QTest::keyClick(form.spin, Qt::Key_Backspace);
        QCOMPARE(form.spin->text(), QStringLiteral("12"));
        QTest::keyClick(form.spin, Qt::Key_Home);
        QTest::keyClick(form.spin, Qt::Key_Delete);
        QCOMPARE(form.spin->text(), QStringLiteral("2"));
        QTest::keyClick(form.spin, Qt::Key_Right);
        QTest::keyClick(form.spin, Qt::Key_Left);
        QTest::keyClicks(form.spin, QStringLiteral("9"));
        QCOMPARE(form.spin->text(), QStringLiteral("92"));

        // Ctrl+A selects all; the next digit replaces it.
        QTest::keyClick(form.spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(form.spin, QStringLiteral("4"));
        QCOMPARE(form.spin->text(), QStringLiteral("4"));

        // A paste is taken whole, letters and spaces included.
        QApplication::clipboard()->setText(QStringLiteral("a b"));
        QTest::keyClick(form.spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(form.spin, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(form.spin->text(), QStringLiteral("a b"));
        QCOMPARE(form.spin->value(), -10000);
    }

    void arrowKeysStepAndClamp_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("up") << 2 << 50 << "49" << int(Qt::Key_Up) << "50";
        QTest::newRow("up at max") << 2 << 50 << "50" << int(Qt::Key_Up) << "50";
        QTest::newRow("down") << 2 << 50 << "3" << int(Qt::Key_Down) << "2";
        QTest::newRow("down at min") << 2 << 50 << "2" << int(Qt::Key_Down) << "2";
        QTest::newRow("plus sign") << 2 << 50 << "+7" << int(Qt::Key_Up) << "8";
        QTest::newRow("up from text") << 2 << 50 << "abc" << int(Qt::Key_Up) << "3";
        QTest::newRow("down from text") << 2 << 50 << "abc" << int(Qt::Key_Down) << "2";
        QTest::newRow("up far above") << -10000 << 10000 << "20000" << int(Qt::Key_Up) << "10000";
        QTest::newRow("down far above") << -10000 << 10000 << "20000" << int(Qt::Key_Down)
                                        << "10000";
        QTest::newRow("up far below") << -10000 << 10000 << "-20000" << int(Qt::Key_Up)
                                      << "-10000";
        QTest::newRow("up at int max") << 0 << INT_MAX << "2147483647" << int(Qt::Key_Up)
                                       << "2147483647";
        QTest::newRow("down at int min") << INT_MIN << 0 << "-2147483648" << int(Qt::Key_Down)
                                         << "-2147483648";
    }
    void arrowKeysStepAndClamp()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(QString, start);
        QFETCH(int, key);
        QFETCH(QString, expected);
        Form form(minValue, maxValue);
        form.spin->setFocus();
        form.spin->setText(start);
        QTest::keyClick(form.spin, Qt::Key(key));
        QCOMPARE(form.spin->text(), expected);
    }

    void focusLossClampsOutOfRange_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("above") << "20000" << "10000";
        QTest::newRow("below") << "-20000" << "-10000";
        QTest::newRow("in range kept as typed") << "+05" << "+05";
        QTest::newRow("letters stay") << "abc" << "abc";
        QTest::newRow("empty stays") << "" << "";
        QTest::newRow("too big for int stays") << "99999999999" << "99999999999";
    }
    void focusLossClampsOutOfRange()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Form form(-10000, 10000);
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.spin->setFocus();
        QTRY_VERIFY(form.spin->hasFocus());
        form.spin->setText(text);
        QTest::keyClick(form.spin, Qt::Key_Tab);
        QTRY_VERIFY(form.other->hasFocus());
        QCOMPARE(form.spin->text(), expected);
    }

    void arrowButtonsStep()
    {
        Form form(-10000, 10000);
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        form.spin->setValue(5);
        QTest::mouseClick(form.spin, Qt::LeftButton, {},
                          buttonCentre(form.spin, QStyle::SC_SpinBoxUp));
        QCOMPARE(form.spin->text(), QStringLiteral("6"));
        QTest::mouseClick(form.spin, Qt::LeftButton, {},
                          buttonCentre(form.spin, QStyle::SC_SpinBoxDown));
        QTest::mouseClick(form.spin, Qt::LeftButton, {},
                          buttonCentre(form.spin, QStyle::SC_SpinBoxDown));
        QCOMPARE(form.spin->text(), QStringLiteral("4"));
        form.spin->setText(QStringLiteral("abc"));
        QTest::mouseClick(form.spin, Qt::LeftButton, {},
                          buttonCentre(form.spin, QStyle::SC_SpinBoxUp));
        QCOMPARE(form.spin->text(), QStringLiteral("-9999"));
    }

    void holdingAButtonRepeatsAndClamps()
    {
        Form form(0, 3);
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        form.spin->setValue(0);
        const QPoint up = buttonCentre(form.spin, QStyle::SC_SpinBoxUp);
        QTest::mousePress(form.spin, Qt::LeftButton, {}, up);
        QCOMPARE(form.spin->text(), QStringLiteral("1"));
        // Timers never fire early by more than a few percent of 400 ms.
        QTest::qWait(250);
        QCOMPARE(form.spin->text(), QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(form.spin->text(), QStringLiteral("3"), 3000);
        // Further repeats at the maximum keep it there.
        QTest::qWait(350);
        QCOMPARE(form.spin->text(), QStringLiteral("3"));
        QTest::mouseRelease(form.spin, Qt::LeftButton, {}, up);
    }

    void autoRepeatDelaysComeFromItsStyle()
    {
        TSpinEdit spin;
        QStyle* style = spin.style();
        QVERIFY(style != QApplication::style());
        QCOMPARE(style->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatThreshold, nullptr, &spin),
                 400);
        QCOMPARE(style->styleHint(QStyle::SH_SpinBox_ClickAutoRepeatRate, nullptr, &spin), 100);
        // Everything else is the application's style.
        auto* proxy = qobject_cast<QProxyStyle*>(style);
        QVERIFY(proxy);
        QCOMPARE(proxy->baseStyle()->name().toLower(), QApplication::style()->name().toLower());
    }

    void accessibleAsSpinBox()
    {
        TSpinEdit spin;
        spin.setRange(-10000, 10000);
        spin.setValue(42);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&spin);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::SpinBox);
        QAccessibleValueInterface* value = iface->valueInterface();
        QVERIFY(value);
        QCOMPARE(value->currentValue().toInt(), 42);
        QCOMPARE(value->minimumValue().toInt(), -10000);
        QCOMPARE(value->maximumValue().toInt(), 10000);
        spin.setText(QStringLiteral("abc"));
        QCOMPARE(value->currentValue().toInt(), -10000);

        value->setCurrentValue(-7);
        QCOMPARE(spin.text(), QStringLiteral("-7"));
        value->setCurrentValue(20000);
        QCOMPARE(spin.text(), QStringLiteral("10000"));
    }
};

QTEST_MAIN(TestSpinEdit)
#include "test_spinedit.moc"
