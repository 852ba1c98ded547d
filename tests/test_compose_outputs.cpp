// orvanta-compose and the user's files: an output never lands on an input,
// a folder that takes no files is told before anything is decoded, and the
// answers it gives (JSON lines, alignment, stereo files) say what happened.
#include "compose/methods.h"
#include "compose_run.h"
#include "fixtures.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <random>
#include <unistd.h>

namespace {

QByteArray bytesOf(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every entry of a folder, hidden ones included, with what it holds: a
// symbolic link by where it points, a file by its bytes.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> all;
    for (const QFileInfo& e : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
             | QDir::NoDotAndDotDot))
        all[e.fileName()] = e.isSymLink() ? "-> " + e.symLinkTarget().toUtf8() : bytesOf(e.filePath());
    return all;
}

QJsonObject jsonLine(const QString& line) { return QJsonDocument::fromJson(line.toUtf8()).object(); }

TBitmap noise(int w, int h, unsigned seed)
{
    std::mt19937 random(seed);
    TBitmap b;
    b.setSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.scanLine(y)[x] = random() & 0xFFFFFF;
    return b;
}

} // namespace

class TestComposeOutputs : public QObject {
    Q_OBJECT
private slots:
    void anOutputNeverWritesOverAnInput_data()
    {
        QTest::addColumn<QStringList>("args"); // names in the test's folder; "-o" and options as they are
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("input");
        const auto row = [](const char* name, QStringList args, const char* output, const char* input) {
            QTest::newRow(name) << args << QString::fromUtf8(output) << QString::fromUtf8(input);
        };
        row("the left frame", { "L.jpg", "R.jpg", "-o", "L.jpg" }, "L.jpg", "L.jpg");
        row("another spelling of the right frame", { "L.jpg", "R.jpg", "-o", "./R.jpg" }, "./R.jpg", "R.jpg");
        row("a symbolic link given as an input", { "link-to-L.jpg", "R.jpg", "-o", "L.jpg" }, "L.jpg",
            "link-to-L.jpg");
        row("a symbolic link given as the output", { "L.jpg", "R.jpg", "-o", "link-to-L.jpg" }, "link-to-L.jpg",
            "L.jpg");
        row("a hard link", { "L.jpg", "R.jpg", "-o", "hard-R.jpg" }, "hard-R.jpg", "R.jpg");
        row("a side-by-side picture", { "--sbs", "parallel", "sbs.bmp", "-o", "sbs.bmp" }, "sbs.bmp", "sbs.bmp");
        // Refused on the names alone, before anything is read: neither the
        // missing file nor the one that is no picture is reported as such.
        row("an input that is not there", { "missing.jpg", "R.jpg", "-o", "missing.jpg" }, "missing.jpg",
            "missing.jpg");
        row("an input that is no picture", { "notes.jpg", "R.jpg", "-o", "notes.jpg" }, "notes.jpg", "notes.jpg");
    }

    void anOutputNeverWritesOverAnInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        QFETCH(QString, input);
        QTemporaryDir dir;
        const auto in = [&](const QString& name) { return dir.path() + QLatin1Char('/') + name; };
        writeFile(in(QStringLiteral("L.jpg")), encodeJpeg(patterned(40, 30, 1)));
        writeFile(in(QStringLiteral("R.jpg")), encodeJpeg(patterned(40, 30, 2)));
        writeFile(in(QStringLiteral("sbs.bmp")), encodeBmp(patterned(80, 30, 3)));
        writeFile(in(QStringLiteral("notes.jpg")), { 'n', 'o', 't', 'e', 's' });
        QVERIFY(QFile::link(QStringLiteral("L.jpg"), in(QStringLiteral("link-to-L.jpg"))));
        QVERIFY(::link(QFile::encodeName(in(QStringLiteral("R.jpg"))), QFile::encodeName(in(QStringLiteral("hard-R.jpg"))))
            == 0);
        const QMap<QString, QByteArray> before = snapshot(dir.path());

        QStringList full;
        for (const QString& a : args)
            full << (a.startsWith(u'-') || a == QLatin1String("parallel") ? a : in(a));
        const ComposeRun r = runCompose(full + QStringList { QStringLiteral("--json") });
        QCOMPARE(r.status, 1);
        const QString says = in(output) + QStringLiteral(": would write over the input ") + in(input);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("Cannot open")) && !r.err.contains(QStringLiteral("Not a JPEG")),
            qPrintable(r.err));
        QVERIFY(jsonLine(r.out).value(QStringLiteral("output")).isNull());
        // Nothing written, nothing replaced, no temporary file, and every
        // link still a link.
        QCOMPARE(snapshot(dir.path()), before);
    }

    void aBatchKeepsTheFramesOfOtherPairs()
    {
        // Built into its own folder, the pair p_L_L/p_L_R would be written
        // as p_L.jpg, the left frame of the pair p.
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const TBitmap left = patterned(32, 24, 1), right = patterned(32, 24, 2);
        writeFile(in("p_L.bmp"), encodeBmp(left));
        writeFile(in("p_R.bmp"), encodeBmp(right));
        writeFile(in("p_L_L.bmp"), encodeBmp(patterned(32, 24, 3)));
        writeFile(in("p_L_R.bmp"), encodeBmp(patterned(32, 24, 4)));
        const QByteArray frame = bytesOf(in("p_L.bmp"));

        const ComposeRun r = runCompose({ QStringLiteral("--batch"), dir.path(), QStringLiteral("-o"), dir.path(),
            QStringLiteral("--format"), QStringLiteral("bmp"), QStringLiteral("--json") });
        QCOMPARE(r.status, 1);
        QCOMPARE(bytesOf(in("p_L.bmp")), frame);
        QMap<QString, QJsonObject> byFirstInput;
        for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts)) {
            const QJsonObject o = jsonLine(line);
            byFirstInput[QFileInfo(o[QStringLiteral("inputs")].toArray().first().toString()).fileName()] = o;
        }
        const QJsonObject refused = byFirstInput[QStringLiteral("p_L_L.bmp")];
        QVERIFY(refused[QStringLiteral("output")].isNull());
        QVERIFY2(refused[QStringLiteral("error")].toString().contains(
                     in("p_L.bmp") + QStringLiteral(": would write over the input ") + in("p_L.bmp")),
            qPrintable(refused[QStringLiteral("error")].toString()));
        // The other pair goes on and is written.
        QCOMPARE(byFirstInput[QStringLiteral("p_L.bmp")][QStringLiteral("output")].toString(), in("p.bmp"));
        QVERIFY(samePixels(loadPictureFile(in("p.bmp").toStdString()), composeAnaglyph(left, right, {})));
        QVERIFY2(r.err.contains(QStringLiteral("2 pairs: 1 written, 1 failed")), qPrintable(r.err));
        QCOMPARE(entries(dir), QStringList({ "p.bmp", "p_L.bmp", "p_L_L.bmp", "p_L_R.bmp", "p_R.bmp" }));
    }

    void aFolderThatTakesNoFilesIsToldBeforeDecoding()
    {
        // Permissions bind a user, not root: run as nobody when the test is
        // root, as it is on a fresh machine.
        const int user = ::geteuid() == 0 ? 65534 : -1;
        if (user >= 0 && runCompose({ QStringLiteral("--version") }, user).status != 0)
            QSKIP("cannot run the program as another user here (setpriv)");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        // Frames that are no pictures: decoding them would be the first
        // error, had decoding begun.
        writeFile(in("a_L.jpg"), { 'x' });
        writeFile(in("a_R.jpg"), { 'y' });
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("shut")));
        QVERIFY(QFile::setPermissions(in("shut"), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));

        const ComposeRun batch = runCompose({ QStringLiteral("--batch"), dir.path(), QStringLiteral("-o"), in("shut") }, user);
        QCOMPARE(batch.status, 1);
        QVERIFY2(batch.err.contains(QStringLiteral("Cannot write into folder \"%1\"").arg(in("shut")))
                && batch.err.count(u'\n') == 1,
            qPrintable(batch.err));

        const ComposeRun single
            = runCompose({ in("a_L.jpg"), in("a_R.jpg"), QStringLiteral("-o"), in("shut") + QStringLiteral("/a.jpg") }, user);
        QCOMPARE(single.status, 1);
        QVERIFY2(single.err.contains(QStringLiteral("Cannot create file")) && !single.err.contains(QStringLiteral("Not a")),
            qPrintable(single.err));
        QVERIFY(QDir(in("shut")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void jsonLinesSayWhatWasWritten()
    {
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        writeFile(in("l.bmp"), encodeBmp(patterned(20, 10, 1)));
        writeFile(in("r.bmp"), encodeBmp(patterned(20, 10, 2)));
        const ComposeRun made = runCompose({ in("l.bmp"), in("r.bmp"), QStringLiteral("-o"), in("a.jpg"),
            QStringLiteral("--json") });
        QCOMPARE(made.status, 0);
        QCOMPARE(jsonLine(made.out)[QStringLiteral("output")].toString(), in("a.jpg"));
        // Failed at decoding, after the output's temporary file was made:
        // no file, so no name.
        const ComposeRun failed = runCompose({ in("l.bmp"), in("missing.bmp"), QStringLiteral("-o"), in("b.jpg"),
            QStringLiteral("--json") });
        QCOMPARE(failed.status, 1);
        const QJsonObject o = jsonLine(failed.out);
        QVERIFY(o[QStringLiteral("output")].isNull());
        QVERIFY(o[QStringLiteral("error")].toString().contains(QStringLiteral("missing.bmp")));
        QVERIFY(!QFile::exists(in("b.jpg")));
    }

    void alignmentThatCannotTellWritesNothing_data()
    {
        QTest::addColumn<bool>("noisy");
        QTest::addColumn<QString>("mode");
        for (const char* mode : { "--align", "--align=perspective", "--align=shift" }) {
            QTest::addRow("one colour in both, %s", mode) << false << QString::fromLatin1(mode);
            QTest::addRow("unrelated noise, %s", mode) << true << QString::fromLatin1(mode);
        }
    }

    void alignmentThatCannotTellWritesNothing()
    {
        QFETCH(bool, noisy);
        QFETCH(QString, mode);
        const TBitmap left = noisy ? noise(300, 200, 1) : uniform(300, 200, RGB(90, 120, 150));
        const TBitmap right = noisy ? noise(300, 200, 2) : uniform(300, 200, RGB(90, 120, 150));
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        writeFile(in("l.bmp"), encodeBmp(left));
        writeFile(in("r.bmp"), encodeBmp(right));
        // The reason follows; frames of one colour have no detail at all.
        QString says = QStringLiteral("cannot align %1 and %2: ").arg(in("l.bmp"), in("r.bmp"));
        if (!noisy)
            says += QStringLiteral("too little detail in common");
        const ComposeRun build = runCompose({ mode, in("l.bmp"), in("r.bmp"), QStringLiteral("-o"), in("a.jpg") });
        QCOMPARE(build.status, 1);
        QVERIFY2(build.err.contains(says), qPrintable(build.err));
        QVERIFY(build.out.isEmpty());
        QCOMPARE(entries(dir), QStringList({ "l.bmp", "r.bmp" }));
        if (mode != QLatin1String("--align"))
            return;
        const ComposeRun print = runCompose({ QStringLiteral("--align=print"), in("l.bmp"), in("r.bmp") });
        QCOMPARE(print.status, 1);
        QVERIFY2(print.err.contains(says) && print.out.isEmpty(), qPrintable(print.out + print.err));
        QCOMPARE(entries(dir), QStringList({ "l.bmp", "r.bmp" }));

        // Both views in one file are named by it.
        writeFile(in("pair.mpo"), mpofiles::withIndex({ encodeJpeg(left), encodeJpeg(right) }, true));
        const ComposeRun mpo = runCompose({ QStringLiteral("--align=print"), in("pair.mpo") });
        QCOMPARE(mpo.status, 1);
        QVERIFY2(mpo.err.contains(QStringLiteral("cannot align the two views of %1").arg(in("pair.mpo"))),
            qPrintable(mpo.err));
    }

    void printedOffsetsAloneOrAsJson()
    {
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const TBitmap scene = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg");
        TBitmap left, right;
        left.setSize(200, 150);
        left.copyRect(0, 0, scene, 40, 40, 200, 150);
        right.setSize(200, 150);
        right.copyRect(0, 0, scene, 46, 38, 200, 150);
        writeFile(in("l.bmp"), encodeBmp(left));
        writeFile(in("r.bmp"), encodeBmp(right));
        const ComposeRun plain = runCompose({ QStringLiteral("--align=print"), in("l.bmp"), in("r.bmp") });
        QCOMPARE(plain.out, QStringLiteral("6 -2\n"));
        const ComposeRun json
            = runCompose({ QStringLiteral("--align=print"), QStringLiteral("--json"), in("l.bmp"), in("r.bmp") });
        QCOMPARE(json.status, 0);
        const QStringList lines = json.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        const QJsonObject o = jsonLine(lines.front());
        QCOMPARE(o[QStringLiteral("dx")].toInt(), 6);
        QCOMPARE(o[QStringLiteral("dy")].toInt(), -2);
        QVERIFY(o[QStringLiteral("aligned")].toBool());
        QVERIFY(o[QStringLiteral("output")].isNull());
    }

    void anMpoFileIsNotSplitAsSideBySide()
    {
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        writeFile(in("trip.mpo"),
            mpofiles::withIndex({ encodeJpeg(patterned(24, 16, 1)), encodeJpeg(patterned(24, 16, 2)) }, false));
        const ComposeRun r = runCompose(
            { QStringLiteral("--sbs"), QStringLiteral("parallel"), in("trip.mpo"), QStringLiteral("-o"), in("a.jpg") });
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(in("trip.mpo") + QStringLiteral(": an MPO file already holds the two views")),
            qPrintable(r.err));
        QCOMPARE(entries(dir), QStringList({ "trip.mpo" }));
    }

    void methodNamesInAnyLetterCase()
    {
        QTemporaryDir dir;
        const auto in = [&](const char* name) { return dir.filePath(QLatin1String(name)); };
        const TBitmap left = patterned(20, 12, 5), right = patterned(20, 12, 6);
        writeFile(in("l.bmp"), encodeBmp(left));
        writeFile(in("r.bmp"), encodeBmp(right));
        const struct {
            const char* spelling;
            AnaglyphMethod method;
        } cases[] = { { "Dubois", AnaglyphMethod::Dubois }, { "GRAY", AnaglyphMethod::Grey },
            { "Half-Color", AnaglyphMethod::HalfColour } };
        for (const auto& c : cases) {
            const ComposeRun r = runCompose({ in("l.bmp"), in("r.bmp"), QStringLiteral("--method"),
                QLatin1String(c.spelling), QStringLiteral("-o"), in("a.bmp") });
            QVERIFY2(r.status == 0, qPrintable(r.err));
            ComposeSettings s;
            s.method = c.method;
            QVERIFY2(samePixels(loadPictureFile(in("a.bmp").toStdString()), composeAnaglyph(left, right, s)),
                c.spelling);
        }
        const ComposeRun help = runCompose({ QStringLiteral("--help") });
        for (const char* word : { "color", "half-color", "gray", "any letter case", "aligned" })
            QVERIFY2(help.out.contains(QLatin1String(word)), word);
    }
};

QTEST_APPLESS_MAIN(TestComposeOutputs)

#include "test_compose_outputs.moc"
