#include "capture/camera_dialogs.h"
#include "fake_camera.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <set>

namespace {

enum : std::uint32_t { kBrightness = 1, kAutoWhite, kTemperature, kPowerLine, kPanReset, kGain };

// One control of each kind, an automatic white balance with the
// temperature it takes over, and a number with a step.
void giveWebcamControls(FakeCamera& camera)
{
    camera.list = {
        integer(kBrightness, "Brightness", -64, 64, 1, 0, 10),
        boolean(kAutoWhite, "White Balance, Automatic", 1, 1),
        integer(kTemperature, "White Balance Temperature", 2800, 6500, 10, 4600, 4600),
        menu(kPowerLine, "Power Line Frequency", { { 0, "Disabled" }, { 1, "50 Hz" }, { 2, "60 Hz" } }, 1, 2),
        button(kPanReset, "Pan Reset"),
        integer(kGain, "Gain", 0, 100, 5, 50, 20),
    };
    camera.list[2].inactive = true;
    camera.autoId = kAutoWhite;
    camera.manualId = kTemperature;
}

// A shown source dialog over a system of three cameras, two of one model;
// the first has the webcam controls, the third a zoom and an autofocus.

struct SourceRig {
    FakeSystem system;
    std::shared_ptr<FakeCamera> first = system.plug("/dev/video0", "USB Camera");
    std::shared_ptr<FakeCamera> second = system.plug("/dev/video2", "USB Camera");
    std::shared_ptr<FakeCamera> third = system.plug("/dev/video4", "Integrated Camera");
    std::vector<CameraInfo> attached;
    std::string attachError;
    std::unique_ptr<CameraSourceDialog> dialog;

    SourceRig()
    {
        giveWebcamControls(*first);
        third->list = { integer(100, "Zoom", 100, 500, 1, 100, 100), boolean(101, "Focus, Auto", 1, 1) };
    }
    void open(std::shared_ptr<Camera> current)
    {
        dialog = std::make_unique<CameraSourceDialog>(system, std::move(current), [this](const CameraInfo& info) {
            attached.push_back(info);
            if (!attachError.empty())
                throw CaptureError(attachError);
            return system.open(info.id);
        });
        dialog->show();
    }
    template <class T> T* find(const QString& name) const { return dialog->findChild<T*>(name); }
    template <class T> T* control(std::uint32_t id) const { return find<T>(QStringLiteral("control_%1").arg(id)); }
    QSpinBox* field(std::uint32_t id) const { return find<QSpinBox>(QStringLiteral("control_%1_value").arg(id)); }
    QComboBox* cameraBox() const { return find<QComboBox>(QStringLiteral("cameraBox")); }
    QLabel* status() const { return find<QLabel>(QStringLiteral("statusLabel")); }
    QLabel* labelOf(const QWidget* w) const
    {
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (label->buddy() == w)
                return label;
        return nullptr;
    }
};

} // namespace

class TestCameraSourceDialog : public QObject {
    Q_OBJECT

private slots:
    // --- The camera list ---------------------------------------------------

    void cameraListShowsCurrent_data()
    {
        QTest::addColumn<int>("current"); // index into the rig's cameras, -1 none, 3 unplugged
        QTest::addColumn<int>("selected");
        QTest::newRow("second of two twins") << 1 << 1;
        QTest::newRow("third") << 2 << 2;
        QTest::newRow("none") << -1 << -1;
        QTest::newRow("not plugged in") << 3 << -1;
    }
    void cameraListShowsCurrent()
    {
        QFETCH(int, current);
        QFETCH(int, selected);
        SourceRig rig;
        std::shared_ptr<Camera> camera;
        if (current >= 0 && current < 3)
            camera = rig.system.plugged[std::size_t(current)];
        if (current == 3) {
            auto gone = std::make_shared<FakeCamera>();
            gone->who = { "/dev/video6", "Gone" };
            camera = gone;
        }
        rig.open(camera);
        QCOMPARE(rig.dialog->windowTitle(), QStringLiteral("Video source"));
        QVERIFY(rig.cameraBox());
        QCOMPARE(itemTexts(rig.cameraBox()),
            QStringList({ "USB Camera", "USB Camera (2)", "Integrated Camera" }));
        QCOMPARE(rig.cameraBox()->currentIndex(), selected);
        QVERIFY(rig.attached.empty());
        // Without a camera there is nothing to set.
        const bool none = current < 0;
        QCOMPARE(rig.find<QScrollArea>(QStringLiteral("controlsArea"))->isVisible(), !none);
        QCOMPARE(rig.find<QPushButton>(QStringLiteral("resetButton"))->isEnabled(), current == 0 || current == 2);
    }

    void choosingACameraAttachesIt()
    {
        for (const bool fromNone : { false, true }) {
            SourceRig rig;
            rig.open(fromNone ? nullptr : rig.first);
            QVERIFY(fromNone || rig.control<QSlider>(kBrightness));
            rig.cameraBox()->setCurrentIndex(2);
            QCOMPARE(rig.attached.size(), std::size_t(1));
            QCOMPARE(rig.attached[0], rig.third->who);
            QCOMPARE(rig.dialog->camera(), std::shared_ptr<Camera>(rig.third));
            // The new camera's controls replace the old ones.
            QVERIFY(!rig.control<QWidget>(kBrightness));
            QVERIFY(rig.find<QScrollArea>(QStringLiteral("controlsArea"))->isVisible());
            QCOMPARE(rig.control<QSlider>(100)->value(), 100);
            QVERIFY(rig.control<QCheckBox>(101)->isChecked());
            QVERIFY(rig.status()->text().isEmpty());
            // ...and are set on the new camera.
            rig.control<QSlider>(100)->setValue(200);
            QCOMPARE(rig.third->controlSets, std::vector<ControlSet>({ { 100, 200 } }));
        }
    }

    void attachFailureKeepsTheChoice()
    {
        for (const bool fromNone : { false, true }) {
            SourceRig rig;
            rig.attachError = "Device or resource busy";
            rig.open(fromNone ? nullptr : rig.first);
            rig.cameraBox()->setCurrentIndex(2);
            QCOMPARE(rig.attached.size(), std::size_t(1));
            QCOMPARE(rig.status()->text(), QStringLiteral("Device or resource busy"));
            QVERIFY(rig.status()->isVisible());
            QCOMPARE(rig.cameraBox()->currentIndex(), fromNone ? -1 : 0);
            QCOMPARE(rig.dialog->camera(), fromNone ? nullptr : std::shared_ptr<Camera>(rig.first));
            QCOMPARE(bool(rig.control<QSlider>(kBrightness)), !fromNone);
            QVERIFY(!rig.control<QWidget>(100));
            // The list did not ask again when it went back.
            QCOMPARE(rig.attached.size(), std::size_t(1));
        }
    }

    void noCameraFound()
    {
        FakeSystem empty;
        int attachCalls = 0;
        CameraSourceDialog dialog(empty, nullptr, [&](const CameraInfo&) {
            ++attachCalls;
            return std::shared_ptr<Camera>();
        });
        dialog.show();
        auto* status = dialog.findChild<QLabel*>(QStringLiteral("statusLabel"));
        QVERIFY(status);
        QCOMPARE(status->text(), QStringLiteral("No camera found"));
        QVERIFY(status->isVisible());
        QVERIFY(!dialog.findChild<QComboBox*>());
        QVERIFY(!dialog.findChild<QSlider*>());
        QVERIFY(!dialog.findChild<QScrollArea*>());
        QCOMPARE(dialog.findChildren<QPushButton*>().size(), 1);
        dialog.findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(attachCalls, 0);
    }

    // --- The device's controls -----------------------------------------------

    void controlKindsGetTheirWidgets()
    {
        SourceRig rig;
        rig.open(rig.first);
        auto* brightness = rig.control<QSlider>(kBrightness);
        QVERIFY(brightness);
        QCOMPARE(brightness->minimum(), -64);
        QCOMPARE(brightness->maximum(), 64);
        QCOMPARE(brightness->value(), 10);
        QCOMPARE(rig.field(kBrightness)->minimum(), -64);
        QCOMPARE(rig.field(kBrightness)->maximum(), 64);
        QCOMPARE(rig.field(kBrightness)->value(), 10);
        QCOMPARE(rig.labelOf(brightness)->text(), QStringLiteral("&Brightness:"));

        auto* temperature = rig.control<QSlider>(kTemperature);
        QCOMPARE(temperature->singleStep(), 10);
        QCOMPARE(rig.field(kTemperature)->singleStep(), 10);
        QCOMPARE(temperature->value(), 4600);
        // Inactive while the automatic white balance is on.
        QVERIFY(!temperature->isEnabled());
        QVERIFY(!rig.field(kTemperature)->isEnabled());
        QVERIFY(!rig.labelOf(temperature)->isEnabled());

        auto* autoWhite = rig.control<QCheckBox>(kAutoWhite);
        QVERIFY(autoWhite);
        QVERIFY(autoWhite->isChecked());
        QVERIFY(autoWhite->isEnabled());

        auto* powerLine = rig.control<QComboBox>(kPowerLine);
        QVERIFY(powerLine);
        QCOMPARE(itemTexts(powerLine), QStringList({ "Disabled", "50 Hz", "60 Hz" }));
        QCOMPARE(powerLine->currentIndex(), 2);
        QCOMPARE(rig.labelOf(powerLine)->text().remove(u'&'), QStringLiteral("Power Line Frequency:"));

        auto* panReset = rig.control<QPushButton>(kPanReset);
        QVERIFY(panReset);
        QCOMPARE(panReset->text().remove(u'&'), QStringLiteral("Pan Reset"));

        // Each control is announced by the device's name for it.
        for (const CameraControl& c : rig.first->list)
            QCOMPARE(rig.control<QWidget>(c.id)->accessibleName(), QString::fromStdString(c.name));
        QCOMPARE(rig.field(kBrightness)->accessibleName(), QStringLiteral("Brightness"));
        QVERIFY(rig.first->controlSets.empty());
    }

    void changesReachTheCameraAtOnce()
    {
        SourceRig rig;
        rig.open(rig.first);
        auto& sets = rig.first->controlSets;
        auto* slider = rig.control<QSlider>(kBrightness);
        slider->setValue(20);
        QCOMPARE(sets, std::vector<ControlSet>({ { kBrightness, 20 } }));
        QCOMPARE(rig.field(kBrightness)->value(), 20);

        rig.field(kBrightness)->setValue(-5);
        QCOMPARE(sets.back(), ControlSet(kBrightness, -5));
        QCOMPARE(slider->value(), -5);

        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(sets.back(), ControlSet(kBrightness, -4));

        rig.control<QComboBox>(kPowerLine)->setCurrentIndex(0);
        QCOMPARE(sets.back(), ControlSet(kPowerLine, 0));
        rig.control<QPushButton>(kPanReset)->click();
        QCOMPARE(sets.back(), ControlSet(kPanReset, 1));

        // A slider between two steps sets the nearest step, once.
        auto* gain = rig.control<QSlider>(kGain);
        gain->setValue(23);
        QCOMPARE(sets.back(), ControlSet(kGain, 25));
        QCOMPARE(gain->value(), 25);
        QCOMPARE(rig.field(kGain)->value(), 25);
        const std::size_t count = sets.size();
        gain->setValue(24);
        QCOMPARE(sets.size(), count);
        QCOMPARE(gain->value(), 25);
        QVERIFY(rig.status()->text().isEmpty());
    }

    void inactiveFlagFollowsAChange()
    {
        SourceRig rig;
        rig.open(rig.first);
        QPointer<QSlider> temperature = rig.control<QSlider>(kTemperature);
        QPointer<QCheckBox> autoWhite = rig.control<QCheckBox>(kAutoWhite);
        QVERIFY(!temperature->isEnabled());
        autoWhite->setChecked(false);
        QCOMPARE(rig.first->controlSets, std::vector<ControlSet>({ { kAutoWhite, 0 } }));
        // Same widgets, now enabled: nothing was rebuilt under the mouse.
        QVERIFY(temperature && autoWhite);
        QCOMPARE(rig.control<QSlider>(kTemperature), temperature.data());
        QVERIFY(temperature->isEnabled());
        QVERIFY(rig.field(kTemperature)->isEnabled());
        QVERIFY(rig.labelOf(temperature)->isEnabled());
        autoWhite->setChecked(true);
        QVERIFY(!temperature->isEnabled());
        QVERIFY(!rig.labelOf(temperature)->isEnabled());
    }

    void refusedChangeShowsTheMessage()
    {
        SourceRig rig;
        rig.open(rig.first);
        rig.first->refuse = "Input/output error";
        auto* slider = rig.control<QSlider>(kBrightness);
        slider->setValue(30);
        QCOMPARE(rig.first->controlSets, std::vector<ControlSet>({ { kBrightness, 30 } }));
        QCOMPARE(rig.status()->text(), QStringLiteral("Input/output error"));
        QVERIFY(rig.status()->isVisible());
        // The widgets show what the camera holds, not what it refused.
        QCOMPARE(slider->value(), 10);
        QCOMPARE(rig.field(kBrightness)->value(), 10);
        rig.control<QCheckBox>(kAutoWhite)->setChecked(false);
        QVERIFY(rig.control<QCheckBox>(kAutoWhite)->isChecked());
        QVERIFY(rig.dialog->isVisible());

        // The next change that works clears the message.
        rig.first->refuse.clear();
        slider->setValue(31);
        QCOMPARE(rig.first->controlSets.back(), ControlSet(kBrightness, 31));
        QVERIFY(rig.status()->text().isEmpty());
        QVERIFY(!rig.status()->isVisible());
    }

    // The camera refuses a temperature while its automatic white balance is
    // on, and the switch comes first in its list.
    void resetToDefaults_data()
    {
        QTest::addColumn<int>("autoDefault");
        QTest::addColumn<int>("autoNow");
        QTest::newRow("automatic by default, manual now") << 1 << 0;
        QTest::newRow("manual by default, automatic now") << 0 << 1;
    }
    void resetToDefaults()
    {
        QFETCH(int, autoDefault);
        QFETCH(int, autoNow);
        SourceRig rig;
        rig.first->control(kAutoWhite).defaultValue = autoDefault;
        rig.first->control(kAutoWhite).value = autoNow;
        rig.first->control(kTemperature).inactive = autoNow != 0;
        rig.first->control(kTemperature).value = 3000;
        rig.first->refuseInactive = true;
        rig.open(rig.first);
        // A pressed button reads back as 1; reset must not press it again.
        rig.control<QPushButton>(kPanReset)->click();
        auto& sets = rig.first->controlSets;
        sets.clear();
        rig.find<QPushButton>(QStringLiteral("resetButton"))->click();

        QVERIFY2(rig.status()->text().isEmpty(), qPrintable(rig.status()->text()));
        for (const CameraControl& c : rig.first->list)
            if (c.kind != Kind::Button)
                QCOMPARE(c.value, c.defaultValue);
        // Only what differed was set, and no button was pressed.
        const std::set<ControlSet> wanted = { { kBrightness, 0 }, { kAutoWhite, autoDefault }, { kTemperature, 4600 },
            { kPowerLine, 1 }, { kGain, 50 } };
        QCOMPARE(std::set<ControlSet>(sets.begin(), sets.end()), wanted);
        // The widgets show the defaults, the temperature enabled as it should.
        QCOMPARE(rig.control<QSlider>(kBrightness)->value(), 0);
        QCOMPARE(rig.field(kGain)->value(), 50);
        QCOMPARE(rig.control<QCheckBox>(kAutoWhite)->isChecked(), autoDefault != 0);
        QCOMPARE(rig.control<QSlider>(kTemperature)->value(), 4600);
        QCOMPARE(rig.control<QSlider>(kTemperature)->isEnabled(), autoDefault == 0);
        QCOMPARE(rig.control<QComboBox>(kPowerLine)->currentIndex(), 1);

        // A camera that refuses shows why.
        rig.control<QSlider>(kBrightness)->setValue(5);
        rig.first->refuse = "No such device";
        rig.find<QPushButton>(QStringLiteral("resetButton"))->click();
        QCOMPARE(rig.status()->text(), QStringLiteral("No such device"));
    }

    void manyControlsScroll()
    {
        SourceRig rig;
        rig.first->list.clear();
        for (std::uint32_t id = 1; id <= 60; ++id)
            rig.first->list.push_back(integer(id, "Setting", 0, 255, 1, 128, 128));
        rig.open(rig.first);
        QVERIFY(rig.control<QSlider>(60));
        QVERIFY2(rig.dialog->sizeHint().height() < 700, qPrintable(QString::number(rig.dialog->sizeHint().height())));
        rig.dialog->resize(rig.dialog->sizeHint());
        QCoreApplication::processEvents();
        auto* area = rig.find<QScrollArea>(QStringLiteral("controlsArea"));
        QVERIFY(area->verticalScrollBar()->maximum() > 0);
        // No row is cut off at the side.
        QVERIFY(area->widget()->width() >= area->widget()->minimumSizeHint().width());
    }

    // --- The keyboard ------------------------------------------------------

    void everyLabelHasItsOwnMnemonic()
    {
        SourceRig rig;
        rig.first->list.push_back(integer(20, "Tone & Tint", 0, 10, 1, 5, 5));
        rig.first->list.push_back(integer(21, "Backlight Compensation", 0, 2, 1, 1, 1));
        rig.first->list.push_back(integer(22, "Brightness, Extra", 0, 2, 1, 1, 1));
        rig.open(rig.first);
        QString texts;
        std::set<QChar> letters;
        int withMnemonic = 0;
        const auto collect = [&](const QString& text) {
            for (qsizetype i = 0; i + 1 < text.size(); ++i) {
                if (text[i] != u'&')
                    continue;
                if (text[i + 1] == u'&') {
                    ++i;
                    continue;
                }
                QVERIFY2(letters.insert(text[i + 1].toLower()).second, qPrintable(text));
                ++withMnemonic;
            }
        };
        for (QLabel* label : rig.dialog->findChildren<QLabel*>()) {
            if (!label->buddy())
                continue;
            QVERIFY(!label->buddy()->accessibleName().isEmpty());
            collect(label->text());
        }
        for (QAbstractButton* b : rig.dialog->findChildren<QAbstractButton*>())
            collect(b->text());
        // Camera, reset and all nine controls.
        QCOMPARE(withMnemonic, 11);
        QCOMPARE(rig.labelOf(rig.control<QSlider>(20))->text().remove(u'&'), QStringLiteral("Tone  Tint:"));
        QCOMPARE(rig.control<QSlider>(20)->accessibleName(), QStringLiteral("Tone & Tint"));
    }

    void tabGoesDownTheDialog()
    {
        SourceRig rig;
        rig.open(rig.first);
        QVERIFY(QTest::qWaitForWindowActive(rig.dialog.get()));
        // The controls of a camera attached later still come before the
        // buttons.
        rig.cameraBox()->setCurrentIndex(2);
        rig.cameraBox()->setFocus();
        const QList<QWidget*> expected = { rig.control<QWidget>(100), rig.field(100), rig.control<QWidget>(101),
            rig.find<QWidget>(QStringLiteral("resetButton")), rig.find<QWidget>(QStringLiteral("closeButton")),
            rig.cameraBox() };
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // Enter in a number field sets the value and leaves the dialog open.
        rig.field(100)->setFocus();
        rig.field(100)->selectAll();
        QTest::keyClicks(rig.field(100), "250");
        QVERIFY(rig.third->controlSets.empty());
        QTest::keyClick(rig.field(100), Qt::Key_Return);
        QCOMPARE(rig.third->controlSets, std::vector<ControlSet>({ { 100, 250 } }));
        QVERIFY(rig.dialog->isVisible());
        QTest::keyClick(rig.field(100), Qt::Key_Escape);
        QVERIFY(!rig.dialog->isVisible());
    }
};

QTEST_MAIN(TestCameraSourceDialog)
#include "test_camera_source_dialog.moc"
