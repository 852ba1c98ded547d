// Opening frames from picture files and saving the frames and the anaglyph:
// the buttons, the file dialogs, files dropped on the window and their
// handlers.
#include "anchors.h"
#include "form.h"
#include "icon.h"
#include "platform.h"
#include "widgets.h"

#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

namespace {

QPushButton* makeGlyphButton(QWidget* parent, const char* name, const QIcon& glyph, QRect r)
{
    QPushButton* button = makeButton(parent, name, r);
    button->setIcon(glyph);
    button->setIconSize(QSize(16, 16));
    return button;
}

std::string localPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

// The local files a drag carries when they are one or two and nothing else;
// otherwise none.
QStringList droppedFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 && urls.size() != 2)
        return {};
    QStringList files;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile() || url.toLocalFile().isEmpty())
            return {};
        files << url.toLocalFile();
    }
    return files;
}

} // namespace

void TForm1::createFileControls()
{
    BitBtn1 = makeGlyphButton(GroupBox2, "BitBtn1", openFolderGlyph(), QRect(6, 16, 115, 33));
    BitBtn2 = makeGlyphButton(GroupBox2, "BitBtn2", openFolderGlyph(), QRect(6, 56, 115, 33));

    // The save buttons stay at the bottom of their page.
    const QIcon floppy = floppyGlyph();
    auto saveButton = [&](QWidget* page, const char* name, int left, int width) {
        QPushButton* button = makeGlyphButton(page, name, floppy, QRect(left, 368, width, 25));
        page->findChild<AnchorLayout*>()->add(button, QRect(left, 368, width, 25), akLeft | akBottom);
        return button;
    };
    BitBtn5 = saveButton(TabSheet2, "BitBtn5", 5, 172);
    BitBtn7 = saveButton(TabSheet2, "BitBtn7", 181, 172);
    BitBtn4 = saveButton(TabSheet1, "BitBtn4", 5, 172);
    BitBtn6 = saveButton(TabSheet1, "BitBtn6", 181, 172);
    BitBtn3 = saveButton(TabSheet3, "BitBtn3", 5, 172);
    BitBtn8 = saveButton(TabSheet3, "BitBtn8", 181, 172);
    BitBtn9 = saveButton(TabSheet3, "BitBtn9", 357, 228);

    // Picture files dropped on the window open as frames; see TakeDrop.
    setAcceptDrops(true);
}

bool TForm1::Execute(TFileDialog& dialog)
{
    QString name = dialog.FileName;
    if (!platform_.chooseFile(this, dialog.mode, dialog.Filter, name))
        return false;
    dialog.FileName = name;
    return true;
}

void TForm1::AnyToBitmap(TBitmap& bitmap, const QString& fileName)
{
    // Decode into a picture of its own first: a file that fails part way
    // leaves the frame as it was.
    TBitmap decoded = loadPictureFile(localPath(fileName));
    bitmap.takeOver(std::move(decoded));
}

void TForm1::OpenFrame(TImage* view, QWidget* page)
{
    if (!Execute(OpenDialog1))
        return;
    OpenFrameFile(view, page, OpenDialog1.FileName);
}

// What an open button does once it has a name, and what a dropped file
// does: the name becomes the open dialog's, so the next dialog starts at it
// whether the file opened or not.
void TForm1::OpenFrameFile(TImage* view, QWidget* page, const QString& fileName)
{
    OpenDialog1.FileName = fileName;
    AnyToBitmap(view->picture(), fileName);
    view->pictureChanged();
    ShowPage(page);
    LetEventsRun();
}

void TForm1::BitBtn1Click(QObject*) { OpenFrame(Image2, TabSheet2); }
void TForm1::BitBtn2Click(QObject*) { OpenFrame(Image1, TabSheet1); }

// The frame page (TabSheet2 or TabSheet1) at a point of the window: the page
// in front when the point is on it, its picture and save buttons included,
// or the page whose tab the point is on; nullptr anywhere else.
QWidget* TForm1::FramePageAt(QPoint at) const
{
    QTabBar* tabs = PageControl1->tabBar();
    for (QWidget* w = childAt(at); w && w != this; w = w->parentWidget()) {
        if (w == TabSheet2 || w == TabSheet1)
            return w;
        if (w == tabs) {
            QWidget* page = PageControl1->widget(tabs->tabAt(tabs->mapFrom(this, at)));
            return page == TabSheet2 || page == TabSheet1 ? page : nullptr;
        }
    }
    return nullptr;
}

// Which drops the window takes. Only local files, and only as many as the
// frames they can fill: one file on a frame's page (or its tab) opens as
// that frame; two files anywhere open as frames 1 and 2, in the order of
// their full paths' bytes in the local 8-bit encoding, the name the loader
// opens (for files of one folder, the order of `ls` in the C locale:
// capitals before small letters). Whatever a file holds is the loader's to
// judge, so a file that is no picture, or a folder, is taken and then
// reported with the open button's message. Anything else is refused while it
// is dragged, with nothing to say: text, a URL that is not a local file,
// three files or more, one file where there is no frame to put it in.
bool TForm1::TakeDrop(const QMimeData* data, QPoint at, DroppedFrames* frames) const
{
    QStringList files = droppedFiles(data);
    if (files.size() == 1) {
        QWidget* page = FramePageAt(at);
        if (!page)
            return false;
        *frames = page == TabSheet2 ? DroppedFrames { files[0], {} } : DroppedFrames { {}, files[0] };
        return true;
    }
    if (files.size() != 2)
        return false;
    if (QFile::encodeName(files[1]) < QFile::encodeName(files[0]))
        files.swapItemsAt(0, 1);
    *frames = { files[0], files[1] };
    return true;
}

namespace {

// Drops are copies: the window only reads the files. A drag that can only be
// moved is refused, as taking it would let the source delete the file.
void answerDrag(QDropEvent* event, bool take)
{
    if (take && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace

// Entering, the kind of drag decides: a drag refused here gets no moves,
// and one file may enter anywhere on its way to a frame's page. The move
// that always follows an enter then answers for the point.
void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    answerDrag(event, !droppedFiles(event->mimeData()).isEmpty());
}

void TForm1::dragMoveEvent(QDragMoveEvent* event)
{
    DroppedFrames frames;
    answerDrag(event, TakeDrop(event->mimeData(), event->position().toPoint(), &frames));
}

void TForm1::dropEvent(QDropEvent* event)
{
    DroppedFrames frames;
    answerDrag(event, TakeDrop(event->mimeData(), event->position().toPoint(), &frames));
    if (!event->isAccepted())
        return;
    // Opened by the wiring's handler once the drop is over: the source is
    // not kept waiting while a picture loads or a message box is open.
    drops_.push_back(frames);
    emit filesDropped();
}

// Opens a drop as the open buttons would, frame 1 first; an error stops it
// where it arises, as it stops the three-file save.
void TForm1::FormDragDrop(QObject*)
{
    if (drops_.empty())
        return;
    const DroppedFrames frames = drops_.front();
    drops_.pop_front();
    if (!frames.frame1.isNull())
        OpenFrameFile(Image2, TabSheet2, frames.frame1);
    if (!frames.frame2.isNull())
        OpenFrameFile(Image1, TabSheet1, frames.frame2);
}

void TForm1::SaveAsJpeg(const TBitmap& picture)
{
    if (!Execute(SaveDialog1))
        return;
    savePicture(withExtension(localPath(SaveDialog1.FileName), ".JPG", ".jpg"), encodeJpeg, picture);
}

void TForm1::SaveAsBmp(const TBitmap& picture)
{
    if (!Execute(SaveDialog2))
        return;
    savePicture(withExtension(localPath(SaveDialog2.FileName), ".BMP", ".bmp"), encodeBmp, picture);
}

void TForm1::BitBtn5Click(QObject*) { SaveAsJpeg(Image2->picture()); }
void TForm1::BitBtn7Click(QObject*) { SaveAsBmp(Image2->picture()); }
void TForm1::BitBtn4Click(QObject*) { SaveAsJpeg(Image1->picture()); }
void TForm1::BitBtn6Click(QObject*) { SaveAsBmp(Image1->picture()); }
void TForm1::Button4Click(QObject*) { SaveAsJpeg(Image3->picture()); }
void TForm1::BitBtn8Click(QObject*) { SaveAsBmp(Image3->picture()); }

void TForm1::BitBtn9Click(QObject*)
{
    if (!Execute(SaveDialog2))
        return;
    // The suffixes follow the name as it was given; an error stops here and
    // keeps the files already written.
    const std::string stem = localPath(SaveDialog2.FileName);
    savePicture(stem + "_f1.bmp", encodeBmp, Image2->picture());
    savePicture(stem + "_f2.bmp", encodeBmp, Image1->picture());
    savePicture(stem + "_a.bmp", encodeBmp, Image3->picture());
}
