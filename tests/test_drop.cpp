// Files dropped on the window: delivered as the desktop delivers a drag, to
// the window's QWindow at a point, which passes it on to the widget there
// that takes drops.
#include "app/form.h"
#include "app/widgets.h"
#include "fixtures.h"
#include "gui_test.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QDropEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWindow>

namespace {

TBitmap load(const QString& name) { return loadPictureFile(QFile::encodeName(name).toStdString()); }

QList<QUrl> localUrls(const QStringList& names)
{
    QList<QUrl> urls;
    for (const QString& name : names)
        urls << QUrl::fromLocalFile(name);
    return urls;
}

struct Window {
    TForm1 form { testPlatform() };
    RecordingBoxes boxes;
    ScriptedPlatform& platform = testPlatform();
    QTemporaryDir dir;
    Window()
    {
        platform.dialogs.clear();
        platform.answers.clear();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    QString file(const QString& name) const { return dir.filePath(name); }

    // A point of the window by name, with the page it lies on brought to
    // the front first.
    QPoint place(const QString& where)
    {
        QTabWidget* pages = form.PageControl1;
        // The page in front is laid out once events have run.
        auto on = [&](QWidget* page, QWidget* widget) {
            pages->setCurrentWidget(page);
            QCoreApplication::processEvents();
            return widget->mapTo(&form, widget->rect().center());
        };
        auto tab = [&](QWidget* inFront, QWidget* page) {
            pages->setCurrentWidget(inFront);
            QCoreApplication::processEvents();
            QTabBar* bar = pages->tabBar();
            return bar->mapTo(&form, bar->tabRect(pages->indexOf(page)).center());
        };
        if (where == "frame 1's picture")
            return on(form.TabSheet2, form.ScrollBox2->viewport());
        if (where == "frame 2's picture")
            return on(form.TabSheet1, form.ScrollBox1->viewport());
        if (where == "frame 1's save button")
            return on(form.TabSheet2, form.BitBtn7);
        if (where == "frame 1's tab")
            return tab(form.TabSheet3, form.TabSheet2);
        if (where == "frame 2's tab")
            return tab(form.TabSheet4, form.TabSheet1);
        if (where == "the anaglyph's picture")
            return on(form.TabSheet3, form.ScrollBox3->viewport());
        if (where == "the about page")
            return on(form.TabSheet4, form.TabSheet4);
        if (where == "the webcam tab")
            return tab(form.TabSheet2, form.TabSheet5);
        if (where == "the glasses group")
            return form.GroupBox3->mapTo(&form, form.GroupBox3->rect().center());
        qFatal("no place %s", qPrintable(where));
    }
};

// What the window answered to each step of a drag.
struct DragAnswers {
    bool enter = false;
    bool move = false;
    bool drop = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

bool sendTo(QWindow* window, QDropEvent& event)
{
    QCoreApplication::sendEvent(window, &event);
    return event.isAccepted();
}

// Drags the data in at a point and drops it there. The drop is sent even
// when the drag was refused, so that a drop arriving anyway is seen to be
// refused too. The drop's work is left queued.
DragAnswers dragAndDrop(TForm1& form, const QMimeData& data, QPoint at,
    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    QWindow* window = form.windowHandle();
    DragAnswers answers;
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    answers.enter = sendTo(window, enter);
    QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
    answers.move = sendTo(window, move);
    QDropEvent drop(QPointF(at), actions, &data, Qt::LeftButton, Qt::NoModifier);
    answers.drop = sendTo(window, drop);
    answers.action = drop.dropAction();
    return answers;
}

DragAnswers dropFiles(Window& w, const QStringList& names, const QString& where)
{
    QMimeData data;
    data.setUrls(localUrls(names));
    return dragAndDrop(w.form, data, w.place(where));
}

void letTheDropRun() { QCoreApplication::processEvents(); }

} // namespace

class TestDrop : public QObject {
    Q_OBJECT
private slots:
    void oneFileOpensAsTheFrameOfItsPage_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("bmp");
        QTest::addColumn<int>("frame");
        QTest::newRow("JPEG on frame 1's picture") << "frame 1's picture" << false << 1;
        QTest::newRow("JPEG on frame 2's picture") << "frame 2's picture" << false << 2;
        QTest::newRow("BMP on frame 2's picture") << "frame 2's picture" << true << 2;
        QTest::newRow("BMP on frame 1's save button") << "frame 1's save button" << true << 1;
        QTest::newRow("on frame 1's tab, the anaglyph in front") << "frame 1's tab" << false << 1;
        QTest::newRow("on frame 2's tab, the about page in front") << "frame 2's tab" << false << 2;
    }
    void oneFileOpensAsTheFrameOfItsPage()
    {
        QFETCH(QString, where);
        QFETCH(bool, bmp);
        QFETCH(int, frame);
        Window w;
        // A name that must survive the trip through a file URL.
        const QString name = w.file(bmp ? QStringLiteral("кадр #1 %20.bmp") : QStringLiteral("кадр #1 %20.jpg"));
        writeFile(name, bmp ? encodeBmp(patterned(64, 48, 3)) : encodeJpeg(patterned(64, 48, 3)));
        w.form.Image2->setPicture(patterned(20, 10, 1));
        w.form.Image1->setPicture(patterned(20, 10, 2));
        TImage* target = frame == 1 ? w.form.Image2 : w.form.Image1;
        TImage* other = frame == 1 ? w.form.Image1 : w.form.Image2;
        const TBitmap otherBefore = patterned(20, 10, frame == 1 ? 2 : 1);

        const DragAnswers answers = dropFiles(w, { name }, where);
        QVERIFY(answers.enter);
        QVERIFY(answers.move);
        QVERIFY(answers.drop);
        // Offered a move too, the window takes a copy: the source keeps its file.
        QCOMPARE(answers.action, Qt::CopyAction);
        letTheDropRun();

        QVERIFY(w.boxes.shown.empty());
        QVERIFY(w.platform.dialogs.empty());
        const TBitmap expected = load(name);
        QVERIFY(samePixels(target->picture(), expected));
        QCOMPARE(target->size(), QSize(64, 48));
        QVERIFY(samePixels(other->picture(), otherBefore));
        QCOMPARE(w.form.PageControl1->currentWidget(), frame == 1 ? w.form.TabSheet2 : w.form.TabSheet1);
        // As after the open button, the next open dialog starts at the file.
        QCOMPARE(w.form.OpenDialog1.FileName, name);
    }

    // Full local paths compared byte by byte, in the local 8-bit encoding;
    // the first of the two in the drag is always the later one.
    void twoFilesOpenInNameOrder_data()
    {
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<QString>("later");
        QTest::addColumn<QString>("where");
        QTest::newRow("a before b") << "a.jpg" << "b.jpg" << "the glasses group";
        QTest::newRow("capitals before small letters") << "B.jpg" << "a.jpg" << "the anaglyph's picture";
        QTest::newRow("digits compared as characters") << "frame10.jpg" << "frame9.jpg" << "frame 2's picture";
        // UTF-8 puts U+FF21 before U+1F600; UTF-16 code units would not.
        QTest::newRow("bytes, not UTF-16") << QStringLiteral("\uFF21.jpg") << QStringLiteral("\U0001F600.jpg") << "the webcam tab";
        // The folder decides before the file's own name.
        QTest::newRow("folder first") << "a/z.jpg" << "b/a.jpg" << "frame 1's tab";
    }
    void twoFilesOpenInNameOrder()
    {
        QFETCH(QString, earlier);
        QFETCH(QString, later);
        QFETCH(QString, where);
        Window w;
        QVERIFY(QDir(w.dir.path()).mkpath(QStringLiteral("a")));
        QVERIFY(QDir(w.dir.path()).mkpath(QStringLiteral("b")));
        // Different sizes and contents, so a swap shows.
        writeFile(w.file(earlier), encodeJpeg(patterned(40, 30, 1)));
        writeFile(w.file(later), encodeBmp(patterned(36, 24, 2)));

        const DragAnswers answers = dropFiles(w, { w.file(later), w.file(earlier) }, where);
        QVERIFY(answers.enter);
        QVERIFY(answers.drop);
        letTheDropRun();

        QVERIFY(w.boxes.shown.empty());
        QVERIFY(samePixels(w.form.Image2->picture(), load(w.file(earlier))));
        QCOMPARE(w.form.Image2->size(), QSize(40, 30));
        QVERIFY(samePixels(w.form.Image1->picture(), patterned(36, 24, 2)));
        // As after pressing both open buttons in turn.
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet1);
        QCOMPARE(w.form.OpenDialog1.FileName, w.file(later));
    }

    // What cannot be opened is found by the loader, as with the open
    // button, and reported in the same words.
    void badFilesGiveTheOpenButtonsMessage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("text named .jpg") << "text";
        QTest::newRow("truncated JPEG") << "truncated";
        QTest::newRow("missing") << "missing";
        QTest::newRow("folder") << "folder";
    }
    void badFilesGiveTheOpenButtonsMessage()
    {
        QFETCH(QString, kind);
        Window w;
        const QString name = w.file(QStringLiteral("bad.jpg"));
        if (kind == "text") {
            const std::string text = "not a picture\n";
            writeFile(name, std::vector<std::uint8_t>(text.begin(), text.end()));
        } else if (kind == "truncated") {
            auto bytes = encodeJpeg(patterned(300, 200, 3));
            bytes.resize(bytes.size() / 2);
            writeFile(name, bytes);
        } else if (kind == "folder") {
            QVERIFY(QDir(w.dir.path()).mkdir(QStringLiteral("bad.jpg")));
        }
        w.form.Image2->setPicture(patterned(40, 30, 5));

        w.form.PageControl1->setCurrentWidget(w.form.TabSheet3);
        w.platform.answer(name);
        QTest::mouseClick(w.form.BitBtn1, Qt::LeftButton);
        QCOMPARE(int(w.boxes.shown.size()), 1);
        const ShownBox byButton = w.boxes.shown[0];
        w.boxes.shown.clear();

        const DragAnswers answers = dropFiles(w, { name }, QStringLiteral("frame 1's tab"));
        QVERIFY(answers.drop);
        // The drop is over before the box waits for the user.
        QVERIFY(w.boxes.shown.empty());
        letTheDropRun();
        QCOMPARE(int(w.boxes.shown.size()), 1);
        QCOMPARE(w.boxes.shown[0].title, byButton.title);
        QCOMPARE(w.boxes.shown[0].text, byButton.text);
        QVERIFY(w.boxes.shown[0].icon == byButton.icon);
        QVERIFY(samePixels(w.form.Image2->picture(), patterned(40, 30, 5)));
        QCOMPARE(w.form.Image2->size(), QSize(40, 30));
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet3);
    }

    // A pair opens frame 1 first; an error stops it there.
    void anErrorStopsAPairWhereItArises_data()
    {
        QTest::addColumn<bool>("firstBad");
        QTest::newRow("frame 1's file bad") << true;
        QTest::newRow("frame 2's file bad") << false;
    }
    void anErrorStopsAPairWhereItArises()
    {
        QFETCH(bool, firstBad);
        Window w;
        const QString first = w.file(QStringLiteral("1.jpg"));
        const QString second = w.file(QStringLiteral("2.jpg"));
        const std::string text = "not a picture\n";
        const std::vector<std::uint8_t> junk(text.begin(), text.end());
        writeFile(first, firstBad ? junk : encodeJpeg(patterned(30, 20, 1)));
        writeFile(second, firstBad ? encodeJpeg(patterned(30, 20, 2)) : junk);
        w.form.Image2->setPicture(patterned(10, 10, 7));
        w.form.Image1->setPicture(patterned(10, 10, 8));

        QVERIFY(dropFiles(w, { second, first }, QStringLiteral("the about page")).drop);
        letTheDropRun();
        QCOMPARE(int(w.boxes.shown.size()), 1);
        QCOMPARE(w.boxes.shown[0].text, QStringLiteral("Not a JPEG or BMP picture."));
        if (firstBad) {
            QVERIFY(samePixels(w.form.Image2->picture(), patterned(10, 10, 7)));
            QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet4);
        } else {
            QVERIFY(samePixels(w.form.Image2->picture(), load(first)));
            QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet2);
        }
        QVERIFY(samePixels(w.form.Image1->picture(), patterned(10, 10, 8)));
    }

    // Refused where it is dropped, and drops of the wrong kind refused from
    // the moment they enter: nothing opens and nothing is said.
    void refusedDropsChangeNothing_data()
    {
        QTest::addColumn<QStringList>("urls"); // "FILE" stands for a picture file of the test
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("actions");
        QTest::addColumn<bool>("enters"); // one file may yet be carried to a frame
        const int copy = Qt::CopyAction | Qt::MoveAction;
        const QStringList one { "FILE" };
        QTest::newRow("one file on the anaglyph") << one << "" << "the anaglyph's picture" << copy << true;
        QTest::newRow("one file on the about page") << one << "" << "the about page" << copy << true;
        QTest::newRow("one file on the webcam tab") << one << "" << "the webcam tab" << copy << true;
        QTest::newRow("one file on a group box") << one << "" << "the glasses group" << copy << true;
        QTest::newRow("three files") << QStringList { "FILE", "FILE", "FILE" } << "" << "frame 1's picture" << copy
                                     << false;
        QTest::newRow("text") << QStringList {} << "FILE" << "frame 1's picture" << copy << false;
        QTest::newRow("a web address") << QStringList { "https://example.org/a.jpg" } << ""
                                       << "frame 1's picture" << copy << false;
        QTest::newRow("a file and a web address") << QStringList { "FILE", "https://example.org/a.jpg" } << ""
                                                  << "the glasses group" << copy << false;
        QTest::newRow("a file that can only be moved")
            << one << "" << "frame 1's picture" << int(Qt::MoveAction) << false;
    }
    void refusedDropsChangeNothing()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, text);
        QFETCH(QString, where);
        QFETCH(int, actions);
        QFETCH(bool, enters);
        Window w;
        const QString picture = w.file(QStringLiteral("a.jpg"));
        writeFile(picture, encodeJpeg(patterned(30, 20, 1)));
        QMimeData data;
        QList<QUrl> list;
        for (const QString& url : urls)
            list << (url == "FILE" ? QUrl::fromLocalFile(picture) : QUrl(url));
        if (!list.isEmpty())
            data.setUrls(list);
        if (!text.isEmpty())
            data.setText(text == "FILE" ? picture : text);
        w.form.Image2->setPicture(patterned(10, 10, 7));
        w.form.Image1->setPicture(patterned(10, 10, 8));
        const QPoint at = w.place(where);
        QWidget* inFront = w.form.PageControl1->currentWidget();

        const DragAnswers answers = dragAndDrop(w.form, data, at, Qt::DropActions(actions));
        QCOMPARE(answers.enter, enters);
        QVERIFY(!answers.move);
        QVERIFY(!answers.drop);
        letTheDropRun();
        QVERIFY(samePixels(w.form.Image2->picture(), patterned(10, 10, 7)));
        QVERIFY(samePixels(w.form.Image1->picture(), patterned(10, 10, 8)));
        QCOMPARE(w.form.PageControl1->currentWidget(), inFront);
        QVERIFY(w.boxes.shown.empty());
        QVERIFY(w.platform.dialogs.empty());
        QVERIFY(w.form.OpenDialog1.FileName.isEmpty());
    }

    // While one file is dragged across the window, the answer follows the
    // pointer, and the drop lands where the pointer is last.
    void answerFollowsThePointer()
    {
        Window w;
        const QString name = w.file(QStringLiteral("a.jpg"));
        writeFile(name, encodeJpeg(patterned(30, 20, 4)));
        QMimeData data;
        data.setUrls(localUrls({ name }));
        const Qt::DropActions actions = Qt::CopyAction;
        QWindow* window = w.form.windowHandle();
        // Every tab is on the bar whichever page is in front.
        w.form.PageControl1->setCurrentWidget(w.form.TabSheet3);
        QTabBar* bar = w.form.PageControl1->tabBar();
        auto tabOf = [&](QWidget* page) { return bar->mapTo(&w.form, bar->tabRect(w.form.PageControl1->indexOf(page)).center()); };

        // A file may enter anywhere: it can still be carried to a frame.
        const QPoint group = w.place(QStringLiteral("the glasses group"));
        QDragEnterEvent enter(group, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(sendTo(window, enter));
        const QList<std::pair<QPoint, bool>> path = { { group, false }, { tabOf(w.form.TabSheet1), true },
            { tabOf(w.form.TabSheet5), false }, { tabOf(w.form.TabSheet3), false }, { tabOf(w.form.TabSheet2), true } };
        for (const auto& [at, taken] : path) {
            QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
            QCOMPARE(sendTo(window, move), taken);
        }
        QDropEvent drop(QPointF(tabOf(w.form.TabSheet2)), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(sendTo(window, drop));
        letTheDropRun();
        QVERIFY(samePixels(w.form.Image2->picture(), load(name)));
        QVERIFY(w.form.Image1->picture().empty());
        QCOMPARE(w.form.PageControl1->currentWidget(), w.form.TabSheet2);
    }
};

ORVANTA_GUI_TEST_MAIN(TestDrop)
#include "test_drop.moc"
