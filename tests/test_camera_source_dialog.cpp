#include "widgets/capture/camera_dialogs.h"
#include "dialog_translation.h"
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

#include <linux/videodev2.h>

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

// The letter a text's "&" marks, lower-cased, or a null QChar.
QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1].toLower();
        ++i;
    }
    return {};
}

// The common controls by their Video4Linux2 ids, named as drivers name them,
// and two the dialog has no name of its own for: a pan, and a gain at a
// driver's private id.
constexpr std::uint32_t kPrivateGain = V4L2_CID_USER_BASE + 0x1000;
void giveV4l2Controls(FakeCamera& camera)
{
    camera.list = {
        integer(V4L2_CID_BRIGHTNESS, "Brightness", 0, 255, 1, 128, 128),
        // Newer kernels drop the comma of our source text.
        boolean(V4L2_CID_AUTO_WHITE_BALANCE, "White Balance Automatic", 1, 1),
        integer(V4L2_CID_WHITE_BALANCE_TEMPERATURE, "White Balance Temperature", 2800, 6500, 10, 4600, 4600),
        menu(V4L2_CID_POWER_LINE_FREQUENCY, "Power Line Frequency",
            { { 0, "Disabled" }, { 1, "50 Hz" }, { 2, "60 Hz" }, { 3, "Auto" } }, 1, 1),
        // A value the standard menu does not have.
        menu(V4L2_CID_EXPOSURE_AUTO, "Auto Exposure",
            { { 1, "Manual Mode" }, { 3, "Aperture Priority Mode" }, { 7, "Vendor Mode" } }, 3, 3),
        integer(V4L2_CID_PAN_ABSOLUTE, "Pan, Absolute", -36000, 36000, 3600, 0, 0),
        integer(kPrivateGain, "Gain", 0, 10, 1, 5, 5),
    };
}

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

    // --- The language -------------------------------------------------------

    void dialogInTheInstalledLanguage_data()
    {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<QStringList>("fixed"); // title, camera label, reset, close
        QTest::addColumn<QStringList>("names"); // the controls in giveV4l2Controls's order
        QTest::addColumn<QStringList>("powerLine");
        QTest::addColumn<QStringList>("exposure");
        QTest::addColumn<QStringList>("statuses"); // no camera; a camera without controls
        QTest::newRow("English: the driver's names")
            << false << QStringList { "Video source", "Camera:", "Reset to defaults", "Close" }
            << QStringList { "Brightness", "White Balance Automatic", "White Balance Temperature",
                   "Power Line Frequency", "Auto Exposure", "Pan, Absolute", "Gain" }
            << QStringList { "Disabled", "50 Hz", "60 Hz", "Auto" }
            << QStringList { "Manual Mode", "Aperture Priority Mode", "Vendor Mode" }
            << QStringList { "No camera found", "This camera has no settings of its own." };
        QTest::newRow("Russian: ours for the known ids")
            << true << QStringList { "Источник видео", "Камера:", "Сбросить настройки", "Закрыть" }
            << QStringList { "Яркость", "Автоматический баланс белого", "Температура баланса белого",
                   "Частота электросети", "Режим экспозиции", "Pan, Absolute", "Gain" }
            << QStringList { "Выключено", "50 Гц", "60 Гц", "Автоматически" }
            << QStringList { "Вручную", "Приоритет диафрагмы", "Vendor Mode" }
            << QStringList { "Камера не найдена", "У этой камеры нет собственных настроек." };
    }
    void dialogInTheInstalledLanguage()
    {
        QFETCH(bool, russian);
        QFETCH(QStringList, fixed);
        QFETCH(QStringList, names);
        QFETCH(QStringList, powerLine);
        QFETCH(QStringList, exposure);
        QFETCH(QStringList, statuses);
        RussianDialogs language(russian);
        QCOMPARE(language.loaded(), russian);
        SourceRig rig;
        giveV4l2Controls(*rig.first);
        rig.open(rig.first);
        const auto plain = [](QString text) { return text.remove(u'&'); };
        QCOMPARE(rig.dialog->windowTitle(), fixed[0]);
        QCOMPARE(plain(rig.labelOf(rig.cameraBox())->text()), fixed[1]);
        QCOMPARE(plain(rig.find<QPushButton>(QStringLiteral("resetButton"))->text()), fixed[2]);
        QCOMPARE(plain(rig.find<QPushButton>(QStringLiteral("closeButton"))->text()), fixed[3]);

        QStringList shown;
        QStringList announced;
        for (const CameraControl& c : rig.first->list) {
            auto* editor = rig.control<QWidget>(c.id);
            QVERIFY(editor);
            if (auto* check = qobject_cast<QCheckBox*>(editor))
                shown << plain(check->text());
            else
                shown << plain(rig.labelOf(editor)->text()).chopped(1); // the colon
            announced << editor->accessibleName();
        }
        QCOMPARE(shown, names);
        QCOMPARE(announced, names);
        QCOMPARE(rig.field(V4L2_CID_BRIGHTNESS)->accessibleName(), names[0]);
        QCOMPARE(itemTexts(rig.control<QComboBox>(V4L2_CID_POWER_LINE_FREQUENCY)), powerLine);
        QCOMPARE(itemTexts(rig.control<QComboBox>(V4L2_CID_EXPOSURE_AUTO)), exposure);
        // The items still carry the device's values.
        auto* exposureBox = rig.control<QComboBox>(V4L2_CID_EXPOSURE_AUTO);
        QCOMPARE(exposureBox->currentText(), exposure[1]);
        exposureBox->setCurrentIndex(2);
        QCOMPARE(rig.first->controlSets, std::vector<ControlSet>({ { V4L2_CID_EXPOSURE_AUTO, 7 } }));

        // Translated names take mnemonics of their own letters, each once.
        std::set<QChar> letters;
        for (QLabel* label : rig.dialog->findChildren<QLabel*>())
            if (label->buddy())
                letters.insert(mnemonicOf(label->text()));
        for (QAbstractButton* b : rig.dialog->findChildren<QAbstractButton*>())
            if (!b->text().isEmpty())
                letters.insert(mnemonicOf(b->text()));
        // The camera, reset and every control but Close, which has none.
        letters.erase(QChar());
        QCOMPARE(letters.size(), std::size_t(2 + rig.first->list.size()));
        QCOMPARE(mnemonicOf(rig.labelOf(rig.control<QWidget>(V4L2_CID_BRIGHTNESS))->text()),
            names[0][0].toLower());

        // The status line's own texts.
        FakeSystem empty;
        CameraSourceDialog none(empty, nullptr, [](const CameraInfo&) { return std::shared_ptr<Camera>(); });
        QCOMPARE(none.findChild<QLabel*>(QStringLiteral("statusLabel"))->text(), statuses[0]);
        rig.cameraBox()->setCurrentIndex(1); // the second camera has no controls
        QStringList texts;
        for (QLabel* label : rig.find<QScrollArea>(QStringLiteral("controlsArea"))->findChildren<QLabel*>())
            texts << label->text();
        QCOMPARE(texts, QStringList { statuses[1] });
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
