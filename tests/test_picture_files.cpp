// Reading picture files, the save extension rule and the all-or-nothing
// writer that keeps an older file when a save fails.
#include "compose/errors.h"
#include "fixtures.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/picture_limits.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeRaw(const std::string& file, const std::vector<std::uint8_t>& bytes)
{
    writeFile(QString::fromStdString(file), bytes);
}

QByteArray contents(const std::string& file)
{
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestPictureFiles : public QObject {
    Q_OBJECT
private slots:
    void extensionRule_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("upper");
        QTest::addColumn<QString>("written");
        const QString J = ".JPG", B = ".BMP";
        QTest::newRow("no extension") << "photo" << J << "photo.jpg";
        QTest::newRow("right one") << "photo.jpg" << J << "photo.jpg";
        QTest::newRow("upper case kept") << "photo.JPG" << J << "photo.JPG";
        QTest::newRow("mixed case kept") << "photo.Jpg" << J << "photo.Jpg";
        QTest::newRow("jpeg is another") << "photo.jpeg" << J << "photo.jpeg.jpg";
        QTest::newRow("bmp for jpeg") << "photo.bmp" << J << "photo.bmp.jpg";
        QTest::newRow("bare dot") << "photo." << J << "photo..jpg";
        QTest::newRow("dot in a folder") << "/home/u/my.pics/photo" << J << "/home/u/my.pics/photo.jpg";
        QTest::newRow("dot in a folder, with one") << "/home/u/my.pics/photo.jpg" << J << "/home/u/my.pics/photo.jpg";
        QTest::newRow("backslash folder") << "C:\\my.pics\\photo" << J << "C:\\my.pics\\photo.jpg";
        QTest::newRow("hidden file") << "/tmp/.jpg" << J << "/tmp/.jpg";
        QTest::newRow("bmp") << "photo" << B << "photo.bmp";
        QTest::newRow("bmp mixed case") << "photo.Bmp" << B << "photo.Bmp";
        QTest::newRow("jpg for bmp") << "photo.jpg" << B << "photo.jpg.bmp";
        QTest::newRow("Cyrillic name") << "снимок" << J << "снимок.jpg";
    }
    void extensionRule()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, upper);
        QFETCH(QString, written);
        const std::string lower = upper.toLower().toStdString();
        QCOMPARE(QString::fromStdString(withExtension(chosen.toStdString(), upper.toStdString(), lower)), written);
    }

    void openErrorsNameTheFullPath()
    {
        QTemporaryDir dir;
        const std::string missing = path(dir, "missing.jpg");
        QCOMPARE(errorOf([&] { loadPictureFile(missing); }),
            QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(QString::fromStdString(missing)));
        QCOMPARE(errorOf([&] { loadPictureFile(dir.path().toStdString()); }),
            QStringLiteral("Cannot open file \"%1\". Is a directory").arg(dir.path()));
        QCOMPARE(QString::fromStdString(systemErrorText(ENOENT)), QStringLiteral("No such file or directory"));
    }

    // Only regular files are read: a named pipe would wait for a writer
    // (the window would freeze) and a device like /dev/zero never ends. Each
    // is refused at once; the alarm ends the test if opening blocks.
    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("named pipe without a writer") << "pipe" << "It is a named pipe, not a regular file";
        QTest::newRow("/dev/zero") << "/dev/zero" << "It is a character device, not a regular file";
        QTest::newRow("link to /dev/zero") << "zero.jpg" << "It is a character device, not a regular file";
        QTest::newRow("folder") << "folder" << "Is a directory";
    }
    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(::mkfifo(path(dir, "pipe").c_str(), 0600) == 0);
        QVERIFY(::symlink("/dev/zero", path(dir, "zero.jpg").c_str()) == 0);
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const std::string file = name.startsWith('/') ? name.toStdString() : path(dir, name.toUtf8().constData());
        ::alarm(10);
        const QString error = errorOf([&] { loadPictureFile(file); });
        ::alarm(0);
        QCOMPARE(error, QStringLiteral("Cannot open file \"%1\". %2").arg(QString::fromStdString(file), reason));
    }

    void kindIsToldByContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("jpeg");
        QTest::newRow("JPEG named .bmp") << "picture.bmp" << true;
        QTest::newRow("BMP named .jpg") << "picture.jpg" << false;
        QTest::newRow("JPEG without extension") << "picture" << true;
        QTest::newRow("BMP without extension") << "picture" << false;
    }
    void kindIsToldByContent()
    {
        QFETCH(QString, name);
        QFETCH(bool, jpeg);
        QTemporaryDir dir;
        const TBitmap source = patterned(21, 13, 4);
        const std::string file = path(dir, name.toUtf8().constData());
        writeRaw(file, jpeg ? encodeJpeg(source) : encodeBmp(source));
        const TBitmap opened = loadPictureFile(file);
        QCOMPARE(opened.width(), 21);
        QCOMPARE(opened.height(), 13);
        if (!jpeg)
            QVERIFY(samePixels(opened, source));
    }

    void otherContentIsNotAPicture()
    {
        const std::string text = "This is a text file, not a picture.\n";
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        QCOMPARE(errorOf([&] { decodePicture(bytes.data(), bytes.size()); }), QString::fromLatin1(kNotAPicture));
        QCOMPARE(errorOf([&] { decodePicture(nullptr, 0); }), QString::fromLatin1(kNotAPicture));
    }

    void writerReplacesAndKeepsTheMode()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "photo.jpg");
        writeRaw(file, { 'o', 'l', 'd' });
        ::chmod(file.c_str(), 0640);
        writeFileAtomically(file, { 'n', 'e', 'w', '!' });
        QCOMPARE(contents(file), QByteArray("new!"));
        struct stat info {};
        QCOMPARE(::stat(file.c_str(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0640);
        QCOMPARE(entries(dir), QStringList { "photo.jpg" });

        // An empty picture writes a file of 0 bytes.
        writeFileAtomically(file, {});
        QCOMPARE(contents(file), QByteArray());

        // Through a symbolic link, the file it points to is written.
        const std::string link = path(dir, "link.jpg");
        QCOMPARE(::symlink(file.c_str(), link.c_str()), 0);
        writeFileAtomically(link, { 'x' });
        QCOMPARE(contents(file), QByteArray("x"));
        QFileInfo linkInfo(QString::fromStdString(link));
        QVERIFY(linkInfo.isSymLink());
    }

    // A link whose file does not exist yet is written through, as cp does:
    // the link stays, and the file at the end of its chain gets the bytes.
    // Each link is "NAME>TEXT", made in the order given; the save goes to the
    // first.
    void writesThroughLinksToFilesNotThereYet_data()
    {
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QString>("written");
        QTest::newRow("dangling") << QStringList { "out.jpg>real.jpg" } << "real.jpg";
        QTest::newRow("chain") << QStringList { "out.jpg>mid.jpg", "mid.jpg>sub/last.jpg", "sub/last.jpg>real.jpg" }
                               << "sub/real.jpg";
        // Taken against the link's own folder, not the working folder.
        QTest::newRow("relative, from another folder")
            << QStringList { "links/out.jpg>../pictures/real.jpg" } << "pictures/real.jpg";
        QTest::newRow("absolute") << QStringList { "out.jpg>@/pictures/real.jpg" } << "pictures/real.jpg";
    }

    void writesThroughLinksToFilesNotThereYet()
    {
        QFETCH(QStringList, links);
        QFETCH(QString, written);
        QTemporaryDir dir;
        for (const char* folder : { "sub", "links", "pictures" })
            QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(folder)));
        QStringList linkNames;
        for (const QString& link : links) {
            const QString name = link.section('>', 0, 0);
            QString text = link.section('>', 1);
            text.replace('@', dir.path());
            QCOMPARE(::symlink(QFile::encodeName(text).constData(), QFile::encodeName(dir.filePath(name)).constData()), 0);
            linkNames << name;
        }
        writeFileAtomically(QFile::encodeName(dir.filePath(linkNames.front())).toStdString(), { 'n', 'e', 'w' });

        QCOMPARE(contents(QFile::encodeName(dir.filePath(written)).toStdString()), QByteArray("new"));
        QStringList everyFile;
        for (QDirIterator it(dir.path(), QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();)
            everyFile << QDir(dir.path()).relativeFilePath(it.next());
        everyFile.sort();
        QStringList expected = linkNames;
        expected << written;
        expected.sort();
        QCOMPARE(everyFile, expected);
        for (const QString& link : links) {
            QString text = link.section('>', 1);
            text.replace('@', dir.path());
            QCOMPARE(QFile::symLinkTarget(dir.filePath(link.section('>', 0, 0))),
                QFileInfo(QFileInfo(dir.filePath(link.section('>', 0, 0))).absolutePath(), text).absoluteFilePath());
        }
    }

    // Links that lead round in a circle are not followed for ever; nothing
    // is written and they stay as they were.
    void circleOfLinksIsRefused()
    {
        QTemporaryDir dir;
        const std::string a = path(dir, "a.jpg");
        QCOMPARE(::symlink("b.jpg", a.c_str()), 0);
        QCOMPARE(::symlink("a.jpg", path(dir, "b.jpg").c_str()), 0);
        QCOMPARE(errorOf([&] { writeFileAtomically(a, { 1 }); }),
            QStringLiteral("Cannot create file \"%1\". Too many levels of symbolic links").arg(QString::fromStdString(a)));
        QCOMPARE(QFile::symLinkTarget(QString::fromStdString(a)), dir.filePath("b.jpg"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
            QStringList({ "a.jpg", "b.jpg" }));
    }

    void fileThatCannotBeCreatedNamesTheTarget()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "no such folder/photo.jpg");
        QCOMPARE(errorOf([&] { writeFileAtomically(file, { 1, 2, 3 }); }),
            QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(QString::fromStdString(file)));
        QCOMPARE(errorOf([&] { writeFileAtomically(dir.path().toStdString(), { 1 }); }),
            QStringLiteral("Cannot create file \"%1\". Is a directory").arg(dir.path()));
        if (::geteuid() != 0) { // root may write anything
            const std::string readOnly = path(dir, "read-only.jpg");
            writeRaw(readOnly, { 'k', 'e', 'e', 'p' });
            ::chmod(readOnly.c_str(), 0444);
            QCOMPARE(errorOf([&] { writeFileAtomically(readOnly, { 1 }); }),
                QStringLiteral("Cannot create file \"%1\". Permission denied").arg(QString::fromStdString(readOnly)));
            QCOMPARE(contents(readOnly), QByteArray("keep"));
        }
    }

    // A disk that takes only part of the bytes: the file size limit makes
    // every write past it fail, as a full disk would.
    void failedWriteKeepsTheOldFileAndLeavesNoTemporary()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "anaglyph.bmp");
        const std::vector<std::uint8_t> old(100, 'o');
        writeRaw(file, old);
        const std::vector<std::uint8_t> big(64 * 1024, 'n');

        struct rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 4096;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString error = errorOf([&] { writeFileAtomically(file, big); });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(error, QStringLiteral("Stream write error"));
        QCOMPARE(contents(file), QByteArray(reinterpret_cast<const char*>(old.data()), int(old.size())));
        QCOMPARE(entries(dir), QStringList { "anaglyph.bmp" });
    }

    void writerNotCommittedLeavesNothing()
    {
        QTemporaryDir dir;
        const std::string file = path(dir, "never.jpg");
        {
            AtomicFileWriter writer(file);
            writer.write({ 1, 2, 3 });
        }
        QVERIFY(entries(dir).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestPictureFiles)
#include "test_picture_files.moc"
