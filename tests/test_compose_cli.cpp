// orvanta-compose: its command line, how a batch pairs a folder's files, and
// the program as a user runs it (exit statuses, messages, files left behind,
// batches, JSON lines).
#include "cli/batch.h"
#include "cli/options.h"
#include "compose/methods.h"
#include "compose_run.h"
#include "fixtures.h"
#include "mpo_files.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Run = ComposeRun;

Run run(const QStringList& args) { return runCompose(args); }

std::vector<std::string> argsOf(std::initializer_list<const char*> list) { return { list.begin(), list.end() }; }

TBitmap load(const QString& name) { return loadPictureFile(QFile::encodeName(name).toStdString()); }

// What the tool must have written for two frames and settings: the core's
// composition, saved as BMP so that pixels compare exactly.
TBitmap expected(const TBitmap& left, const TBitmap& right, const ComposeSettings& s)
{
    return composeAnaglyph(left, right, s);
}

} // namespace

class TestComposeCli : public QObject {
    Q_OBJECT
private slots:
    void readsTheCommandLine()
    {
        const ComposeOptions o = parseComposeArguments(argsOf({ "l.jpg", "r.bmp", "-o", "out.JPEG", "--dx", "-12",
            "--dy=7", "--gains", "0,128,255", "--swap", "--block", "4", "--method", "dubois", "--quality", "90",
            "--chroma", "444" }));
        QCOMPARE(o.inputs.size(), std::size_t(2));
        QCOMPARE(o.output, std::string("out.JPEG"));
        QCOMPARE(o.compose.dx, -12);
        QCOMPARE(o.compose.dy, 7);
        QCOMPARE(o.compose.gains.r, 0);
        QCOMPARE(o.compose.gains.g, 128);
        QCOMPARE(o.compose.gains.b, 255);
        QVERIFY(o.compose.swap);
        QCOMPARE(o.compose.block, 4);
        QVERIFY(o.compose.method == AnaglyphMethod::Dubois);
        QCOMPARE(o.jpeg.quality, 90);
        QVERIFY(o.jpeg.fullChroma);

        const ComposeOptions defaults = parseComposeArguments(argsOf({ "a.mpo", "-o", "a.bmp" }));
        QCOMPARE(defaults.compose.gains.g, 255);
        QCOMPARE(defaults.jpeg.quality, 100);
        QVERIFY(!defaults.jpeg.fullChroma);
        QVERIFY(defaults.compose.method == AnaglyphMethod::Colour);
        QVERIFY(parseComposeArguments(argsOf({ "--align=print", "l.jpg", "r.jpg" })).align == AlignMode::PrintOnly);
        const ComposeOptions correct = parseComposeArguments(argsOf({ "--batch", "in", "-o", "out", "--align" }));
        QVERIFY(correct.align == AlignMode::Correct);
        QVERIFY(correct.model == CorrectionModel::Similarity);
        QVERIFY(correct.window == StereoWindow::Near);
        const ComposeOptions keystone
            = parseComposeArguments(argsOf({ "--align=perspective", "--window", "dominant", "l.jpg", "r.jpg", "-o", "a.jpg" }));
        QVERIFY(keystone.align == AlignMode::Correct);
        QVERIFY(keystone.model == CorrectionModel::Perspective);
        QVERIFY(keystone.window == StereoWindow::Dominant);
        QVERIFY(parseComposeArguments(argsOf({ "--align=shift", "l.jpg", "r.jpg", "-o", "a.jpg" })).align == AlignMode::Shift);
        // After "--" a name that starts with "-" is an input.
        QCOMPARE(parseComposeArguments(argsOf({ "-o", "x.jpg", "--", "-left.jpg", "r.jpg" })).inputs.front(),
            std::string("-left.jpg"));
    }

    void refusesCommandLinesThatCannotRun_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const auto row = [](const char* name, QStringList args, const char* says) {
            QTest::newRow(name) << args << QString::fromUtf8(says);
        };
        row("no input", { "-o", "a.jpg" }, "no input");
        row("no output", { "l.jpg", "r.jpg" }, "no output");
        row("three inputs", { "a", "b", "c", "-o", "a.jpg" }, "too many inputs");
        row("unknown format", { "l.jpg", "r.jpg", "-o", "a.gif" }, ".jpg, .jpeg, .bmp or .png");
        row("unknown option", { "--sharpen", "l.jpg", "r.jpg", "-o", "a.jpg" }, "unknown option --sharpen");
        row("offset too large", { "--dx", "10001", "l.jpg", "r.jpg", "-o", "a.jpg" }, "outside -10000..10000");
        row("offset not a number", { "--dy", "3px", "l.jpg", "r.jpg", "-o", "a.jpg" }, "not a whole number");
        row("two gains", { "--gains", "1,2", "l.jpg", "r.jpg", "-o", "a.jpg" }, "three numbers");
        row("gain too large", { "--gains", "1,2,256", "l.jpg", "r.jpg", "-o", "a.jpg" }, "outside 0..255");
        row("block 0", { "--block", "0", "l.jpg", "r.jpg", "-o", "a.jpg" }, "outside 1..50");
        row("block 51", { "--block", "51", "l.jpg", "r.jpg", "-o", "a.jpg" }, "outside 1..50");
        row("method", { "--method", "sepia", "l.jpg", "r.jpg", "-o", "a.jpg" }, "not one of");
        row("quality 0", { "--quality", "0", "l.jpg", "r.jpg", "-o", "a.jpg" }, "outside 1..100");
        row("chroma", { "--chroma", "422", "l.jpg", "r.jpg", "-o", "a.jpg" }, "444 or 420");
        row("align and offsets", { "--align", "--dx", "3", "l.jpg", "r.jpg", "-o", "a.jpg" }, "not both");
        row("align=other", { "--align=yes", "l.jpg", "r.jpg", "-o", "a.jpg" }, "=perspective, =shift or =print");
        row("window", { "--align", "--window", "far", "l.jpg", "r.jpg", "-o", "a.jpg" }, "near or dominant");
        row("window without align", { "--window", "near", "l.jpg", "r.jpg", "-o", "a.jpg" }, "places the screen plane");
        row("window with shift", { "--align=shift", "--window", "near", "l.jpg", "r.jpg", "-o", "a.jpg" },
            "places the screen plane");
        row("print writes nothing", { "--align=print", "l.jpg", "r.jpg", "-o", "a.jpg" }, "writes no file");
        row("sbs two inputs", { "--sbs", "cross", "l.jpg", "r.jpg", "-o", "a.jpg" }, "one side-by-side");
        row("sbs layout", { "--sbs", "over-under", "s.jpg", "-o", "a.jpg" }, "parallel or cross");
        row("half of two frames", { "--half", "l.jpg", "r.jpg", "-o", "a.jpg" }, "with --sbs or a .jps file");
        row("half of an MPO file", { "--half", "trip.mpo", "-o", "a.jpg" }, "with --sbs or a .jps file");
        row("batch without -o", { "--batch", "in" }, "-o OUTDIR");
        row("batch with inputs", { "--batch", "in", "l.jpg", "-o", "out" }, "not from further names");
        row("option without value", { "l.jpg", "r.jpg", "-o" }, "needs a value");
        row("swap with value", { "--swap=1", "l.jpg", "r.jpg", "-o", "a.jpg" }, "takes no value");
        row("jobs for one pair", { "-j", "2", "l.jpg", "r.jpg", "-o", "a.jpg" }, "for --batch");
    }

    void refusesCommandLinesThatCannotRun()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        std::vector<std::string> list;
        for (const QString& a : args)
            list.push_back(a.toStdString());
        QString message;
        try {
            parseComposeArguments(list);
        } catch (const UsageError& e) {
            message = QString::fromUtf8(e.what());
        }
        QVERIFY2(message.contains(says), qPrintable(message));

        // The program says so on standard error with status 2 and writes
        // nothing on standard output.
        const Run r = run(args);
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith(QStringLiteral("orvanta-compose: ")) && r.err.contains(says), qPrintable(r.err));
        QVERIFY(r.err.contains(QStringLiteral("--help")));
    }

    void pairsAFoldersFilesByTheirNames()
    {
        const BatchPlan plan = planBatch("in", { "b_R.JPG", "b_L.jpg", "c_f1.bmp", "c_f2.bmp", "d_l.jpeg", "d_R.jpg",
                                                  "trip.MPO", "lonely_L.jpg", "twice_L.jpg", "twice_l.bmp",
                                                  "twice_R.jpg", "c.mpo", "notes.txt", "c_a.bmp", "photo.jpg" });
        QStringList pairs;
        for (const BatchPair& p : plan.pairs) {
            QString files;
            for (const std::string& f : p.source.files)
                files += QLatin1Char(' ') + QString::fromStdString(f);
            pairs << QString::fromStdString(p.name) + QLatin1Char(':') + files;
        }
        QCOMPARE(pairs,
            QStringList({ QStringLiteral("b: in/b_L.jpg in/b_R.JPG"), QStringLiteral("c: in/c.mpo"),
                QStringLiteral("d: in/d_l.jpeg in/d_R.jpg"), QStringLiteral("trip: in/trip.MPO"),
                QStringLiteral("twice: in/twice_L.jpg in/twice_R.jpg") }));

        QStringList problems;
        for (const BatchProblem& p : plan.problems)
            problems << QString::fromStdString(p.files.front() + ": " + p.error);
        problems.sort();
        QCOMPARE(problems.size(), 3);
        // c.mpo claims the name c first; the frame pair of that name is
        // refused rather than overwriting it.
        QVERIFY2(problems[0].startsWith(QStringLiteral("in/c_f1.bmp: the output name c is taken by in/c.mpo")),
            qPrintable(problems[0]));
        QVERIFY2(problems[1].startsWith(QStringLiteral("in/lonely_L.jpg: no right frame")), qPrintable(problems[1]));
        QVERIFY2(problems[2].startsWith(QStringLiteral("in/twice_L.jpg: two left frames")), qPrintable(problems[2]));
        // c_a.bmp (an anaglyph the window saved) and photo.jpg name no pair.
        QCOMPARE(plan.ignored, 2);
    }

    // A .jps file is a pair of its own, split cross-eyed; with --sbs every
    // picture that names no pair is split too, in that layout, which also
    // turns the .jps files round; named pairs stay pairs.
    void splitsSideBySidePicturesInABatch_data()
    {
        QTest::addColumn<int>("sbs"); // SideBySideInput
        QTest::addColumn<QStringList>("expected"); // name: files layout
        QTest::newRow("without --sbs") << int(SideBySideInput::None)
                                       << QStringList { "a: in/a_L.jpg in/a_R.jpg", "v: in/v.JPS cross" };
        QTest::newRow("--sbs parallel") << int(SideBySideInput::Parallel)
                                        << QStringList { "a: in/a_L.jpg in/a_R.jpg", "photo: in/photo.jpg parallel",
                                               "scan: in/scan.bmp parallel", "v: in/v.JPS parallel" };
        QTest::newRow("--sbs cross") << int(SideBySideInput::Cross)
                                     << QStringList { "a: in/a_L.jpg in/a_R.jpg", "photo: in/photo.jpg cross",
                                            "scan: in/scan.bmp cross", "v: in/v.JPS cross" };
    }

    void splitsSideBySidePicturesInABatch()
    {
        QFETCH(int, sbs);
        QFETCH(QStringList, expected);
        const BatchPlan plan = planBatch("in", { "a_L.jpg", "a_R.jpg", "v.JPS", "photo.jpg", "scan.bmp", "notes.txt" },
            SideBySideInput(sbs), true);
        QStringList pairs;
        for (const BatchPair& p : plan.pairs) {
            QString line = QString::fromStdString(p.name) + QLatin1Char(':');
            for (const std::string& f : p.source.files)
                line += QLatin1Char(' ') + QString::fromStdString(f);
            if (p.source.kind == PairSource::Kind::SideBySide) {
                line += p.source.layout == SideBySide::Cross ? QStringLiteral(" cross") : QStringLiteral(" parallel");
                QVERIFY(p.source.half);
            }
            pairs << line;
        }
        QCOMPARE(pairs, expected);
        QVERIFY(plan.problems.empty());
        QCOMPARE(plan.ignored, sbs == int(SideBySideInput::None) ? 2 : 0);
    }

    void splitsTheCoresAmongABatchsWorkers_data()
    {
        QTest::addColumn<int>("cores");
        QTest::addColumn<int>("pairs");
        QTest::addColumn<int>("jobs"); // 0: not given
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("threadsPerPair");
        auto row = [](const char* name, int cores, int pairs, int jobs, int workers, int threads) {
            QTest::newRow(name) << cores << pairs << jobs << workers << threads;
        };
        // Without -j: a worker per core, and the cores no pair takes shared
        // among the pairs.
        row("default, many pairs", 8, 20, 0, 8, 1);
        row("default, fewer pairs than cores", 8, 3, 0, 3, 2);
        row("default, one pair", 8, 1, 0, 1, 8);
        row("default, one core", 1, 5, 0, 1, 1);
        // With -j below the cores, the idle cores go to the pairs.
        row("-j 1 takes every core for each pair", 8, 20, 1, 1, 8);
        row("-j 2 on 8 cores", 8, 20, 2, 2, 4);
        row("-j 3 on 8 cores rounds down", 8, 20, 3, 3, 2);
        row("-j 4 on 2 cores", 2, 20, 4, 4, 1);
        row("-j beyond the pairs", 8, 2, 6, 2, 4);
        row("-j equal to the cores", 4, 9, 4, 4, 1);
        // Nothing to build, or a machine that reports no cores: still one
        // worker with one thread.
        row("no pairs", 8, 0, 0, 1, 8);
        row("no cores reported", 0, 3, 0, 1, 1);
    }

    void splitsTheCoresAmongABatchsWorkers()
    {
        QFETCH(int, cores);
        QFETCH(int, pairs);
        QFETCH(int, jobs);
        QFETCH(int, workers);
        QFETCH(int, threadsPerPair);
        const BatchSplit split = splitBatch(cores, pairs, jobs);
        QCOMPARE(split.workers, workers);
        QCOMPARE(split.threadsPerPair, threadsPerPair);
    }

    void helpAndVersion()
    {
        const Run help = run({ QStringLiteral("--help") });
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: orvanta-compose")));
        for (const char* option : { "--dx", "--dy", "--gains", "--swap", "--block", "--method", "--align", "--sbs",
                 "--batch", "--json", "--quality", "--chroma", "--version", "Exit status" })
            QVERIFY2(help.out.contains(QLatin1String(option)), option);
        const Run version = run({ QStringLiteral("--version") });
        QCOMPARE(version.status, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("orvanta-compose 1.")));
    }

    void buildsWithEveryMethodAndBlock_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("colour") << QStringLiteral("colour") << 1 << 4 << -2;
        QTest::newRow("half-colour") << QStringLiteral("half-colour") << 1 << -3 << 0;
        QTest::newRow("grey") << QStringLiteral("grey") << 1 << 0 << 5;
        QTest::newRow("dubois") << QStringLiteral("dubois") << 1 << 6 << 1;
        QTest::newRow("dubois preview") << QStringLiteral("dubois") << 5 << 3 << 2;
    }

    void buildsWithEveryMethodAndBlock()
    {
        QFETCH(QString, method);
        QFETCH(int, block);
        QFETCH(int, dx);
        QFETCH(int, dy);
        QTemporaryDir dir;
        const TBitmap left = patterned(40, 30, 3), right = patterned(40, 30, 4);
        writeFile(dir.filePath(QStringLiteral("l.bmp")), encodeBmp(left));
        writeFile(dir.filePath(QStringLiteral("r.bmp")), encodeBmp(right));
        const QString out = dir.filePath(QStringLiteral("a.bmp"));
        const Run r = run({ dir.filePath(QStringLiteral("l.bmp")), dir.filePath(QStringLiteral("r.bmp")),
            QStringLiteral("-o"), out, QStringLiteral("--method"), method, QStringLiteral("--block"),
            QString::number(block), QStringLiteral("--dx"), QString::number(dx), QStringLiteral("--dy"),
            QString::number(dy), QStringLiteral("--gains"), QStringLiteral("250,240,230") });
        QVERIFY2(r.status == 0, qPrintable(r.err));
        ComposeSettings s;
        QVERIFY(parseAnaglyphMethod(method.toStdString(), s.method));
        s.block = block;
        s.dx = dx;
        s.dy = dy;
        s.gains = { 250, 240, 230 };
        QVERIFY(samePixels(load(out), expected(left, right, s)));
    }

    void fullChromaKeepsRedCyanEdges()
    {
        // Fine red/cyan detail is where 4:2:0 loses colour; 4:4:4 keeps it
        // at the cost of a larger file.
        QTemporaryDir dir;
        const TBitmap left = patterned(64, 48, 5), right = patterned(64, 48, 6);
        writeFile(dir.filePath(QStringLiteral("l.bmp")), encodeBmp(left));
        writeFile(dir.filePath(QStringLiteral("r.bmp")), encodeBmp(right));
        const TBitmap truth = expected(left, right, {});
        double error[2] = {};
        qint64 size[2] = {};
        for (int full = 0; full < 2; ++full) {
            const QString out = dir.filePath(full ? QStringLiteral("444.jpg") : QStringLiteral("420.jpg"));
            QStringList args { dir.filePath(QStringLiteral("l.bmp")), dir.filePath(QStringLiteral("r.bmp")),
                QStringLiteral("-o"), out };
            if (full)
                args << QStringLiteral("--chroma") << QStringLiteral("444");
            QCOMPARE(run(args).status, 0);
            const TBitmap got = load(out);
            for (int y = 0; y < got.height(); ++y)
                for (int x = 0; x < got.width(); ++x)
                    error[full] += std::abs(int(GetRValue(got.pixel(x, y))) - int(GetRValue(truth.pixel(x, y))));
            size[full] = QFileInfo(out).size();
        }
        QVERIFY2(error[1] < error[0] / 2, qPrintable(QStringLiteral("%1 %2").arg(error[1]).arg(error[0])));
        QVERIFY(size[1] > size[0]);
    }

    void badInputsAreNamedAndLeaveNoFile()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("good.bmp")), encodeBmp(patterned(20, 10, 1)));
        writeFile(dir.filePath(QStringLiteral("small.bmp")), encodeBmp(patterned(19, 10, 1)));
        QFile text(dir.filePath(QStringLiteral("text.jpg")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        struct Case {
            const char* left;
            const char* right;
            QStringList extra;
            const char* names;
            const char* says;
        };
        const Case cases[] = {
            { "good.bmp", "missing.bmp", {}, "missing.bmp", "Cannot open file" },
            { "text.jpg", "good.bmp", {}, "text.jpg", "Not a JPEG, BMP or PNG picture" },
            { "good.bmp", "small.bmp", {}, "small.bmp (19x10)", "good.bmp (20x10) and " },
            { "good.bmp", "good.bmp", { QStringLiteral("--dx"), QStringLiteral("20") }, "good.bmp", "no overlap" },
            { "good.bmp", "good.bmp", { QStringLiteral("-o"), QStringLiteral("/nonexistent-folder/a.jpg") },
                "/nonexistent-folder/a.jpg", "Cannot create file" },
        };
        for (const Case& c : cases) {
            QStringList args { dir.filePath(QLatin1String(c.left)), dir.filePath(QLatin1String(c.right)) };
            if (!c.extra.contains(QStringLiteral("-o")))
                args << QStringLiteral("-o") << out;
            args << c.extra;
            const Run r = run(args);
            QCOMPARE(r.status, 1);
            // Each file named once: a message that names it itself is not
            // prefixed with its name again.
            QVERIFY2(r.err.startsWith(QStringLiteral("orvanta-compose: ")) && r.err.count(QLatin1String(c.names)) == 1
                    && r.err.contains(QLatin1String(c.says)),
                qPrintable(r.err));
            QVERIFY(!QFile::exists(out));
        }
        // No temporary file left behind either.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
    }

    void batchGoesOnPastBadPairs()
    {
        QTemporaryDir in, outRoot;
        const auto put = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
            writeFile(in.filePath(QLatin1String(name)), bytes);
        };
        put("a_L.jpg", encodeJpeg(patterned(30, 20, 1)));
        put("a_R.jpg", encodeJpeg(patterned(30, 20, 2)));
        put("b_f1.bmp", encodeBmp(patterned(16, 16, 3)));
        put("b_f2.bmp", encodeBmp(patterned(16, 16, 4)));
        put("c_l.bmp", encodeBmp(patterned(16, 16, 5)));
        put("c_r.bmp", { 'B', 'M', 0, 0 }); // damaged
        put("d_L.jpg", encodeJpeg(patterned(8, 8, 6))); // no partner
        put("e_L.bmp", encodeBmp(patterned(10, 10, 7)));
        put("e_R.bmp", encodeBmp(patterned(11, 10, 8))); // another size
        const QString out = outRoot.filePath(QStringLiteral("made/here"));
        const Run r = run({ QStringLiteral("--batch"), in.path(), QStringLiteral("-o"), out, QStringLiteral("--json"),
            QStringLiteral("-j"), QStringLiteral("3"), QStringLiteral("--format"), QStringLiteral("bmp") });
        QCOMPARE(r.status, 1);

        QMap<QString, QJsonObject> byFirstInput;
        for (const QString& line : r.out.split(u'\n', Qt::SkipEmptyParts)) {
            QJsonParseError e;
            const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &e);
            QVERIFY2(e.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
            const QJsonObject o = doc.object();
            byFirstInput[QFileInfo(o[QStringLiteral("inputs")].toArray().first().toString()).fileName()] = o;
        }
        QCOMPARE(byFirstInput.keys(), QStringList({ "a_L.jpg", "b_f1.bmp", "c_l.bmp", "d_L.jpg", "e_L.bmp" }));
        for (const char* good : { "a_L.jpg", "b_f1.bmp" }) {
            const QJsonObject o = byFirstInput[QLatin1String(good)];
            QVERIFY(o[QStringLiteral("error")].isNull());
            QVERIFY(QFile::exists(o[QStringLiteral("output")].toString()));
            QCOMPARE(o[QStringLiteral("method")].toString(), QStringLiteral("colour"));
            QVERIFY(o[QStringLiteral("ms")].toDouble() >= 0);
        }
        QVERIFY(samePixels(load(out + QStringLiteral("/a.bmp")),
            expected(load(in.filePath(QStringLiteral("a_L.jpg"))), load(in.filePath(QStringLiteral("a_R.jpg"))), {})));
        QVERIFY(byFirstInput[QStringLiteral("c_l.bmp")][QStringLiteral("error")].toString().contains(
            QStringLiteral("c_r.bmp: ")));
        QVERIFY(byFirstInput[QStringLiteral("d_L.jpg")][QStringLiteral("error")].toString().contains(
            QStringLiteral("no right frame")));
        QVERIFY(byFirstInput[QStringLiteral("e_L.bmp")][QStringLiteral("error")].toString().contains(
            QStringLiteral("differ in size")));
        // Only the good pairs' files, and no temporary ones.
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({ "a.bmp", "b.bmp" }));
        // Errors name their files on standard error; the summary goes there
        // too when standard output carries JSON; no progress bar off a
        // terminal.
        QVERIFY2(r.err.contains(QStringLiteral("c_r.bmp")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("5 pairs: 2 written, 3 failed")), qPrintable(r.err));
        QVERIFY(!r.err.contains(u'\r') && !r.err.contains(QStringLiteral("#")));

        // All good: status 0, and the summary on standard output.
        QVERIFY(QFile::remove(in.filePath(QStringLiteral("c_r.bmp"))));
        QVERIFY(QFile::remove(in.filePath(QStringLiteral("c_l.bmp"))));
        QVERIFY(QFile::remove(in.filePath(QStringLiteral("d_L.jpg"))));
        QVERIFY(QFile::remove(in.filePath(QStringLiteral("e_R.bmp"))));
        QVERIFY(QFile::remove(in.filePath(QStringLiteral("e_L.bmp"))));
        const Run again = run({ QStringLiteral("--batch"), in.path(), QStringLiteral("-o"), out });
        QCOMPARE(again.status, 0);
        QVERIFY2(again.out.contains(QStringLiteral("2 pairs: 2 written, 0 failed")), qPrintable(again.out));
        QVERIFY(again.err.isEmpty());
        QVERIFY(QFile::exists(out + QStringLiteral("/a.jpg")));
    }

    void sideBySidePictures()
    {
        QTemporaryDir dir;
        const TBitmap whole = patterned(41, 20, 9); // odd: the middle column is dropped
        writeFile(dir.filePath(QStringLiteral("sbs.bmp")), encodeBmp(whole));
        TBitmap leftHalf, rightHalf;
        leftHalf.setSize(20, 20);
        leftHalf.copyRect(0, 0, whole, 0, 0, 20, 20);
        rightHalf.setSize(20, 20);
        rightHalf.copyRect(0, 0, whole, 21, 0, 20, 20);
        for (const bool cross : { false, true }) {
            const QString out = dir.filePath(QStringLiteral("a.bmp"));
            const Run r = run({ QStringLiteral("--sbs"), cross ? QStringLiteral("cross") : QStringLiteral("parallel"),
                dir.filePath(QStringLiteral("sbs.bmp")), QStringLiteral("-o"), out });
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY(samePixels(load(out), cross ? expected(rightHalf, leftHalf, {}) : expected(leftHalf, rightHalf, {})));
        }
        // A .jps file is side by side without --sbs, cross-eyed; --sbs
        // turns it round.
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("sbs.bmp")), dir.filePath(QStringLiteral("view.JPS"))));
        for (const bool parallel : { false, true }) {
            const QString out = dir.filePath(QStringLiteral("j.bmp"));
            QStringList args { dir.filePath(QStringLiteral("view.JPS")), QStringLiteral("-o"), out };
            if (parallel)
                args << QStringLiteral("--sbs") << QStringLiteral("parallel");
            const Run r = run(args);
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QVERIFY(samePixels(load(out), parallel ? expected(leftHalf, rightHalf, {}) : expected(rightHalf, leftHalf, {})));
        }
        // One picture without --sbs must be an MPO file.
        const Run notMpo = run({ dir.filePath(QStringLiteral("sbs.bmp")), QStringLiteral("-o"),
            dir.filePath(QStringLiteral("b.jpg")) });
        QCOMPARE(notMpo.status, 1);
        QVERIFY2(notMpo.err.contains(QStringLiteral("sbs.bmp: not a multi-picture")), qPrintable(notMpo.err));
    }
    // Halves squeezed to half width (each pair of columns averaged into
    // one) are stretched back: the anaglyph is the full width again and
    // close to the one of the unsqueezed frames, which are smooth enough
    // for a stretch to give them back within a few levels.
    void halfWidthHalvesAreStretchedBack()
    {
        QTemporaryDir dir;
        const auto smooth = [](int w, int h, int phase) {
            TBitmap b;
            b.setSize(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    b.scanLine(y)[x] = pixelFromColor(RGB(int(127 + 100 * std::sin((x + phase) / 9.0)),
                        int(127 + 100 * std::cos((y + x) / 13.0)), (x * 2 + y + phase) % 256 / 2 + 60));
            return b;
        };
        const TBitmap left = smooth(80, 30, 0), right = smooth(80, 30, 5);
        TBitmap sbs;
        sbs.setSize(80, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                for (int half = 0; half < 2; ++half) {
                    const TBitmap& from = half == 0 ? left : right;
                    const std::uint32_t a = from.scanLine(y)[2 * x], b = from.scanLine(y)[2 * x + 1];
                    std::uint32_t mean = 0xFF000000u;
                    for (int c = 0; c < 24; c += 8)
                        mean |= ((((a >> c) & 0xFF) + ((b >> c) & 0xFF) + 1) / 2) << c;
                    sbs.scanLine(y)[half * 40 + x] = mean;
                }
        writeFile(dir.filePath(QStringLiteral("sbs.bmp")), encodeBmp(sbs));
        const QString out = dir.filePath(QStringLiteral("a.bmp"));
        const Run r = run({ QStringLiteral("--sbs"), QStringLiteral("parallel"), QStringLiteral("--half"),
            dir.filePath(QStringLiteral("sbs.bmp")), QStringLiteral("-o"), out });
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const TBitmap got = load(out), want = expected(left, right, {});
        QCOMPARE(got.width(), 80);
        QCOMPARE(got.height(), 30);
        double total = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 80; ++x)
                for (int c = 0; c < 24; c += 8)
                    total += std::abs(int((got.scanLine(y)[x] >> c) & 0xFF) - int((want.scanLine(y)[x] >> c) & 0xFF));
        const double mean = total / (80 * 30 * 3);
        QVERIFY2(mean < 3, qPrintable(QString::number(mean)));
        // Without --half the halves stay half wide.
        QCOMPARE(run({ QStringLiteral("--sbs"), QStringLiteral("parallel"), dir.filePath(QStringLiteral("sbs.bmp")),
                     QStringLiteral("-o"), out })
                     .status,
            0);
        QCOMPARE(load(out).width(), 40);
    }

    void multiPictureFilesAloneAndInBatches()
    {
        QTemporaryDir dir;
        const TBitmap left = patterned(24, 18, 11), right = patterned(24, 18, 12);
        const std::vector<std::uint8_t> leftJpeg = encodeJpeg(left), rightJpeg = encodeJpeg(right);
        writeFile(dir.filePath(QStringLiteral("trip.mpo")), mpofiles::withIndex({ leftJpeg, rightJpeg }, true));
        writeFile(dir.filePath(QStringLiteral("l.jpg")), leftJpeg);
        writeFile(dir.filePath(QStringLiteral("r.jpg")), rightJpeg);
        // The same file as from the two pictures given separately.
        const Run fromMpo = run({ dir.filePath(QStringLiteral("trip.mpo")), QStringLiteral("-o"),
            dir.filePath(QStringLiteral("mpo.jpg")), QStringLiteral("--dx"), QStringLiteral("2") });
        QVERIFY2(fromMpo.status == 0, qPrintable(fromMpo.err));
        QCOMPARE(run({ dir.filePath(QStringLiteral("l.jpg")), dir.filePath(QStringLiteral("r.jpg")),
                     QStringLiteral("-o"), dir.filePath(QStringLiteral("two.jpg")), QStringLiteral("--dx"),
                     QStringLiteral("2") })
                     .status,
            0);
        QFile a(dir.filePath(QStringLiteral("mpo.jpg"))), b(dir.filePath(QStringLiteral("two.jpg")));
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        QVERIFY(a.readAll() == b.readAll());

        // A damaged index is refused by name, and a batch goes on past it.
        std::vector<std::uint8_t> bad = mpofiles::withIndex({ leftJpeg, rightJpeg }, false);
        mpofiles::put(bad, mpofiles::entryAt(1) + 8, std::uint32_t(bad.size()), 4, false); // second picture past the end
        QTemporaryDir batch, out;
        writeFile(batch.filePath(QStringLiteral("bad.mpo")), bad);
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("trip.mpo")), batch.filePath(QStringLiteral("good.MPO"))));
        const Run r = run({ QStringLiteral("--batch"), batch.path(), QStringLiteral("-o"), out.path() });
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("bad.mpo: The multi-picture index")), qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("2 pairs: 1 written, 1 failed")), qPrintable(r.out));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ QStringLiteral("good.jpg") }));
    }

    void alignsAPairWithAKnownShift()
    {
        // A photograph; the right camera sees it 9 pixels further left and 4 lower:
        // right (x, y) shows what left shows at (x + 9, y - 4).
        QTemporaryDir dir;
        const TBitmap scene = loadPictureFile(ORVANTA_TEST_DATA "/coffee.jpg"); // 600 x 400
        const int dx = 9, dy = -4;
        TBitmap left, right;
        left.setSize(260, 180);
        left.copyRect(0, 0, scene, 20, 20, 260, 180);
        right.setSize(260, 180);
        right.copyRect(0, 0, scene, 20 + dx, 20 + dy, 260, 180);
        writeFile(dir.filePath(QStringLiteral("l.bmp")), encodeBmp(left));
        writeFile(dir.filePath(QStringLiteral("r.bmp")), encodeBmp(right));
        const Run print = run({ QStringLiteral("--align=print"), dir.filePath(QStringLiteral("l.bmp")),
            dir.filePath(QStringLiteral("r.bmp")) });
        QVERIFY2(print.status == 0, qPrintable(print.err));
        QCOMPARE(print.out, QStringLiteral("%1 %2\n").arg(dx).arg(dy));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).size() == 2);

        // --align=shift builds with the translation it found: red and cyan
        // then come from the same scene points, so the anaglyph equals one
        // built with the known offsets.
        const QString out = dir.filePath(QStringLiteral("a.bmp"));
        const Run use = run({ QStringLiteral("--align=shift"), dir.filePath(QStringLiteral("l.bmp")),
            dir.filePath(QStringLiteral("r.bmp")), QStringLiteral("-o"), out, QStringLiteral("--json") });
        QVERIFY2(use.status == 0, qPrintable(use.err));
        const QJsonObject o = QJsonDocument::fromJson(use.out.toUtf8()).object();
        QCOMPARE(o[QStringLiteral("dx")].toInt(), dx);
        QCOMPARE(o[QStringLiteral("dy")].toInt(), dy);
        QVERIFY(o[QStringLiteral("aligned")].toBool());
        ComposeSettings s;
        s.dx = dx;
        s.dy = dy;
        QVERIFY(samePixels(load(out), expected(left, right, s)));

        // Swapped, the pairing runs the other way and the offsets turn round.
        const Run swapped = run({ QStringLiteral("--align=print"), QStringLiteral("--swap"),
            dir.filePath(QStringLiteral("l.bmp")), dir.filePath(QStringLiteral("r.bmp")) });
        QCOMPARE(swapped.out, QStringLiteral("%1 %2\n").arg(-dx).arg(-dy));
    }
};

QTEST_APPLESS_MAIN(TestComposeCli)

#include "test_compose_cli.moc"
