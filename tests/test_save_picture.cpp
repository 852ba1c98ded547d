// Saving a picture: encoding it and writing the file all or nothing, with
// the file made before the picture is encoded.
#include "compose/errors.h"
#include "fixtures.h"
#include "pictures/bmp_codec.h"
#include "pictures/picture_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

int encoderCalls = 0;

std::vector<std::uint8_t> failingEncoder(const TBitmap&)
{
    ++encoderCalls;
    throw EOrvantaError("JPEG error #42");
}

} // namespace

class TestSavePicture : public QObject {
    Q_OBJECT
private slots:
    void savedPictureReadsBack()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "anaglyph.bmp");
        const TBitmap picture = patterned(13, 7, 4);
        savePicture(file, encodeBmp, picture);
        QVERIFY(samePixels(loadPictureFile(file), picture));
        QCOMPARE(entries(dir), QStringList { "anaglyph.bmp" });
    }

    // An encoder's error ends the save with the encoder's message; the older
    // file stays and no temporary file is left behind.
    void encoderErrorKeepsTheOlderFile()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "photo.jpg");
        writeFile(dir.filePath("photo.jpg"), { 'o', 'l', 'd' });
        encoderCalls = 0;
        QCOMPARE(errorOf([&] { savePicture(file, failingEncoder, patterned(4, 4, 1)); }),
            QStringLiteral("JPEG error #42"));
        QCOMPARE(encoderCalls, 1);
        QFile f(dir.filePath("photo.jpg"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old"));
        QCOMPARE(entries(dir), QStringList { "photo.jpg" });
    }

    // A file that cannot be made is reported as such, before any encoding.
    void targetThatCannotBeMadeIsReportedFirst()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "no such folder/photo.jpg");
        encoderCalls = 0;
        QCOMPARE(errorOf([&] { savePicture(file, failingEncoder, patterned(4, 4, 1)); }),
            QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(QString::fromStdString(file)));
        QCOMPARE(encoderCalls, 0);
    }
};

QTEST_APPLESS_MAIN(TestSavePicture)
#include "test_save_picture.moc"
