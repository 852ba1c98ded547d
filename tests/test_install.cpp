// cmake --install of this build into a temporary prefix: exactly the program,
// its desktop entry and its icons arrive, the icons are the window's own, and
// the entry passes desktop-file-validate as installed.
//
//   test_install CMAKE BUILD_DIR COMPONENT APP_ID BINDIR DATADIR [QTest options]
#include "app/icon.h"

#include <QDirIterator>
#include <QGuiApplication>
#include <QMap>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cstdio>
#include <optional>

namespace {

struct Setup {
    QString cmake, buildDir, component, appId, binDir, dataDir;
};
Setup setup;

struct Run {
    int status = -1;
    QString output;
};

Run run(const QString& program, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A DESTDIR from the caller would send the install outside the prefix.
    env.remove(QStringLiteral("DESTDIR"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return { -1, QStringLiteral("%1 did not finish: %2").arg(program, p.errorString()) };
    }
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAll()) };
}

// The keys of the [Desktop Entry] group, as written (localised keys keep
// their [xx] suffix).
QMap<QString, QString> desktopEntry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u'['))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(u'=') && !line.startsWith(u'#'))
            keys.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    return keys;
}

QString hex(QRgb colour)
{
    return QStringLiteral("#%1").arg(colour & 0xffffff, 6, 16, QChar(u'0'));
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir prefix_;

    QString installed(const QString& relative) const { return prefix_.filePath(relative); }
    QString entryPath() const
    {
        return QStringLiteral("%1/applications/%2.desktop").arg(setup.dataDir, setup.appId);
    }
    QString iconPath(const QString& sizeDir, const QString& suffix) const
    {
        return QStringLiteral("%1/icons/hicolor/%2/apps/%3.%4").arg(setup.dataDir, sizeDir, setup.appId, suffix);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(prefix_.isValid(), qPrintable(prefix_.errorString()));
        // The component holds every install rule that names none (the
        // top-level CMakeLists.txt), and installing it by name leaves the
        // build's install_manifest.txt, the record of the user's own install,
        // untouched.
        const Run install = run(setup.cmake,
            { QStringLiteral("--install"), setup.buildDir, QStringLiteral("--prefix"), prefix_.path(),
                QStringLiteral("--component"), setup.component });
        QVERIFY2(install.status == 0, qPrintable(install.output));
    }

    void installsTheProgramsAndTheDesktopFilesOnly()
    {
        const QString program = setup.binDir + QStringLiteral("/orvanta");
        // The command-line tool goes beside the program; the rest of the
        // build's programs stay in the build.
        QStringList expected = { program, setup.binDir + QStringLiteral("/orvanta-compose"),
            setup.dataDir + QStringLiteral("/man/man1/orvanta-compose.1"),
            setup.dataDir + QStringLiteral("/man/man1/orvanta.1"), entryPath(),
            QStringLiteral("%1/metainfo/%2.metainfo.xml").arg(setup.dataDir, setup.appId),
            iconPath(QStringLiteral("scalable"), QStringLiteral("svg")) };
        for (const QSize& size : appIcon().availableSizes())
            expected << iconPath(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), QStringLiteral("png"));
        expected.sort();

        // Everything that is not a directory: a test, the benchmark or a
        // helper installed by mistake shows up here.
        QStringList found;
        QDirIterator it(prefix_.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info(it.next());
            if (!info.isDir() || info.isSymLink())
                found << QDir(prefix_.path()).relativeFilePath(info.filePath());
        }
        found.sort();
        QStringList extra, missing;
        for (const QString& file : found)
            if (!expected.contains(file))
                extra << file;
        for (const QString& file : expected)
            if (!found.contains(file))
                missing << file;
        QVERIFY2(found == expected,
            qPrintable(QStringLiteral("installed but not expected: [%1]; expected but missing: [%2]")
                    .arg(extra.join(QLatin1String(", ")), missing.join(QLatin1String(", ")))));

        const QFileInfo programFile(installed(program));
        QVERIFY(programFile.isExecutable());
        QVERIFY(programFile.size() > 0);
    }

    void iconsAreTheWindowsIcon()
    {
        const QIcon icon = appIcon();
        QVERIFY(!icon.availableSizes().isEmpty());
        for (const QSize& size : icon.availableSizes()) {
            const QString path
                = installed(iconPath(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), QStringLiteral("png")));
            QImage png;
            QVERIFY2(png.load(path, "PNG"), qPrintable(path));
            QCOMPARE(png.size(), size);
            const QImage shown = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(shown.size(), size);
            QVERIFY2(png.convertToFormat(QImage::Format_ARGB32) == shown,
                qPrintable(QStringLiteral("%1 differs from the window's icon").arg(path)));
        }
    }

    // The scalable icon is hand-written, so it is checked against the drawing:
    // a well-formed SVG on the 48 x 48 grid, painting the drawing's rim and
    // lens colours.
    void scalableIconMatchesTheDrawing()
    {
        const QString path = installed(iconPath(QStringLiteral("scalable"), QStringLiteral("svg")));
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        QXmlStreamReader xml(&file);
        QSet<QString> paints;
        std::optional<QString> viewBox;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (!viewBox) {
                QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
                QCOMPARE(xml.namespaceUri().toString(), QStringLiteral("http://www.w3.org/2000/svg"));
                viewBox = xml.attributes().value(QLatin1String("viewBox")).toString();
            }
            for (const char* key : { "fill", "stroke" })
                paints << xml.attributes().value(QLatin1String(key)).toString().toLower();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(viewBox.value_or(QString()), QStringLiteral("0 0 48 48"));

        // Opaque pixels of the 48-pixel drawing: on the left rim, and inside
        // the red and the cyan lens below their highlights.
        const QImage drawn = appIconImage(48).convertToFormat(QImage::Format_ARGB32);
        for (const QPoint at : { QPoint(2, 23), QPoint(11, 27), QPoint(36, 27) }) {
            const QRgb pixel = drawn.pixel(at);
            QCOMPARE(qAlpha(pixel), 255);
            QVERIFY2(paints.contains(hex(pixel)),
                qPrintable(QStringLiteral("the drawing's %1 at (%2, %3) is not painted in %4")
                        .arg(hex(pixel))
                        .arg(at.x())
                        .arg(at.y())
                        .arg(path)));
        }
    }

    void entryNamesWhatIsInstalled()
    {
        const auto keys = desktopEntry(installed(entryPath()));
        QVERIFY(!keys.isEmpty());
        // Exec and TryExec are looked up on PATH, where bin/ is.
        QCOMPARE(keys.value(QStringLiteral("Exec")), QStringLiteral("orvanta"));
        QCOMPARE(keys.value(QStringLiteral("TryExec")), QStringLiteral("orvanta"));
        QVERIFY(QFileInfo(installed(setup.binDir + u'/' + keys.value(QStringLiteral("Exec")))).isExecutable());
        // Icon is a name in the icon theme, which the install provides.
        const QString icon = keys.value(QStringLiteral("Icon"));
        QVERIFY(!icon.isEmpty());
        QVERIFY(QFileInfo::exists(
            installed(QStringLiteral("%1/icons/hicolor/scalable/apps/%2.svg").arg(setup.dataDir, icon))));
    }

    // No error, warning or hint: the validator prints nothing at all.
    void installedEntryValidates()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is not installed (scripts/deps installs it)");
        const Run check = run(validator, { installed(entryPath()) });
        QVERIFY2(check.status == 0 && check.output.isEmpty(), qPrintable(check.output));
    }
};

int main(int argc, char** argv)
{
    // The build's own paths come first on the command line.
    if (argc < 7) {
        std::fprintf(stderr, "usage: test_install CMAKE BUILD_DIR COMPONENT APP_ID BINDIR DATADIR [QTest options]\n");
        return 2;
    }
    setup = { QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
        QString::fromLocal8Bit(argv[4]), QString::fromLocal8Bit(argv[5]), QString::fromLocal8Bit(argv[6]) };
    argv[6] = argv[0];
    int qtArgc = argc - 6;
    char** qtArgv = argv + 6;
    // The icons need Qt Gui.
    QGuiApplication app(qtArgc, qtArgv);
    TestInstall test;
    return QTest::qExec(&test, qtArgc, qtArgv);
}
#include "test_install.moc"
