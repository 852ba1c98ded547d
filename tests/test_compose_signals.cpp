// Ctrl+C, kill and a closed terminal in the middle of a save: the temporary
// files of the saves still under way go, the files already in place stay,
// and the process ends as the signal ends it. First the core's clean-up in a
// child process of its own, then orvanta-compose itself on pictures large
// enough that a pair takes a while, stopped at several points.
#include "compose/methods.h"
#include "fixtures.h"
#include "pictures/bmp_codec.h"
#include "pictures/jpeg_codec.h"
#include "pictures/picture_files.h"
#include "pictures/temporary_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString program = QStringLiteral(ORVANTA_COMPOSE);

// Large enough that decoding, composing and encoding each take a while.
constexpr int kWidth = 2400;
constexpr int kHeight = 1600;
constexpr int kBatchPairs = 4;

QString signalName(int sig) { return QString::fromLatin1(sigabbrev_np(sig)); }

// The folder's files, hidden ones included, and the sizes of those that are
// a save's temporary files.
struct FolderLook {
    QStringList outputs;
    QList<qint64> temporarySizes;
};

FolderLook look(const QString& folder)
{
    FolderLook l;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& f : files) {
        if (f.fileName().startsWith('.'))
            l.temporarySizes << f.size();
        else
            l.outputs << f.fileName();
    }
    return l;
}

// Whether every thread of the process has stopped, or false when it has
// already ended.
bool allThreadsStopped(qint64 pid)
{
    const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (tasks.isEmpty())
        return false;
    for (const QString& task : tasks) {
        QFile stat(QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(task));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0 || close + 2 >= line.size() || line[close + 2] != 'T')
            return false;
    }
    return true;
}

bool hasEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X';
}

// What the folder held while the process stood still, just before the
// signal; stopped is false when the process had ended before it could be
// stopped, and the look is then of no use.
struct Moment {
    bool stopped = false;
    FolderLook folder;
};

// Waits until ready() holds (or the process ends), then stops the process,
// looks at the folder, sends sig and lets the process go on, so that what
// the folder held is known to be what the signal met.
Moment signalWhen(QProcess& p, int sig, const QString& folder, const std::function<bool()>& ready)
{
    while (p.state() != QProcess::NotRunning && !ready())
        p.waitForFinished(1);
    Moment m;
    const qint64 pid = p.processId();
    if (p.state() == QProcess::NotRunning || pid <= 0)
        return m;
    ::kill(pid_t(pid), SIGSTOP);
    QElapsedTimer waited;
    waited.start();
    while (!allThreadsStopped(pid) && !hasEnded(pid) && waited.elapsed() < 5000)
        QThread::usleep(200);
    m.stopped = allThreadsStopped(pid);
    if (m.stopped)
        m.folder = look(folder);
    ::kill(pid_t(pid), sig);
    ::kill(pid_t(pid), SIGCONT);
    return m;
}

} // namespace

class TestComposeSignals : public QObject {
    Q_OBJECT

    QTemporaryDir inputs_;
    TBitmap expected_; // the anaglyph of the pair with the default settings
    QString batchFolder_;
    // From runs left alone: how long a pair takes once its temporary file is
    // there, and how long the batch takes (0 until measured).
    qint64 pairRest_ = 0;
    qint64 batchTime_ = 0;

    // The process ended by sig when the signal met work still to do: a pair
    // not yet encoded (no temporary file, or one still empty). Otherwise it
    // may also have finished just before, with status 0.
    void checkEnding(const QProcess& p, int sig, const Moment& m, int outputsWanted)
    {
        int stillToEncode = outputsWanted - int(m.folder.outputs.size());
        for (const qint64 size : m.folder.temporarySizes)
            stillToEncode -= size > 0;
        const bool killedBySignal = p.exitStatus() == QProcess::CrashExit && p.exitCode() == sig;
        if (m.stopped && stillToEncode > 0)
            QVERIFY2(killedBySignal, qPrintable(QStringLiteral("status %1, exit code %2").arg(p.exitStatus()).arg(p.exitCode())));
        else
            QVERIFY(killedBySignal || (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0));
    }

    // Nothing half-made in the folder: no temporary file, every output that
    // is there whole, and every one that was there before the signal still
    // there.
    void checkFolder(const QString& folder, const Moment& m, bool bmp)
    {
        const FolderLook after = look(folder);
        QCOMPARE(after.temporarySizes.size(), 0);
        for (const QString& name : m.folder.outputs)
            QVERIFY2(after.outputs.contains(name), qPrintable(name));
        for (const QString& name : after.outputs) {
            const TBitmap got = loadPictureFile(QFile::encodeName(QDir(folder).filePath(name)).toStdString());
            if (bmp)
                QVERIFY2(samePixels(got, expected_), qPrintable(name));
            else
                QVERIFY2(got.width() == kWidth && got.height() == kHeight, qPrintable(name));
        }
    }

private slots:
    void initTestCase()
    {
        // The children must meet these signals with their default action,
        // whatever this test was started with (nohup ignores SIGHUP).
        for (const int sig : { SIGINT, SIGTERM, SIGHUP })
            std::signal(sig, SIG_DFL);
        QVERIFY(inputs_.isValid());
        const TBitmap left = patterned(kWidth, kHeight, 1);
        const TBitmap right = patterned(kWidth, kHeight, 40);
        const std::vector<std::uint8_t> leftJpeg = encodeJpeg(left);
        const std::vector<std::uint8_t> rightJpeg = encodeJpeg(right);
        writeFile(inputs_.filePath("left.jpg"), leftJpeg);
        writeFile(inputs_.filePath("right.jpg"), rightJpeg);
        expected_ = composeAnaglyph(decodePicture(leftJpeg.data(), leftJpeg.size()),
            decodePicture(rightJpeg.data(), rightJpeg.size()), ComposeSettings {});
        batchFolder_ = inputs_.filePath("batch");
        QVERIFY(QDir().mkpath(batchFolder_));
        for (int i = 1; i <= kBatchPairs; ++i) {
            writeFile(QStringLiteral("%1/p%2_L.jpg").arg(batchFolder_).arg(i), leftJpeg);
            writeFile(QStringLiteral("%1/p%2_R.jpg").arg(batchFolder_).arg(i), rightJpeg);
        }
    }

    // The core alone, in a child process: two saves still open and one done
    // when the signal comes.
    void cleanUpInTheCore_data()
    {
        QTest::addColumn<int>("sig");
        for (const int sig : { SIGINT, SIGTERM, SIGHUP })
            QTest::newRow(qPrintable(signalName(sig))) << sig;
    }

    void cleanUpInTheCore()
    {
        QFETCH(int, sig);
        QTemporaryDir dir;
        const std::string done = path(dir, "done.jpg");
        const std::string open = path(dir, "open.jpg");
        const std::string empty = path(dir, "empty.bmp");
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::alarm(20); // a clean-up that never comes ends it with SIGALRM
            removeTemporaryFilesOnSignals();
            writeFileAtomically(done, { 'd', 'o', 'n', 'e' });
            AtomicFileWriter writing(open);
            writing.write({ 1, 2, 3 });
            AtomicFileWriter notWritten(empty);
            ::kill(::getpid(), sig);
            for (;;)
                ::pause();
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("status %1").arg(status)));
        QCOMPARE(WTERMSIG(status), sig);
        QCOMPARE(entries(dir), QStringList { "done.jpg" });
    }

    // One pair to a JPEG file, signalled as its temporary file appears and
    // later on, half-way through what is left after that.
    void singlePair_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<int>("percentAfterTemporary");
        for (const int sig : { SIGINT, SIGTERM, SIGHUP }) {
            QTest::addRow("%s as the temporary file appears", sigabbrev_np(sig)) << sig << 0;
            QTest::addRow("%s later", sigabbrev_np(sig)) << sig << 50;
        }
    }

    void singlePair()
    {
        QFETCH(int, sig);
        QFETCH(int, percentAfterTemporary);
        QTemporaryDir out;
        const QStringList args { inputs_.filePath("left.jpg"), inputs_.filePath("right.jpg"), "-o",
            out.filePath("anaglyph.jpg") };
        if (percentAfterTemporary > 0 && pairRest_ == 0) {
            QProcess p;
            QElapsedTimer t;
            p.start(program, args);
            t.start();
            while (p.state() != QProcess::NotRunning && look(out.path()).temporarySizes.isEmpty())
                p.waitForFinished(1);
            const qint64 appeared = t.elapsed();
            QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            pairRest_ = t.elapsed() - appeared;
            QVERIFY(QFile::remove(out.filePath("anaglyph.jpg")));
        }
        QProcess p;
        p.start(program, args);
        QElapsedTimer sinceTemporary;
        const Moment m = signalWhen(p, sig, out.path(), [&] {
            if (!sinceTemporary.isValid() && !look(out.path()).temporarySizes.isEmpty())
                sinceTemporary.start();
            return sinceTemporary.isValid() && sinceTemporary.elapsed() >= pairRest_ * percentAfterTemporary / 100;
        });
        if (!p.waitForFinished(60000))
            p.kill();
        checkEnding(p, sig, m, 1);
        checkFolder(out.path(), m, false);
    }

    // A batch of pairs to BMP files, signalled at several points of its run:
    // a pair or two in place, others under way.
    void batch_data()
    {
        QTest::addColumn<int>("sig");
        QTest::addColumn<QStringList>("jobs");
        QTest::addColumn<int>("percent");
        QTest::newRow("SIGINT, early") << SIGINT << QStringList() << 15;
        QTest::newRow("SIGTERM, half-way") << SIGTERM << QStringList() << 50;
        QTest::newRow("SIGHUP, late") << SIGHUP << QStringList() << 80;
        // One pair after another: just after the first is in place.
        QTest::newRow("SIGTERM, between pairs") << SIGTERM << QStringList { "-j", "1" } << -1;
    }

    void batch()
    {
        QFETCH(int, sig);
        QFETCH(QStringList, jobs);
        QFETCH(int, percent);
        QTemporaryDir out;
        QStringList args { "--batch", batchFolder_, "-o", out.path(), "--format", "bmp" };
        args << jobs;
        if (percent >= 0 && batchTime_ == 0) {
            QProcess p;
            QElapsedTimer t;
            t.start();
            p.start(program, args);
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(p.exitCode(), 0);
            batchTime_ = t.elapsed();
            QCOMPARE(look(out.path()).outputs.size(), kBatchPairs);
            for (const QString& name : look(out.path()).outputs)
                QVERIFY(QFile::remove(QDir(out.path()).filePath(name)));
        }
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        const Moment m = signalWhen(p, sig, out.path(), [&] {
            return percent >= 0 ? t.elapsed() >= batchTime_ * percent / 100 : !look(out.path()).outputs.isEmpty();
        });
        if (!p.waitForFinished(120000))
            p.kill();
        checkEnding(p, sig, m, kBatchPairs);
        checkFolder(out.path(), m, true);
    }

    // Started with SIGHUP ignored, as nohup starts it, the program keeps it
    // ignored: a closed terminal does not stop the run.
    void ignoredHangupStaysIgnored()
    {
        QTemporaryDir out;
        QProcess p;
        p.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
        p.start(program, { inputs_.filePath("left.jpg"), inputs_.filePath("right.jpg"), "-o", out.filePath("a.bmp") });
        const Moment m = signalWhen(p, SIGHUP, out.path(), [&] { return !look(out.path()).temporarySizes.isEmpty(); });
        QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(look(out.path()).outputs, QStringList { "a.bmp" });
        checkFolder(out.path(), m, true);
    }
};

QTEST_APPLESS_MAIN(TestComposeSignals)
#include "test_compose_signals.moc"
