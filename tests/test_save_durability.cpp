// A save that survives a crash: the writer flushes the file before it
// renames it and the folder after, and each system call that fails on the
// way ends the save with its message, the older file as it was and no
// temporary file left.
//
// This program defines fchmod, write, fsync, close and rename itself. The
// core is linked in statically, so its calls come here; calls on files
// outside the test's folder, and every call until a test arms the
// recording, go straight on to the C library's own.
#include "compose/errors.h"
#include "fixtures.h"
#include "pictures/picture_files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Interposer {
    std::mutex mutex;
    std::string folder; // canonical, without a final slash; empty: not armed
    std::vector<std::string> calls;
    std::string failing; // the call that fails, as recorded
    int failure = 0;
};

Interposer& state()
{
    static Interposer s;
    return s;
}

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

std::string pathOfDescriptor(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

// A path inside the armed folder as a name relative to it: "." for the
// folder itself, the file's name otherwise; empty when it lies outside.
std::string insideFolder(const std::string& folder, const std::string& path)
{
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0)
        return {};
    if (path.size() == folder.size())
        return ".";
    return path[folder.size()] == '/' ? path.substr(folder.size() + 1) : std::string();
}

// Records call on the named files when they lie in the armed folder, and
// tells whether the call is to fail, with errno set.
bool recordAndFail(const std::string& call, const std::string& first, const std::string& second = {})
{
    Interposer& s = state();
    const std::lock_guard<std::mutex> lock(s.mutex);
    const std::string a = insideFolder(s.folder, first);
    if (a.empty())
        return false;
    s.calls.push_back(call + " " + a + (second.empty() ? "" : " " + insideFolder(s.folder, second)));
    if (call != s.failing)
        return false;
    errno = s.failure;
    return true;
}

bool isFolder(int fd)
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

extern "C" {

int fchmod(int fd, mode_t mode) noexcept
{
    if (recordAndFail("fchmod", pathOfDescriptor(fd)))
        return -1;
    return real<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

ssize_t write(int fd, const void* data, size_t size)
{
    if (recordAndFail("write", pathOfDescriptor(fd)))
        return -1;
    return real<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

int fsync(int fd)
{
    if (recordAndFail(isFolder(fd) ? "fsync-folder" : "fsync", pathOfDescriptor(fd)))
        return -1;
    return real<int (*)(int)>("fsync")(fd);
}

// Like the kernel's, a failed close still releases the descriptor.
int close(int fd)
{
    const bool fail = !isFolder(fd) && recordAndFail("close", pathOfDescriptor(fd));
    const int result = real<int (*)(int)>("close")(fd);
    if (!fail)
        return result;
    errno = state().failure;
    return -1;
}

int rename(const char* from, const char* to) noexcept
{
    if (recordAndFail("rename", from, to))
        return -1;
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

} // extern "C"

namespace {

// Records the calls on files in dir, and makes failing fail with error,
// until it goes out of scope.
class Armed {
public:
    Armed(const QTemporaryDir& dir, const std::string& failing = {}, int error = 0)
    {
        char* canonical = ::realpath(QFile::encodeName(dir.path()).constData(), nullptr);
        Interposer& s = state();
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.folder = canonical ? canonical : "";
        std::free(canonical);
        s.calls.clear();
        s.failing = failing;
        s.failure = error;
    }
    ~Armed()
    {
        Interposer& s = state();
        const std::lock_guard<std::mutex> lock(s.mutex);
        s.folder.clear();
        s.failing.clear();
    }
    // The calls so far, each temporary file named "TEMP(target)".
    QStringList calls() const
    {
        Interposer& s = state();
        const std::lock_guard<std::mutex> lock(s.mutex);
        QStringList out;
        static const QRegularExpression temporary(QStringLiteral("(?<=^| )\\.([^ ]+)\\.[A-Za-z0-9]{6}(?= |$)"));
        for (const std::string& call : s.calls)
            out << QString::fromStdString(call).replace(temporary, QStringLiteral("TEMP(\\1)"));
        return out;
    }
};

std::string canonicalPath(const QTemporaryDir& dir, const char* name)
{
    char* canonical = ::realpath(QFile::encodeName(dir.path()).constData(), nullptr);
    const std::string folder = canonical ? canonical : "";
    std::free(canonical);
    return folder + "/" + name;
}

QByteArray contents(const std::string& file)
{
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

int openDescriptors()
{
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            count += e->d_name[0] != '.';
        ::closedir(d);
    }
    return count;
}

const std::vector<std::uint8_t> kNewBytes { 'n', 'e', 'w', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e' };

} // namespace

class TestSaveDurability : public QObject {
    Q_OBJECT
private slots:
    // The bytes reach the disk before the name does, and the name after the
    // rename: a crash at any moment leaves the old picture or the new one.
    void flushesTheFileBeforeTheRenameAndTheFolderAfter()
    {
        QTemporaryDir dir;
        const std::string file = canonicalPath(dir, "photo.jpg");
        writeFile(QString::fromStdString(file), { 'o', 'l', 'd' });
        QStringList calls;
        {
            const Armed armed(dir);
            writeFileAtomically(file, kNewBytes);
            calls = armed.calls();
        }
        QCOMPARE(calls,
            QStringList({ "fchmod TEMP(photo.jpg)", "write TEMP(photo.jpg)", "fsync TEMP(photo.jpg)",
                "close TEMP(photo.jpg)", "rename TEMP(photo.jpg) photo.jpg", "fsync-folder ." }));
        QCOMPARE(contents(file), QByteArray("new picture"));
        QCOMPARE(entries(dir), QStringList { "photo.jpg" });
    }

    void failureKeepsTheOldFileAndLeavesNoTemporary_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        const QString cannotCreate = QStringLiteral("Cannot create file \"%1\". %2");
        QTest::newRow("fchmod") << "fchmod" << EPERM << cannotCreate.arg("%1", "Operation not permitted");
        QTest::newRow("write, disk full") << "write" << ENOSPC << "Stream write error";
        QTest::newRow("fsync of the file") << "fsync" << EIO << "Stream write error";
        QTest::newRow("close") << "close" << EIO << "Stream write error";
        QTest::newRow("rename") << "rename" << EACCES << cannotCreate.arg("%1", "Permission denied");
    }

    void failureKeepsTheOldFileAndLeavesNoTemporary()
    {
        QFETCH(QString, call);
        QFETCH(int, error);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const std::string file = canonicalPath(dir, "photo.jpg");
        const std::vector<std::uint8_t> old { 'o', 'l', 'd', 0, 0xff, '\n' };
        writeFile(QString::fromStdString(file), old);
        ::chmod(file.c_str(), 0640);
        const int descriptors = openDescriptors();
        QString got;
        QStringList calls;
        {
            const Armed armed(dir, call.toStdString(), error);
            got = errorOf([&] { writeFileAtomically(file, kNewBytes); });
            calls = armed.calls();
        }
        if (message.contains(QStringLiteral("%1")))
            message = message.arg(QString::fromStdString(file));
        QCOMPARE(got, message);
        QVERIFY2(calls.join('\n').contains(call), "the failing call was never made");
        QCOMPARE(contents(file), QByteArray(reinterpret_cast<const char*>(old.data()), int(old.size())));
        struct stat info {};
        QCOMPARE(::stat(file.c_str(), &info), 0);
        QCOMPARE(int(info.st_mode & 07777), 0640);
        QCOMPARE(entries(dir), QStringList { "photo.jpg" });
        QCOMPARE(openDescriptors(), descriptors);
    }

    void folderThatCannotBeFlushed_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        // The filesystem does not flush folders at all: nothing more to do.
        QTest::newRow("EINVAL") << EINVAL << "<no error>";
        // The rename may not be on the disk: not a finished save, although
        // the new file is already in place.
        QTest::newRow("EIO") << EIO << "Stream write error";
    }

    void folderThatCannotBeFlushed()
    {
        QFETCH(int, error);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const std::string file = canonicalPath(dir, "photo.jpg");
        writeFile(QString::fromStdString(file), { 'o', 'l', 'd' });
        const int descriptors = openDescriptors();
        QString got;
        {
            const Armed armed(dir, "fsync-folder", error);
            got = errorOf([&] { writeFileAtomically(file, kNewBytes); });
        }
        QCOMPARE(got, message);
        QCOMPARE(contents(file), QByteArray("new picture"));
        QCOMPARE(entries(dir), QStringList { "photo.jpg" });
        QCOMPARE(openDescriptors(), descriptors);
    }
};

QTEST_APPLESS_MAIN(TestSaveDurability)
#include "test_save_durability.moc"
