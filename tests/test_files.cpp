// Opening frames and saving pictures through the window's buttons and
// dialogs.
#include "app/form.h"
#include "app/widgets.h"
#include "widgets/spinedit.h"
#include "fixtures.h"
#include "gui_test.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>


namespace {

// Answers the window's file dialogs from a script and records what each was
// shown: the test program's platform, cleared for each window.
struct ScriptedDialogs {
    ScriptedDialogs()
    {
        testPlatform().dialogs.clear();
        testPlatform().answers.clear();
    }
    void answer(const QString& name) { testPlatform().answer(name); }
    void cancel() { testPlatform().cancel(); }
    std::vector<ShownDialog>& shown = testPlatform().dialogs;
};

qint64 fileSize(const QString& name) { return QFileInfo(name).exists() ? QFileInfo(name).size() : -1; }

TBitmap load(const QString& name) { return loadPictureFile(QFile::encodeName(name).toStdString()); }

struct Window {
    TForm1 form { testPlatform() };
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    Window()
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    QString file(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
};

} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void buttonsAndDialogsAsLaidOut()
    {
        Window w;
        QCOMPARE(w.form.BitBtn1->geometry(), QRect(6, 16, 115, 33));
        QCOMPARE(w.form.BitBtn2->geometry(), QRect(6, 56, 115, 33));
        QVERIFY(!w.form.BitBtn1->icon().isNull());
        const QList<std::tuple<QPushButton*, QWidget*, int, int>> saves = {
            { w.form.BitBtn5, w.form.TabSheet2, 5, 172 }, { w.form.BitBtn7, w.form.TabSheet2, 181, 172 },
            { w.form.BitBtn4, w.form.TabSheet1, 5, 172 }, { w.form.BitBtn6, w.form.TabSheet1, 181, 172 },
            { w.form.BitBtn3, w.form.TabSheet3, 5, 172 }, { w.form.BitBtn8, w.form.TabSheet3, 181, 172 },
            { w.form.BitBtn9, w.form.TabSheet3, 357, 228 },
        };
        w.form.resize(1000, 700); // the buttons keep to the bottom of their page
        for (const auto& [button, page, left, width] : saves) {
            w.form.PageControl1->setCurrentWidget(page);
            QCOMPARE(button->parentWidget(), page);
            QCOMPARE(button->geometry(), QRect(left, page->height() - 25, width, 25));
        }

        // Cameras write PHOTO.JPG: the open filter matches any letter case.
        const QString filter = qtNameFilter(w.form.OpenDialog1.Filter);
        QVERIFY(filter.startsWith(QStringLiteral("Картинки (")));
        const QStringList patterns = filter.section(u'(', 1).chopped(1).split(u' ');
        for (const char* name : { "PHOTO.JPG", "photo.jpg", "Scan.Bmp", "a.bMp" }) {
            bool matched = false;
            for (const QString& p : patterns)
                matched |= QRegularExpression::fromWildcard(p, Qt::CaseSensitive).match(QString::fromLatin1(name)).hasMatch();
            QVERIFY2(matched, name);
        }
        for (const QString& p : patterns)
            QVERIFY(!QRegularExpression::fromWildcard(p, Qt::CaseSensitive).match(QStringLiteral("photo.png")).hasMatch());
    }

    void openingBringsTheFrameAndItsPage()
    {
        Window w;
        const TBitmap left = patterned(64, 48, 1);
        writeFile(w.file("left.jpg.bmp"), encodeJpeg(left)); // a JPEG whatever its name
        writeFile(w.file("right"), encodeBmp(patterned(64, 48, 2)));
        w.form.Image2->setPicture(patterned(700, 500, 9)); // a larger frame before
        w.dialogs.answer(w.file("left.jpg.bmp"));
        w.click(w.form.BitBtn1);
        QVERIFY(w.boxes.shown.empty());
        QCOMPARE(w.form.Image2->size(), QSize(64, 48));
        QCOMPARE(w.form.Image2->picture().width(), 64);
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet2);
        QCOMPARE(w.dialogs.shown[0].filter, QStringLiteral("Картинки|*.jpg; *.bmp"));
        QCOMPARE(w.dialogs.shown[0].mode, FileDialogMode::Open);
        QVERIFY(w.dialogs.shown[0].fileName.isEmpty());

        // The other button opens in the last file's folder, with its name.
        w.dialogs.answer(w.file("right"));
        w.click(w.form.BitBtn2);
        QCOMPARE(w.dialogs.shown[1].fileName, w.file("left.jpg.bmp"));
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet1);
        QVERIFY(samePixels(w.form.Image1->picture(), patterned(64, 48, 2)));

        // Frames of the same size build.
        QTest::mouseClick(w.form.Button3, Qt::LeftButton);
        QVERIFY(w.boxes.shown.empty());
        QCOMPARE(w.form.Image3->picture().width(), 64);
    }

    void cancellingChangesNothing()
    {
        Window w;
        w.form.Image2->setPicture(patterned(10, 10, 1));
        w.dialogs.cancel();
        w.click(w.form.BitBtn1);
        QVERIFY(samePixels(w.form.Image2->picture(), patterned(10, 10, 1)));
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet4);
        QVERIFY(w.boxes.shown.empty());
        for (QPushButton* b : { w.form.BitBtn5, w.form.BitBtn7, w.form.BitBtn9 }) {
            w.dialogs.cancel();
            w.click(b);
        }
        QVERIFY(QDir(w.dir.path()).isEmpty());
    }

    // Each kind of bad file is reported and the frame, its view and the page
    // in front stay exactly as they were.
    void badFilesLeaveTheFrameUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing" << "Cannot open file \"%1\". No such file or directory.";
        QTest::newRow("text named .jpg") << "text" << "Not a JPEG or BMP picture.";
        QTest::newRow("truncated JPEG") << "jpeg" << "";
        QTest::newRow("truncated BMP") << "bmp" << "";
    }
    void badFilesLeaveTheFrameUntouched()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        Window w;
        const QString name = w.file("bad.jpg");
        if (kind == "text") {
            const std::string text = "not a picture\n";
            writeFile(name, std::vector<std::uint8_t>(text.begin(), text.end()));
        } else if (kind == "jpeg" || kind == "bmp") {
            auto bytes = kind == "jpeg" ? encodeJpeg(patterned(300, 200, 3)) : encodeBmp(patterned(300, 200, 3));
            bytes.resize(bytes.size() / 2);
            writeFile(name, bytes);
        }
        w.form.Image2->setPicture(patterned(40, 30, 5));
        w.form.PageControl1->setCurrentWidget(w.form.TabSheet3);
        w.dialogs.answer(name);
        w.click(w.form.BitBtn1);
        QCOMPARE(int(w.boxes.shown.size()), 1);
        QCOMPARE(w.boxes.shown[0].title, QStringLiteral("Orvanta"));
        if (!message.isEmpty())
            QCOMPARE(w.boxes.shown[0].text, message.arg(name));
        QVERIFY(samePixels(w.form.Image2->picture(), patterned(40, 30, 5)));
        QCOMPARE(w.form.Image2->size(), QSize(40, 30));
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet3);
        // The name is remembered even though opening it failed.
        QCOMPARE(w.form.OpenDialog1.FileName, name);
    }

    void savingAppliesTheExtensionAndRemembersTheName()
    {
        Window w;
        w.form.Image2->setPicture(patterned(33, 17, 1));
        w.form.Image1->setPicture(patterned(33, 17, 2));
        w.dialogs.answer(w.file("photo"));
        w.click(w.form.BitBtn5); // frame 1 as JPEG
        QVERIFY(w.boxes.shown.empty());
        const TBitmap saved = load(w.file("photo.jpg"));
        QCOMPARE(saved.width(), 33);
        QCOMPARE(saved.height(), 17);
        // The next JPEG save, from another page, starts from the name as typed.
        w.dialogs.answer(w.file("photo.JPG"));
        w.click(w.form.BitBtn4); // frame 2 as JPEG
        QCOMPARE(w.dialogs.shown[1].fileName, w.file("photo"));
        QCOMPARE(w.dialogs.shown[1].filter, QStringLiteral("JPEG|*.jpg"));
        QVERIFY(QFileInfo::exists(w.file("photo.JPG")));
        // BMP saves have their own dialog and name.
        w.dialogs.answer(w.file("frame"));
        w.click(w.form.BitBtn6); // frame 2 as BMP
        QCOMPARE(w.dialogs.shown[2].fileName, QString());
        QCOMPARE(w.dialogs.shown[2].filter, QStringLiteral("BMP|*.bmp"));
        QVERIFY(samePixels(load(w.file("frame.bmp")), patterned(33, 17, 2)));
        w.dialogs.answer(w.file("frame.Bmp"));
        w.click(w.form.BitBtn7); // frame 1 as BMP, over nothing, name kept
        QVERIFY(samePixels(load(w.file("frame.Bmp")), patterned(33, 17, 1)));
        // Saving over an existing file replaces it without a question.
        w.dialogs.answer(w.file("frame.bmp"));
        w.click(w.form.BitBtn7);
        QVERIFY(samePixels(load(w.file("frame.bmp")), patterned(33, 17, 1)));
        QVERIFY(w.boxes.shown.empty());
    }

    void savedFrameOpensAgainToTheSamePixels()
    {
        Window w;
        w.form.Image1->setPicture(patterned(57, 31, 6));
        w.dialogs.answer(w.file("round"));
        w.click(w.form.BitBtn6);
        w.dialogs.answer(w.file("round.bmp"));
        w.click(w.form.BitBtn1);
        QVERIFY(samePixels(w.form.Image2->picture(), patterned(57, 31, 6)));
    }

    void anaglyphIsSavedCropped()
    {
        Window w;
        w.form.Image2->setPicture(patterned(100, 80, 1));
        w.form.Image1->setPicture(patterned(100, 80, 2));
        w.form.SpinEdit1->setValue(5);
        w.form.SpinEdit2->setValue(-3);
        QTest::mouseClick(w.form.Button3, Qt::LeftButton);
        w.dialogs.answer(w.file("a"));
        w.click(w.form.BitBtn8);
        QVERIFY(samePixels(load(w.file("a.bmp")), w.form.Image3->picture()));
        QCOMPARE(load(w.file("a.bmp")).width(), 95);
        w.dialogs.answer(w.file("a"));
        w.click(w.form.BitBtn3); // runs Button4Click
        QCOMPARE(load(w.file("a.jpg")).height(), 77);
    }

    void threeFileSaveWritesFramesThenAnaglyph()
    {
        Window w;
        w.form.Image2->setPicture(patterned(20, 10, 1));
        w.form.Image1->setPicture(patterned(20, 10, 2));
        QTest::mouseClick(w.form.Button3, Qt::LeftButton);
        w.dialogs.answer(w.file("scene.bmp"));
        w.click(w.form.BitBtn9);
        QVERIFY(samePixels(load(w.file("scene.bmp_f1.bmp")), patterned(20, 10, 1)));
        QVERIFY(samePixels(load(w.file("scene.bmp_f2.bmp")), patterned(20, 10, 2)));
        QVERIFY(samePixels(load(w.file("scene.bmp_a.bmp")), w.form.Image3->picture()));

        // An error stops the save where it arises: the first file is
        // written, the second cannot be, the third is not tried.
        QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("scene_f2.bmp")));
        w.dialogs.answer(w.file("scene"));
        w.click(w.form.BitBtn9);
        QCOMPARE(int(w.boxes.shown.size()), 1);
        QCOMPARE(w.boxes.shown[0].text,
            QStringLiteral("Cannot create file \"%1\". Is a directory.").arg(w.file("scene_f2.bmp")));
        QVERIFY(QFileInfo::exists(w.file("scene_f1.bmp")));
        QVERIFY(!QFileInfo::exists(w.file("scene_a.bmp")));
    }

    void emptyPicturesGiveEmptyFiles()
    {
        Window w;
        w.dialogs.answer(w.file("e"));
        w.click(w.form.BitBtn3);
        QCOMPARE(fileSize(w.file("e.jpg")), 0);
        w.dialogs.answer(w.file("e"));
        w.click(w.form.BitBtn8);
        QCOMPARE(fileSize(w.file("e.bmp")), 0);
        w.dialogs.answer(w.file("start"));
        w.click(w.form.BitBtn9);
        for (const char* name : { "start_f1.bmp", "start_f2.bmp", "start_a.bmp" })
            QCOMPARE(fileSize(w.file(name)), 0);
        QVERIFY(w.boxes.shown.empty());
    }
};

ORVANTA_GUI_TEST_MAIN(TestFiles)
#include "test_files.moc"
