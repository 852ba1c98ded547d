// The language switch through the window, the help boxes and the About page.
#include "app/captions.h"
#include "app/form.h"
#include "app/qt_translations.h"
#include "app/widgets.h"
#include "widgets/capture/camera_backend.h"
#include "widgets/capture/capture_window.h"
#include "widgets/capture/control_names.h"
#include "widgets/capture/timer.h"
#include "widgets/spinedit.h"
#include "fake_camera.h"
#include "fixtures.h"
#include "gui_test.h"
#include "version.h"
#include "window_captions.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <linux/videodev2.h>

namespace {

using Window = ShownWindow;

// Chooses an item of the language box as a user does with the keyboard.
void chooseLanguage(TForm1& form, int index)
{
    form.ComboBox1->setFocus();
    while (form.ComboBox1->currentIndex() < index)
        QTest::keyClick(form.ComboBox1, Qt::Key_Down);
    while (form.ComboBox1->currentIndex() > index)
        QTest::keyClick(form.ComboBox1, Qt::Key_Up);
}

// What a language switch must leave alone: every control's enabled and
// shown state, the values the user set, the pictures and the page in front.
QStringList stateOf(TForm1& form)
{
    QStringList state;
    for (QWidget* w : form.findChildren<QWidget*>()) {
        // The window's own controls (Qt's inner widgets move with the tabs'
        // new widths); the notes are the switch's to show and hide.
        static const QRegularExpression ours(QStringLiteral("^[A-Z][A-Za-z]*[0-9]+[a-z]?$"));
        if (!ours.match(w->objectName()).hasMatch() || w->objectName() == QLatin1String("Label15")
            || w->objectName() == QLatin1String("Label16"))
            continue;
        state << QStringLiteral("%1 enabled=%2 hidden=%3 geometry-start=%4,%5")
                     .arg(w->objectName())
                     .arg(w->isEnabled())
                     .arg(w->isHidden())
                     .arg(w->x())
                     .arg(w->y());
    }
    for (QSlider* s : form.findChildren<QSlider*>())
        state << s->objectName() + QStringLiteral("=%1").arg(s->value());
    for (TSpinEdit* e : form.findChildren<TSpinEdit*>())
        state << e->objectName() + QStringLiteral("=%1").arg(e->value());
    for (QAbstractButton* b : form.findChildren<QAbstractButton*>())
        if (b->isCheckable())
            state << b->objectName() + QStringLiteral(" checked=%1").arg(b->isChecked());
    for (TImage* view : { form.Image1, form.Image2, form.Image3 })
        state << view->objectName()
                + QStringLiteral(" %1x%2 %3")
                      .arg(view->picture().width())
                      .arg(view->picture().height())
                      .arg(view->picture().empty() ? 0u : view->picture().pixel(0, 0));
    state << QStringLiteral("page=") + form.PageControl1->currentWidget()->objectName();
    state << QStringLiteral("stream1=%1 stream2=%2 cam2=%3")
                 .arg(form.Timer1->enabled())
                 .arg(form.Timer2->enabled())
                 .arg(form.Cam2Connected);
    state << QStringLiteral("capture windows=%1").arg(form.findChildren<CaptureWindow*>().size());
    return state;
}

// Reads each camera dialog the window opens, as it shows, and closes it: its
// title, its buttons' texts, and the labels and items of its controls.
class DialogReader {
public:
    DialogReader()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->property("read").toBool())
                return;
            dialog->setProperty("read", true);
            QStringList texts { dialog->windowTitle() };
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->buddy())
                    texts << label->text().remove(u'&');
            for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
                texts << b->text().remove(u'&');
            for (QComboBox* box : dialog->findChildren<QComboBox*>())
                if (box->objectName().startsWith(QLatin1String("control_")))
                    texts << itemTexts(box);
            read.push_back(texts);
            dialog->reject();
        });
        timer_.start(20);
    }
    std::vector<QStringList> read;

private:
    QTimer timer_;
};

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT
private slots:
    void keyboardChoiceSwitchesEveryCaption()
    {
        Window w;
        TForm1& f = w.form;
        QCOMPARE(f.Label6->text(), QStringLiteral("Смещение по \u0425"));
        QVERIFY(f.Label15->isVisibleTo(f.TabSheet4) && f.Label16->isHidden());

        chooseLanguage(f, 1);
        QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("English"));
        for (const ExpectedCaption& c : kExpectedCaptions)
            QCOMPARE(shownCaption(f, c.control), QString::fromUtf8(c.english));
        QVERIFY(f.Label15->isHidden() && f.Label16->isVisibleTo(f.TabSheet4));
        // What the switch leaves alone.
        QCOMPARE(f.Label8->text(), QStringLiteral("Интерфейс/Interface:"));
        QCOMPARE(f.BitBtn9->text(), QStringLiteral("Save anaglyph and both frames as BMP"));
        QCOMPARE(f.OpenDialog1.Filter, QStringLiteral("Картинки|*.jpg; *.bmp"));
        QCOMPARE(f.windowTitle(), QStringLiteral("Orvanta"));
        QCOMPARE(f.Label9->text(), QStringLiteral("Orvanta " ORVANTA_VERSION));

        chooseLanguage(f, 0);
        for (const ExpectedCaption& c : kExpectedCaptions)
            QCOMPARE(shownCaption(f, c.control), QString::fromUtf8(c.russian));
        QCOMPARE(f.Label6->text(), QStringLiteral("Смещение по X")); // the Latin X now
        QVERIFY(f.Label15->isVisibleTo(f.TabSheet4) && f.Label16->isHidden());
        // The desktop's own texts followed each choice, and start in Russian.
        QCOMPARE(w.platform.languages, (std::vector<int> { 1, 0 }));
        w.platform.languages.clear();
        TForm1 another { w.platform };
        QCOMPARE(w.platform.languages, std::vector<int> { 0 });
    }

    void labelsTakeTheirNewWidthAtOnce()
    {
        Window w;
        chooseLanguage(w.form, 1);
        for (const CaptionRow& row : switchableCaptions()) {
            if (row.kind != CaptionKind::Label)
                continue;
            auto* label = w.form.findChild<QLabel*>(QLatin1String(row.control));
            QCOMPARE(label->width(), label->sizeHint().width());
        }
    }

    void switchLeavesEverythingElseAsItWas()
    {
        Window w;
        TForm1& f = w.form;
        // Some of everything the user can change.
        TBitmap frame;
        frame.setSize(30, 20);
        f.Image2->setPicture(std::move(frame));
        f.TrackBar2->setValue(100);
        f.SpinEdit1->setValue(-7);
        f.CheckBox1->setChecked(true);
        f.PageControl1->setCurrentWidget(f.TabSheet5);
        f.RadioButton2->click();
        f.Button2->click();
        f.Button1x->click();
        f.CheckBox3->click();
        const QStringList before = stateOf(f);
        chooseLanguage(f, 1);
        QCOMPARE(stateOf(f), before);
        chooseLanguage(f, 0);
        QCOMPARE(stateOf(f), before);
        f.Button1x->click();
    }

    void helpBoxesInTheCurrentLanguage_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("Russian") << 0;
        QTest::newRow("English") << 1;
    }
    void helpBoxesInTheCurrentLanguage()
    {
        QFETCH(int, language);
        Window w;
        chooseLanguage(w.form, language);
        w.form.Button6->click();
        QCOMPARE(w.platform.shown.size(), std::size_t(2));
        const QString first = language == 0
            ? QStringLiteral("Смотрите на область подстройки через красный светофильтр очков. Подстраивайте движки R и GB "
                             "так, чтобы через красный светофильтр панель красного цвета была похожа на белую область, "
                             "а панель голубого цвета на черную область.")
            : QStringLiteral("See to setup area via RED glass. Tune R and GB sliders until you see RED panel seems to be "
                             "as WHITE area, CYAN panel seems to be as BLACK area.");
        const QString second = language == 0
            ? QStringLiteral("Затем проделайте эту же процедуру, рассматривая область через голубой светофильтр. В этом "
                             "случае голубая панель должна казаться белой, а красная - черной. Запомните настроенные "
                             "цифры и всегда выставляйте их на бегунках.")
            : QStringLiteral("After it - repeat it with CYAN glass. In this case tune until CYAN seems to be WHITE, RED "
                             "seems to be BLACK. Remember 3 values of sliders. Set this values everytime as you run this "
                             "program.");
        QCOMPARE(w.platform.shown[0].title, QStringLiteral("Помощь"));
        QCOMPARE(w.platform.shown[0].text, first);
        QCOMPARE(w.platform.shown[1].title, QStringLiteral("Помощь"));
        QCOMPARE(w.platform.shown[1].text, second);
        QVERIFY(w.platform.shown[0].icon == BoxIcon::None);
    }

    // On the desktop's own boxes: however the first is closed, the second
    // follows it.
    void secondHelpBoxFollowsTheFirstHoweverItCloses_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("OK button") << 0;
        QTest::newRow("Enter") << 1;
        QTest::newRow("close box") << 2;
    }
    void secondHelpBoxFollowsTheFirstHoweverItCloses()
    {
        QFETCH(int, how);
        DesktopPlatform desktop;
        TForm1 form { desktop };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QStringList seen;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->property("seen").toBool())
                return;
            box->setProperty("seen", true);
            seen << box->text();
            if (seen.size() == 2 || how == 0)
                box->button(QMessageBox::Ok)->click();
            else if (how == 1)
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->close();
        });
        closer.start(20);
        form.Button6->click();
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen[0].startsWith(QStringLiteral("Смотрите")));
        QVERIFY(seen[1].startsWith(QStringLiteral("Затем")));
    }

    void aboutPageAsLaidOut()
    {
        Window w;
        TForm1& f = w.form;
        QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet4);
        const struct {
            QLabel* label;
            QPoint at;
        } titles[] = { { f.Label10, { 150, 24 } }, { f.Label11, { 154, 24 } }, { f.Label12, { 152, 22 } },
            { f.Label13, { 152, 26 } }, { f.Label9, { 152, 24 } } };
        for (const auto& t : titles) {
            QCOMPARE(t.label->pos(), t.at);
            QCOMPARE(t.label->text(), QStringLiteral("Orvanta " ORVANTA_VERSION));
            QCOMPARE(t.label->size(), f.Label9->size());
            QCOMPARE(t.label->font().pixelSize(), 32);
            QVERIFY(t.label->font().bold());
        }
        QCOMPARE(f.Label9->palette().color(f.Label9->foregroundRole()), QColor(0, 128, 0));
        QCOMPARE(f.Label10->palette().color(f.Label10->foregroundRole()),
            f.palette().color(QPalette::WindowText));
        // The green title is drawn over its outline: the middle of a stroke
        // is green, and the outline shows 2 pixels out from it.
        const QImage page = f.TabSheet4->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int green = 0;
        for (int y = 24; y < 24 + f.Label9->height(); ++y)
            for (int x = 152; x < 152 + f.Label9->width(); ++x)
                green += page.pixel(x, y) == qRgb(0, 128, 0);
        QVERIFY(green > 100);

        QCOMPARE(f.Label14->pos(), QPoint(152, 80));
        QCOMPARE(f.Label14->text(), QString());
        QCOMPARE(f.Image4->geometry(), QRect(4, 88, 140, 100));
        QCOMPARE(f.Image5->geometry(), QRect(24, 24, 100, 50));
        QCOMPARE(f.Image4->picture().format(), QImage::Format_Indexed8);
        QCOMPARE(f.Image4->picture().pixel(0, 99), qRgb(255, 255, 255));
        QCOMPARE(f.Image5->picture().depth(), 24);
        QCOMPARE(f.Image5->picture().pixel(0, 49), qRgb(192, 192, 192));
        for (TLogo* logo : { f.Image4, f.Image5 })
            QCOMPARE(logo->cursor().shape(), Qt::PointingHandCursor);
        // Transparent where the picture has its bottom-left colour.
        QCOMPARE(page.pixel(4 + 1, 88 + 1), f.palette().color(QPalette::Button).rgb());
        QCOMPARE(f.Label15->geometry(), QRect(152, 104, 668, 81));
        QCOMPARE(f.Label16->geometry(), QRect(152, 104, 668, 33));
    }

    // Each note fits its height at the first size, and wraps anew on
    // resize, clipped to its height.
    void notesFitAndWrapAnew()
    {
        Window w;
        TForm1& f = w.form;
        const auto needed = [](QLabel* note) {
            return note->fontMetrics()
                .boundingRect(QRect(0, 0, note->width(), 10000), Qt::TextWordWrap, note->text())
                .height();
        };
        QVERIFY2(needed(f.Label15) <= 81, qPrintable(QString::number(needed(f.Label15))));
        QVERIFY2(needed(f.Label16) <= 33, qPrintable(QString::number(needed(f.Label16))));
        QVERIFY(f.Label15->text().endsWith(QStringLiteral("окна.")));
        QVERIFY(f.Label15->text().contains(QStringLiteral("\"Помощь\"")));
        const int lines = needed(f.Label15);
        f.resize(f.width() - 250, f.height());
        QCOMPARE(f.Label15->width(), 668 - 250);
        QCOMPARE(f.Label15->height(), 81);
        QCOMPARE(f.Label16->height(), 33);
        QVERIFY(needed(f.Label15) > lines);
        f.resize(f.width() + 400, f.height());
        QCOMPARE(f.Label15->width(), 668 + 150);
    }

    void logoClicksAskTheDesktopToOpenThePage()
    {
        Window w;
        TForm1& f = w.form;
        // A white corner of the first logo counts as the logo.
        QTest::mouseClick(f.Image4, Qt::LeftButton, {}, QPoint(1, 1));
        QTest::mouseClick(f.Image5, Qt::LeftButton, {}, QPoint(50, 25));
        // From the keyboard too.
        f.Image5->setFocus();
        QTest::keyClick(f.Image5, Qt::Key_Space);
        QCOMPARE(w.platform.opened.size(), std::size_t(3));
        for (const QUrl& url : w.platform.opened)
            QCOMPARE(url, QUrl(QStringLiteral(ORVANTA_WEB_PAGE)));
        // When the desktop cannot, nothing is reported.
        w.platform.openUrlWorks = false;
        QTest::mouseClick(f.Image4, Qt::LeftButton);
        QVERIFY(w.platform.shown.empty());
        QCOMPARE(w.platform.opened.size(), std::size_t(4));
    }

    // The camera dialogs speak the window's language from the start, and
    // follow it when it changes: their own texts, and the names of the
    // controls the dialog knows; the others keep the driver's names.
    void cameraDialogsSpeakTheWindowsLanguage()
    {
        Window w;
        TForm1& f = w.form;
        auto system = std::make_unique<FakeSystem>();
        std::shared_ptr<FakeCamera> camera = system->plug("/dev/video0", "USB Camera");
        camera->list = {
            integer(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128, 128),
            menu(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency", { { 0, "Disabled" }, { 1, "50 Hz" } }, 1, 1),
            integer(V4L2_CID_ZOOM_ABSOLUTE, "Zoom, Absolute", 100, 500, 1, 100, 100),
        };
        camera->offered = { { { 640, 480 }, { { 1, 30 } } } };
        camera->size = FrameSize { 640, 480 };
        camera->interval = { 1, 30 };
        w.platform.otherCameras = std::make_unique<CameraBackend>(std::move(system), [](const QImage&) {});
        f.PageControl1->setCurrentWidget(f.TabSheet5);
        DialogReader reader;

        const QStringList russianSource { "Источник видео", "Камера:", "Яркость:", "Частота электросети:",
            "Zoom, Absolute:", "Сбросить настройки", "Закрыть", "Выключено", "50 Гц" };
        const QStringList russianFormat { "Формат видео", "Размер кадра:", "Частота кадров:", "OK", "Отмена" };
        const QStringList englishSource { "Video source", "Camera:", "Brightness:", "Power Line Frequency:",
            "Zoom, Absolute:", "Reset to defaults", "Close", "Disabled", "50 Hz" };
        const QStringList englishFormat { "Video format", "Frame size:", "Frame rate:", "OK", "Cancel" };

        f.Button2->click(); // connecting shows the source dialog
        chooseLanguage(f, 1);
        f.Button1s->click();
        f.Button1f->click();
        chooseLanguage(f, 0);
        f.Button1s->click();
        f.Button1f->click();
        QCOMPARE(reader.read.size(), std::size_t(5));
        QCOMPARE(reader.read[0], russianSource);
        QCOMPARE(reader.read[1], englishSource);
        QCOMPARE(reader.read[2], englishFormat);
        QCOMPARE(reader.read[3], russianSource);
        QCOMPARE(reader.read[4], russianFormat);
        QVERIFY(camera->controlSets.empty() && camera->modeSets.empty());
    }

    // The gain sliders have no caption of their own beside them: their names
    // for assistive tools follow the language, as the labels above do.
    void gainSlidersAreNamedInTheWindowsLanguage()
    {
        Window w;
        TForm1& f = w.form;
        const auto names = [&] {
            return QStringList { f.TrackBar1->accessibleName(), f.TrackBar2->accessibleName(),
                f.TrackBar3->accessibleName() };
        };
        const QStringList russian { QStringLiteral("Красный R"), QStringLiteral("Голубой G"), QStringLiteral("Голубой B") };
        QCOMPARE(names(), russian);
        chooseLanguage(f, 1);
        QCOMPARE(names(), (QStringList { "Red R", "Cyan G", "Cyan B" }));
        chooseLanguage(f, 0);
        QCOMPARE(names(), russian);
    }

    // The stream squares tell assistive tools in words what their colour
    // says: on every path that sets the colour, in the window's language.
    void streamSquaresTellTheirStateInWords()
    {
        Window w;
        TForm1& f = w.form;
        f.PageControl1->setCurrentWidget(f.TabSheet5);
        const auto states = [&] { return QStringList { f.Panel5->accessibleName(), f.Panel11->accessibleName() }; };
        const QString on = QStringLiteral("Идёт поток");
        const QString off = QStringLiteral("Поток остановлен");
        QCOMPARE(states(), (QStringList { off, off }));
        f.Button2->click();
        f.Button1x->click();
        QCOMPARE(states(), (QStringList { on, off }));
        f.RadioButton2->click();
        f.Button8->click();
        f.Button7->click();
        QCOMPARE(states(), (QStringList { on, on }));

        chooseLanguage(f, 1);
        QCOMPARE(states(), (QStringList { "Streaming", "Streaming" }));
        f.Button7->click();
        QCOMPARE(states(), (QStringList { "Streaming", "Stopped" }));
        // A camera that is gone stops its stream as the button does.
        testPlatform().cameras.switches().unplugged = true;
        QTRY_COMPARE_WITH_TIMEOUT(states(), (QStringList { "Stopped", "Stopped" }), 3000);
        QVERIFY(!f.Timer1->enabled());
        testPlatform().cameras.switches().unplugged = false;
        f.Button1x->click();
        QCOMPARE(states(), (QStringList { "Streaming", "Stopped" }));

        chooseLanguage(f, 0);
        QCOMPARE(states(), (QStringList { on, off }));
        // The colours still say the same.
        QCOMPARE(f.Panel5->color(), TColor(0x8000));
        QCOMPARE(f.Panel11->color(), TColor(0xFF));
        f.Button1x->click();
        QCOMPARE(states(), (QStringList { off, off }));
    }

    void qtSpeaksTheWindowsLanguage()
    {
        const auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
        const auto lookIn = [] { return QCoreApplication::translate("QFileDialog", "Look in:"); };
        // The windows of the tests before left the test platform speaking
        // Russian; only this object's translations are to count here.
        testPlatform().translations.use(1);
        QtTranslations translations;
        QVERIFY2(translations.use(0), qPrintable(QtTranslations::folder()));
        QCOMPARE(cancel(), QStringLiteral("Отмена"));
        QVERIFY(lookIn() != QStringLiteral("Look in:"));
        // Ours come with Qt's, and go with them.
        const auto close = [] { return QCoreApplication::translate("CameraSourceDialog", "Close"); };
        QCOMPARE(close(), QStringLiteral("Закрыть"));
        QCOMPARE(cameraControlName(V4L2_CID_GAIN, "Gain"), QStringLiteral("Усиление"));
        QVERIFY(translations.use(1));
        QCOMPARE(cancel(), QStringLiteral("Cancel"));
        QCOMPARE(lookIn(), QStringLiteral("Look in:"));
        QCOMPARE(close(), QStringLiteral("Close"));
        QCOMPARE(cameraControlName(V4L2_CID_GAIN, "Gain"), QStringLiteral("Gain"));
        QVERIFY(translations.use(0));
        QCOMPARE(cancel(), QStringLiteral("Отмена"));
        QCOMPARE(close(), QStringLiteral("Закрыть"));
    }
};

ORVANTA_GUI_TEST_MAIN(TestLanguage)
#include "test_language.moc"
