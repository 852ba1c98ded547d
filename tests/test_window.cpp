// The window as the user first sees it: title, size, placement, the skeleton
// of group boxes and pages, the captions fitting their controls, and how the
// layout follows a resize.
#include "app/captions.h"
#include "app/form.h"
#include "app/widgets.h"
#include "widgets/gauge.h"
#include "widgets/spinedit.h"
#include "gui_test.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void startState()
    {
        TForm1 form { testPlatform() };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Orvanta"));
        QCOMPARE(form.size(), QSize(859, 526));
        QCOMPARE(form.font().pixelSize(), 11);
        QCOMPARE(form.PageControl1->currentWidget(), form.TabSheet4);
        for (TImage* view : { form.Image1, form.Image2, form.Image3 }) {
            QCOMPARE(view->size(), QSize(640, 480));
            QVERIFY(view->picture().empty());
        }
        const QList<QSize> iconSizes = form.windowIcon().availableSizes();
        for (int s : { 16, 32, 48 })
            QVERIFY2(iconSizes.contains(QSize(s, s)), qPrintable(QString::number(s)));
    }

    void placementIsCentredOnTheVirtualDesktop_data()
    {
        QTest::addColumn<QSize>("desktop");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("800 x 600: negative left raised to 0") << QSize(800, 600) << QPoint(0, 20);
        QTest::newRow("1280 x 800") << QSize(1280, 800) << QPoint(206, 120);
        QTest::newRow("two monitors side by side") << QSize(3840, 1080) << QPoint(1486, 260);
        QTest::newRow("odd remainder truncated") << QSize(1024, 769) << QPoint(78, 104);
        QTest::newRow("smaller than the window") << QSize(640, 480) << QPoint(0, 0);
    }
    void placementIsCentredOnTheVirtualDesktop()
    {
        QFETCH(QSize, desktop);
        QFETCH(QPoint, topLeft);
        QCOMPARE(TForm1::startPosition(desktop), topLeft);
    }

    void skeletonGeometry()
    {
        TForm1 form { testPlatform() };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.GroupBox2->geometry(), QRect(8, 0, 129, 97));
        QCOMPARE(form.GroupBox3->geometry(), QRect(144, 0, 337, 97));
        QCOMPARE(form.PageControl1->geometry(), QRect(2, 101, 854, 421));
        QCOMPARE(form.GroupBox1->geometry(), QRect(488, 0, 369, 97));

        // Tabs in creation order (their captions are the caption table's).
        const QList<QWidget*> pages = { form.TabSheet2, form.TabSheet1, form.TabSheet3, form.TabSheet5, form.TabSheet4 };
        QCOMPARE(form.PageControl1->count(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(form.PageControl1->widget(i), pages[i]);
        // All five tabs fit in one row without scroll buttons.
        QTabBar* bar = form.PageControl1->tabBar();
        QVERIFY(bar->tabRect(4).right() < bar->width());

        // Picture pages: the scroll box fills the page but for 4 pixels at the
        // top and 32 at the bottom; the views sit at its top-left.
        for (QScrollArea* box : { form.ScrollBox1, form.ScrollBox2, form.ScrollBox3 }) {
            QWidget* page = box->parentWidget();
            form.PageControl1->setCurrentWidget(page);
            QCOMPARE(page->size(), QSize(846, 393));
            QCOMPARE(box->geometry(), QRect(0, 4, 846, 357));
            QCOMPARE(box->widget()->pos(), QPoint(0, 0));
        }
        QCOMPARE(form.ScrollBox1->widget(), form.Image1);
        QCOMPARE(form.ScrollBox2->widget(), form.Image2);
        QCOMPARE(form.ScrollBox3->widget(), form.Image3);
    }

    void everyControlHasItsNameAndPlace()
    {
        TForm1 form { testPlatform() };
        struct Place {
            const char* name;
            QWidget* parent;
            QRect rect;
        };
        const QList<Place> places = {
            { "Panel3", form.GroupBox3, { 8, 16, 113, 65 } },
            { "Panel4", form.GroupBox3, { 8, 48, 113, 33 } },
            { "Panel1", form.GroupBox3, { 24, 32, 33, 33 } },
            { "Panel2", form.GroupBox3, { 72, 32, 33, 33 } },
            { "TrackBar1", form.GroupBox3, { 192, 13, 113, 25 } },
            { "TrackBar2", form.GroupBox3, { 192, 37, 113, 25 } },
            { "TrackBar3", form.GroupBox3, { 192, 61, 113, 25 } },
            { "Button6", form.GroupBox3, { 126, 61, 57, 25 } },
            { "SpinEdit1", form.GroupBox1, { 8, 32, 57, 22 } },
            { "SpinEdit2", form.GroupBox1, { 96, 32, 57, 22 } },
            { "CheckBox1", form.GroupBox1, { 184, 15, 97, 17 } },
            { "Gauge1", form.GroupBox1, { 168, 32, 105, 25 } },
            { "Button3", form.GroupBox1, { 280, 10, 81, 25 } },
            { "Button5", form.GroupBox1, { 280, 37, 81, 25 } },
            { "Label17", form.GroupBox1, { 279, 67, 52, 17 } },
            { "SpinEdit3", form.GroupBox1, { 312, 64, 49, 22 } },
            { "ComboBox1", form.GroupBox1, { 8, 72, 89, 21 } },
        };
        for (const Place& p : places) {
            auto* w = form.findChild<QWidget*>(QLatin1String(p.name));
            QVERIFY2(w, p.name);
            QCOMPARE(w->parentWidget(), p.parent);
            QCOMPARE(w->geometry(), p.rect);
        }
        const QList<QPair<const char*, QPoint>> labels = {
            { "Label1", { 128, 16 } }, { "Label2", { 128, 48 } }, { "Label3", { 304, 16 } },
            { "Label4", { 304, 40 } }, { "Label5", { 304, 64 } }, { "Label6", { 8, 16 } },
            { "Label7", { 96, 16 } }, { "Label8", { 8, 59 } },
        };
        for (const auto& [name, pos] : labels) {
            auto* label = form.findChild<QLabel*>(QLatin1String(name));
            QVERIFY2(label, name);
            QCOMPARE(label->pos(), pos);
        }
        QCOMPARE(form.ComboBox1->count(), 2);
        QCOMPARE(form.ComboBox1->itemText(0), QStringLiteral("Русский"));
        QCOMPARE(form.ComboBox1->itemText(1), QStringLiteral("English"));
        QCOMPARE(form.ComboBox1->currentIndex(), 0);
        QVERIFY(!form.CheckBox1->isChecked());
        QCOMPARE(form.SpinEdit1->text(), QStringLiteral("0"));
        QCOMPARE(form.SpinEdit3->text(), QStringLiteral("2"));
        QCOMPARE(form.Gauge1->maxValue(), 60000);
        QCOMPARE(form.Gauge1->progress(), 0);
    }

    // Every caption fits its control, and no control stacked above a label
    // or a check box covers its text, at the initial size in both languages.
    void captionsFitAndStayUncovered_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("Russian, at start") << -1;
        QTest::newRow("English") << 1;
        QTest::newRow("Russian, applied") << 0;
    }
    void captionsFitAndStayUncovered()
    {
        QFETCH(int, language);
        TForm1 form { testPlatform() };
        if (language >= 0)
            applyLanguage(form, language);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Where each caption's text is drawn, in its parent's coordinates.
        QList<QPair<QWidget*, QRect>> texts;
        for (QAbstractButton* b : form.findChildren<QAbstractButton*>()) {
            if (b->text().isEmpty())
                continue;
            // Push buttons keep a few pixels of frame on each side; check
            // boxes need their indicator beside the text.
            const bool check = qobject_cast<QCheckBox*>(b) != nullptr;
            int room = check ? b->width() - 18 : b->width() - 6;
            if (!b->icon().isNull())
                room -= b->iconSize().width() + 4; // the picture stands beside the caption
            const int need = b->fontMetrics().horizontalAdvance(b->text());
            QVERIFY2(need <= room, qPrintable(b->objectName() + ": " + b->text()));
            if (check)
                texts.append({ b, QRect(b->x() + 18, b->y(), need, b->height()) });
        }
        for (QLabel* l : form.findChildren<QLabel*>()) {
            if (l->text().isEmpty())
                continue;
            const QSize need = l->wordWrap() ? l->fontMetrics().boundingRect(QRect(0, 0, l->width(), 1000),
                                                   Qt::TextWordWrap, l->text()).size()
                                             : l->fontMetrics().size(0, l->text());
            QVERIFY2(need.width() <= l->width() && need.height() <= l->height(),
                qPrintable(l->objectName() + ": " + l->text()));
            texts.append({ l, QRect(l->pos(), need) });
        }
        for (QGroupBox* g : form.findChildren<QGroupBox*>())
            QVERIFY(g->fontMetrics().horizontalAdvance(g->title()) + 16 <= g->width());

        // A sibling later in its parent's child list is painted over it.
        for (const auto& [control, text] : texts) {
            if (control->isHidden())
                continue; // the note of the other language
            const QObjectList siblings = control->parentWidget()->children();
            for (qsizetype i = siblings.indexOf(control) + 1; i < siblings.size(); ++i) {
                auto* above = qobject_cast<QWidget*>(siblings[i]);
                // The About page's title is one caption drawn five times on
                // transparent labels, on purpose: the outline.
                auto* aboveLabel = qobject_cast<QLabel*>(above);
                auto* label = qobject_cast<QLabel*>(control);
                if (aboveLabel && label && aboveLabel->text() == label->text() && !aboveLabel->autoFillBackground())
                    continue;
                if (above && above->isVisible() && !above->isWindow())
                    QVERIFY2(!above->geometry().intersects(text),
                        qPrintable(QString("%1 covers the text of %2 (\"%3\")")
                                .arg(above->objectName(), control->objectName(),
                                    qobject_cast<QLabel*>(control) ? qobject_cast<QLabel*>(control)->text()
                                                                   : qobject_cast<QAbstractButton*>(control)->text())));
            }
        }
    }

    void pageControlFollowsTheWindow_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::newRow("larger") << QSize(1200, 800);
        QTest::newRow("initial") << QSize(859, 526);
        QTest::newRow("just wide enough") << QSize(857, 400);
        QTest::newRow("lower") << QSize(900, 300);
    }
    void pageControlFollowsTheWindow()
    {
        QFETCH(QSize, client);
        TForm1 form { testPlatform() };
        form.show();
        form.resize(client);
        QVERIFY(!form.findChild<QScrollBar*>()->isVisible());
        const QRect pc = form.PageControl1->geometry();
        QCOMPARE(pc.topLeft(), QPoint(2, 101));
        QCOMPARE(form.width() - (pc.x() + pc.width()), 3);
        QCOMPARE(form.height() - (pc.y() + pc.height()), 4);
        QCOMPARE(form.GroupBox1->geometry(), QRect(488, 0, 369, 97));
    }

    void narrowWindowScrollsTheGroupBoxesIntoView()
    {
        TForm1 form { testPlatform() };
        form.show();
        form.resize(700, 400);
        QScrollBar* horizontal = nullptr;
        for (QScrollBar* bar : form.findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly))
            if (bar->orientation() == Qt::Horizontal)
                horizontal = bar;
        QVERIFY(horizontal);
        QVERIFY(horizontal->isVisible());
        QCOMPARE(horizontal->y() + horizontal->height(), form.height());
        horizontal->setValue(horizontal->maximum());
        // The right edge of the building group box can be reached.
        QCOMPARE(form.GroupBox1->geometry().right() + 1, horizontal->width());
        QCOMPARE(form.GroupBox2->x(), 8 - horizontal->value());

        form.resize(857, 400);
        QVERIFY(!horizontal->isVisible());
        QCOMPARE(form.GroupBox1->x(), 488);
    }

    void controlsAreReachableByKeyboardAndAccessible()
    {
        TForm1 form { testPlatform() };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // Tab walks the building group box in its own order.
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Button3->setFocus();
        const QList<QWidget*> order = { form.SpinEdit1, form.SpinEdit2, form.CheckBox1, form.Button5,
            form.ComboBox1, form.SpinEdit3 };
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            // A spin box hands its focus to its line edit.
            QVERIFY2(focused == next || focused->parentWidget() == next, qPrintable(next->objectName()));
        }
        QAccessibleInterface* spin = QAccessible::queryAccessibleInterface(form.SpinEdit1);
        QVERIFY(spin);
        QCOMPARE(spin->role(), QAccessible::SpinBox);
        QCOMPARE(spin->text(QAccessible::Name), QStringLiteral("Смещение по \u0425"));
        QAccessibleInterface* gauge = QAccessible::queryAccessibleInterface(form.Gauge1);
        QVERIFY(gauge);
        QCOMPARE(gauge->role(), QAccessible::ProgressBar);
        QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(form.TrackBar1);
        QCOMPARE(slider->role(), QAccessible::Slider);
        QCOMPARE(slider->valueInterface()->currentValue().toInt(), 255);
        QVERIFY(!slider->text(QAccessible::Name).isEmpty());
    }
};

ORVANTA_GUI_TEST_MAIN(TestWindow)
#include "test_window.moc"
