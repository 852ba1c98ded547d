#include "widgets/capture/camera_dialogs.h"
#include "dialog_translation.h"
#include "fake_camera.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

namespace {

struct FormatRig {
    FakeCamera camera;
    std::unique_ptr<CameraFormatDialog> dialog;

    FormatRig()
    {
        camera.offered = {
            { { 640, 480 }, { { 1, 30 }, { 1, 15 }, { 2, 15 } } },
            { { 1280, 720 }, { { 1, 10 }, { 1, 30 } } },
            { { 320, 240 }, {} },
            { { 640, 480 }, { { 1, 30 }, { 1, 60 } } },
        };
        camera.size = FrameSize { 640, 480 };
        camera.interval = { 1, 15 };
    }
    void open()
    {
        dialog = std::make_unique<CameraFormatDialog>(camera);
        dialog->show();
    }
    QComboBox* sizes() const { return dialog->findChild<QComboBox*>(QStringLiteral("frameSizeBox")); }
    QComboBox* rates() const { return dialog->findChild<QComboBox*>(QStringLiteral("frameRateBox")); }
    QLabel* status() const { return dialog->findChild<QLabel*>(QStringLiteral("statusLabel")); }
    QPushButton* ok() const { return dialog->findChild<QPushButton*>(QStringLiteral("okButton")); }
    QPushButton* cancel() const { return dialog->findChild<QPushButton*>(QStringLiteral("cancelButton")); }
};

} // namespace

class TestCameraFormatDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void dialogInTheInstalledLanguage_data()
    {
        QTest::addColumn<bool>("russian");
        QTest::addColumn<QStringList>("fixed"); // title, size and rate labels, OK, Cancel
        QTest::addColumn<QString>("rate"); // of 7.5 frames a second
        QTest::addColumn<QString>("cameraChooses"); // a size without rates of its own
        QTest::addColumn<QString>("noSizes");
        QTest::newRow("English") << false
                                 << QStringList { "Video format", "Frame size:", "Frame rate:", "OK", "Cancel" }
                                 << "7.5 fps" << "Default" << "The camera offers no frame sizes.";
        QTest::newRow("Russian") << true
                                 << QStringList { "Формат видео", "Размер кадра:", "Частота кадров:", "OK", "Отмена" }
                                 << "7.5 кадр/с" << "По умолчанию" << "Камера не предлагает ни одного размера кадра.";
    }
    void dialogInTheInstalledLanguage()
    {
        QFETCH(bool, russian);
        QFETCH(QStringList, fixed);
        QFETCH(QString, rate);
        QFETCH(QString, cameraChooses);
        QFETCH(QString, noSizes);
        RussianDialogs language(russian);
        QCOMPARE(language.loaded(), russian);
        FormatRig rig;
        rig.open();
        const auto plain = [](QString text) { return text.remove(u'&'); };
        const auto labelOf = [&](QWidget* w) {
            for (QLabel* label : rig.dialog->findChildren<QLabel*>())
                if (label->buddy() == w)
                    return plain(label->text());
            return QString();
        };
        QCOMPARE((QStringList { rig.dialog->windowTitle(), labelOf(rig.sizes()), labelOf(rig.rates()),
                     plain(rig.ok()->text()), plain(rig.cancel()->text()) }),
            fixed);
        // The boxes are announced in the same words as their labels.
        QCOMPARE(rig.sizes()->accessibleName(), fixed[1].chopped(1));
        QCOMPARE(rig.rates()->accessibleName(), fixed[2].chopped(1));
        QCOMPARE(rig.sizes()->itemText(0), QStringLiteral("640 × 480"));
        QCOMPARE(rig.rates()->itemText(2), rate);
        rig.sizes()->setCurrentIndex(2);
        QCOMPARE(itemTexts(rig.rates()), QStringList { cameraChooses });

        FakeCamera none;
        CameraFormatDialog empty(none);
        QCOMPARE(empty.findChild<QLabel*>(QStringLiteral("statusLabel"))->text(), noSizes);
    }

    void formatListsSizesAndRates()
    {
        FormatRig rig;
        rig.open();
        QCOMPARE(rig.dialog->windowTitle(), QStringLiteral("Video format"));
        QCOMPARE(itemTexts(rig.sizes()), QStringList({ "640 × 480", "1280 × 720", "320 × 240" }));
        QCOMPARE(rig.sizes()->currentIndex(), 0);
        QCOMPARE(itemTexts(rig.rates()), QStringList({ "30 fps", "15 fps", "7.5 fps", "60 fps" }));
        QCOMPARE(rig.rates()->currentText(), QStringLiteral("15 fps"));

        // A rate chosen is kept where the new size offers it...
        rig.rates()->setCurrentIndex(0);
        rig.sizes()->setCurrentIndex(1);
        QCOMPARE(itemTexts(rig.rates()), QStringList({ "10 fps", "30 fps" }));
        QCOMPARE(rig.rates()->currentText(), QStringLiteral("30 fps"));
        // ...a size without rates leaves the choice to the camera...
        rig.sizes()->setCurrentIndex(2);
        QCOMPARE(itemTexts(rig.rates()), QStringList({ "Default" }));
        // ...and back, the camera's own rate is found again.
        rig.sizes()->setCurrentIndex(0);
        QCOMPARE(rig.rates()->currentText(), QStringLiteral("15 fps"));
        QVERIFY(rig.camera.modeSets.empty());
    }

    void rateTexts_data()
    {
        QTest::addColumn<uint>("numerator");
        QTest::addColumn<uint>("denominator");
        QTest::addColumn<QString>("text");
        QTest::newRow("30") << 1u << 30u << "30 fps";
        QTest::newRow("7.5") << 2u << 15u << "7.5 fps";
        QTest::newRow("NTSC") << 1001u << 30000u << "29.97 fps";
        QTest::newRow("slower than one") << 3u << 1u << "0.33 fps";
        QTest::newRow("fast") << 1u << 1000u << "1000 fps";
        QTest::newRow("unknown") << 0u << 0u << "Default";
    }
    void rateTexts()
    {
        QFETCH(uint, numerator);
        QFETCH(uint, denominator);
        QFETCH(QString, text);
        FormatRig rig;
        rig.camera.offered = { { { 640, 480 }, { { numerator, denominator } } } };
        rig.open();
        QCOMPARE(itemTexts(rig.rates()), QStringList({ text }));
    }

    void okSetsTheChosenMode_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("width");
        QTest::addColumn<uint>("numerator");
        QTest::addColumn<uint>("denominator");
        QTest::newRow("as it was") << 0 << 1 << 640 << 1u << 15u;
        QTest::newRow("merged rate") << 0 << 3 << 640 << 1u << 60u;
        QTest::newRow("other size") << 1 << 0 << 1280 << 1u << 10u;
        QTest::newRow("camera's rate") << 2 << 0 << 320 << 0u << 0u;
    }
    void okSetsTheChosenMode()
    {
        QFETCH(int, size);
        QFETCH(int, rate);
        QFETCH(int, width);
        QFETCH(uint, numerator);
        QFETCH(uint, denominator);
        FormatRig rig;
        rig.open();
        rig.sizes()->setCurrentIndex(size);
        rig.rates()->setCurrentIndex(rate);
        rig.ok()->click();
        QCOMPARE(rig.camera.modeSets.size(), std::size_t(1));
        QCOMPARE(rig.camera.modeSets[0].first.width, width);
        QCOMPARE(rig.camera.modeSets[0].second, (FrameInterval { numerator, denominator }));
        QVERIFY(!rig.dialog->isVisible());
        QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));
    }

    void refusedModeKeepsTheDialogOpen()
    {
        FormatRig rig;
        rig.camera.refuse = "Device or resource busy";
        rig.open();
        rig.sizes()->setCurrentIndex(1);
        rig.ok()->click();
        QCOMPARE(rig.camera.modeSets.size(), std::size_t(1));
        QCOMPARE(rig.status()->text(), QStringLiteral("Device or resource busy"));
        QVERIFY(rig.status()->isVisible());
        QVERIFY(rig.dialog->isVisible());
        QCOMPARE(rig.sizes()->currentIndex(), 1);
        // Enter tries again.
        QTest::keyClick(rig.sizes(), Qt::Key_Return);
        QCOMPARE(rig.camera.modeSets.size(), std::size_t(2));
        QVERIFY(rig.dialog->isVisible());
    }

    void cancelChangesNothing()
    {
        for (const bool escape : { false, true }) {
            FormatRig rig;
            rig.open();
            rig.sizes()->setCurrentIndex(1);
            if (escape)
                QTest::keyClick(rig.sizes(), Qt::Key_Escape);
            else
                rig.cancel()->click();
            QVERIFY(!rig.dialog->isVisible());
            QCOMPARE(rig.dialog->result(), int(QDialog::Rejected));
            QVERIFY(rig.camera.modeSets.empty());
            QCOMPARE(rig.camera.size, std::optional<FrameSize>(FrameSize { 640, 480 }));
        }
    }

    void formatKeyboard()
    {
        FormatRig rig;
        rig.open();
        QVERIFY(QTest::qWaitForWindowActive(rig.dialog.get()));
        rig.sizes()->setFocus();
        for (QWidget* next : { static_cast<QWidget*>(rig.rates()), static_cast<QWidget*>(rig.ok()),
                 static_cast<QWidget*>(rig.cancel()), static_cast<QWidget*>(rig.sizes()) }) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        for (QComboBox* box : { rig.sizes(), rig.rates() }) {
            QLabel* label = nullptr;
            for (QLabel* l : rig.dialog->findChildren<QLabel*>())
                if (l->buddy() == box)
                    label = l;
            QVERIFY(label);
            QVERIFY(label->text().contains(u'&'));
            QCOMPARE(label->text().remove(u'&'), box->accessibleName() + u':');
        }
    }
};

QTEST_MAIN(TestCameraFormatDialog)
#include "test_camera_format_dialog.moc"
