// Opening frames from picture files and saving the frames and the anaglyph:
// the buttons, the file dialogs and their handlers.
#include "anchors.h"
#include "form.h"
#include "icon.h"
#include "platform.h"
#include "widgets.h"

#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QFile>
#include <QGroupBox>
#include <QPushButton>

namespace {

QPushButton* makeGlyphButton(QWidget* parent, const char* name, const QIcon& glyph, QRect r)
{
    QPushButton* button = makeButton(parent, name, r);
    button->setIcon(glyph);
    button->setIconSize(QSize(16, 16));
    return button;
}

std::string localPath(const QString& name) { return QFile::encodeName(name).toStdString(); }

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
    AnyToBitmap(view->picture(), OpenDialog1.FileName);
    view->pictureChanged();
    ShowPage(page);
    LetEventsRun();
}

void TForm1::BitBtn1Click(QObject*) { OpenFrame(Image2, TabSheet2); }
void TForm1::BitBtn2Click(QObject*) { OpenFrame(Image1, TabSheet1); }

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
