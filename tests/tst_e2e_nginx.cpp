// The real launcher binary against a real nginx on 127.0.0.1: a start from
// nothing, up to date, after a new version and after local damage (Repair);
// a manifest of 50,000 entries; the self-update under Xvfb.

#include "e2e/installation.h"
#include "e2e/nginxserver.h"

#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

namespace {

const QString kSave = QStringLiteral("Saves/Zorvan_Party-1");

PublishedGame versionOne()
{
    return {QStringLiteral("1.0\n"),
            {{QStringLiteral("Game.exe"), patternBytes(300000, 1)},
             {QStringLiteral("Data/Map.dat"), patternBytes(70000, 2)},
             {QStringLiteral("Data/Maps/deep/level 1.dat"), patternBytes(1500, 3)},
             {QStringLiteral("Données/écran.txt"), QByteArray("accents\n")},
             {QStringLiteral("empty.cfg"), QByteArray()},
             {QStringLiteral("moved/Extra/readme.txt"), QByteArray("served after a 301\n")}}};
}

// The requests nginx logs for a start: the patch notes, "version.txt", then
// `paths` below "/game/"; a moved file also where its 301 leads.
QStringList served(const QStringList &paths)
{
    QStringList requests{QStringLiteral("/game/") + patchNotesName(), QStringLiteral("/game/version.txt")};
    for (const QString &path : paths) {
        requests << QStringLiteral("/game/") + path;
        if (path.startsWith(QStringLiteral("moved/")))
            requests << QStringLiteral("/store/") + path.mid(6);
    }
    return requests;
}

// Ends every process that runs `program`; returns their ids.
QList<qint64> endProcessesOf(const QString &program)
{
    QList<qint64> found;
    const QString exe = QFileInfo(program).canonicalFilePath();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == exe) {
            found << entry.toLongLong();
            ::kill(pid_t(found.last()), SIGTERM);
        }
    for (const qint64 pid : found)
        for (int i = 0; i < 200 && QFile::exists(QStringLiteral("/proc/%1/exe").arg(pid)); ++i)
            QThread::msleep(10);
    return found;
}

} // namespace

class NginxEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_nginx.stop(); }
    void init();

    void synchronisation_data();
    void synchronisation();
    void largeUpToDateManifestStaysBounded();
    void selfUpdateStartsTheNewBuild();

private:
    // Runs the launcher once to the end of its start-up check, after which
    // it waits in its event loop: nobody clicks Close. `peakKiB` receives
    // its peak resident memory.
    bool runToEnd(const Installation &install, qint64 *peakKiB = nullptr, int timeoutMs = 60000)
    {
        LauncherRun run(install, m_nginx.baseUrl());
        const bool ended = run.start() && run.waitForEndOfRun(timeoutMs) && run.running();
        if (peakKiB)
            *peakKiB = run.peakRssKiB();
        return ended;
    }
    // Everything an installation holds once it has synchronised `game`.
    FileMap synchronised(const PublishedGame &game) const;

    NginxServer m_nginx;
};

void NginxEndToEndTest::initTestCase()
{
    if (!NginxServer::available())
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorText()));
}

void NginxEndToEndTest::init()
{
    QDir(m_nginx.servedRoot()).removeRecursively();
    m_nginx.clearLog();
}

FileMap NginxEndToEndTest::synchronised(const PublishedGame &game) const
{
    FileMap files = game.files;
    files.insert(QStringLiteral("localversion.txt"), game.version.toUtf8());
    files.insert(QStringLiteral("file_listing.xml"), readFileAt(m_nginx.gameDir() + QStringLiteral("/file_listing.xml")));
    files.insert(patchNotesName(), "<b>Version " + game.version.toUtf8() + "</b>");
    return files;
}

void NginxEndToEndTest::synchronisation_data()
{
    QTest::addColumn<QString>("damaged"); // by the player, then Repair
    QTest::addColumn<QByteArray>("damage"); // its new content; none: deleted
    QTest::addColumn<QStringList>("fetched");
    const QString m = QStringLiteral("file_listing.xml");
    const FileMap v1 = versionOne().files;
    QByteArray flipped = v1.value(QStringLiteral("Data/Maps/deep/level 1.dat"));
    flipped[700] = char(flipped.at(700) ^ 0x01);
    QTest::newRow("first install from nothing") << QString() << QByteArray() << QStringList(QStringList{m} + v1.keys());
    QTest::newRow("up to date") << QString() << QByteArray() << QStringList();
    QTest::newRow("new version: changed, added, nested")
        << QString() << QByteArray() << QStringList{m, "Data/Map.dat", "Data/Maps/deep/deeper/still/level 2.dat", "Launcher.dll"};
    QTest::newRow("repair: deleted") << "Data/Map.dat" << QByteArray() << QStringList{m, "Data/Map.dat"};
    QTest::newRow("repair: truncated") << "Game.exe" << v1.value(QStringLiteral("Game.exe")).left(1000) << QStringList{m, "Game.exe"};
    QTest::newRow("repair: one byte flipped") << "Data/Maps/deep/level 1.dat" << flipped << QStringList{m, "Data/Maps/deep/level 1.dat"};
    QTest::newRow("repair: empty file given bytes") << "empty.cfg" << QByteArray("x") << QStringList{m, "empty.cfg"};
}

// A start after the change of the row: exactly the files that differ are
// fetched, each once, and the player's save, which no manifest lists,
// survives.
void NginxEndToEndTest::synchronisation()
{
    QFETCH(QString, damaged);
    QFETCH(QByteArray, damage);
    QFETCH(QStringList, fetched);
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    PublishedGame game = versionOne();
    m_nginx.publish(game);
    Installation install;
    install.write(kSave, "the player's save");
    if (!row.startsWith(QLatin1String("first install"))) {
        QVERIFY(runToEnd(install));
        m_nginx.clearLog();
    }
    if (row.startsWith(QLatin1String("new version"))) {
        game.version = QStringLiteral("1.1\n");
        game.files[QStringLiteral("Data/Map.dat")] = patternBytes(90000, 20);
        game.files[QStringLiteral("Data/Maps/deep/deeper/still/level 2.dat")] = patternBytes(4000, 21);
        game.files[QStringLiteral("Launcher.dll")] = patternBytes(12000, 22);
        m_nginx.publish(game);
    } else if (!damaged.isEmpty()) {
        if (damage.isNull())
            QVERIFY(QFile::remove(install.file(damaged)));
        else
            install.write(damaged, damage);
        // The Repair button cannot be clicked offscreen: the test writes
        // "0.0" and a line end as Repair does; the start-up check does the rest.
        install.write(QStringLiteral("localversion.txt"), "0.0\n");
    }

    QVERIFY(runToEnd(install));

    FileMap expected = synchronised(game);
    expected.insert(kSave, "the player's save");
    QCOMPARE(install.files(), expected);
    QCOMPARE(m_nginx.requestedPaths(), served(fetched));
    QCOMPARE(install.besideInstallation(), QStringList());
    // The settings store got its two defaults.
    const QByteArray settings = readFileAt(install.configHome() + QStringLiteral("/Team Quillon/Zorvan Lumeth.conf"));
    QVERIFY2(settings.contains("graphics=normal") && settings.contains("launcher_version=1.1"), settings.constData());
}

void NginxEndToEndTest::largeUpToDateManifestStaysBounded()
{
    Installation install;
    QList<QPair<QString, QByteArray>> entries;
    for (int i = 0; i < 50000; ++i) {
        entries << qMakePair(QStringLiteral("Data/%1/file%2.dat").arg(i % 100).arg(i), QByteArray::number(i));
        install.write(entries.last().first, entries.last().second);
    }
    // Only the manifest lists the files: a request for one of them would fail.
    m_nginx.publish({QStringLiteral("big\n"), {}});
    m_nginx.write(QStringLiteral("file_listing.xml"), manifestFor(entries));
    install.write(QStringLiteral("localversion.txt"), "older\n");

    QElapsedTimer clock;
    clock.start();
    qint64 peak = 0;
    QVERIFY(runToEnd(install, &peak, 150000));
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(m_nginx.requestedPaths(), served({QStringLiteral("file_listing.xml")}));
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), QByteArray("big\n"));
    const qint64 manifestKiB = QFileInfo(install.file(QStringLiteral("file_listing.xml"))).size() / 1024;
    printf("50000 up-to-date entries: manifest %lld KiB, peak RSS %lld KiB, run %lld ms\n", manifestKiB, peak, elapsed);
    fflush(stdout);
    QVERIFY(peak > 0);
    QVERIFY2(peak < 400 * 1024, qPrintable(QString::number(peak)));
}

void NginxEndToEndTest::selfUpdateStartsTheNewBuild()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty())
        QSKIP("needs Xvfb and xdotool (apt-get install xvfb xdotool)");

    // A private X display: the message box is a real window there, and the
    // test presses Return in it as the player would. Xvfb writes the number
    // of the display it took once it accepts clients.
    QProcess display;
    display.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    auto stopDisplay = qScopeGuard([&display] {
        display.terminate();
        display.waitForFinished(5000);
    });
    QVERIFY(display.waitForReadyRead(10000));
    QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
    xenv.insert(QStringLiteral("DISPLAY"), ':' + QString::fromLatin1(display.readAllStandardOutput()).trimmed());

    const QByteArray launcher = readFileAt(QStringLiteral(ZORVAN_LAUNCHER_BINARY));
    QVERIFY(!launcher.isEmpty());
    PublishedGame game = versionOne();
    game.version = QStringLiteral("2.0\n");
    const QByteArray newBuild = launcher + QByteArray("\nnew build\n");
    game.files.insert(QStringLiteral("Launcher_new.exe"), newBuild);
    m_nginx.publish(game);

    Installation install;
    const QString exe = install.file(QStringLiteral("Zorvan Lumeth.exe"));
    install.write(QStringLiteral("Zorvan Lumeth.exe"), launcher);
    QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);

    // The launcher draws no OpenGL. Without QT_XCB_GL_INTEGRATION=none the
    // xcb plug-in probes GLX, which loads Mesa's software driver; unloaded at
    // exit, that driver leaves a block the leak checker of the sanitizer
    // build reports.
    LauncherRun run(install, m_nginx.baseUrl(), exe,
                    {{"QT_QPA_PLATFORM", "xcb"}, {"QT_XCB_GL_INTEGRATION", "none"}, {"DISPLAY", xenv.value("DISPLAY")}});
    QVERIFY(run.start());
    const qint64 oldPid = run.pid();
    // Whatever happens, no build started by the test outlives it.
    auto endBuilds = qScopeGuard([&exe] { endProcessesOf(exe); });
    QVERIFY(run.waitForEndOfRun());
    // The old build has swapped the executables and shows its box.
    QTRY_VERIFY_WITH_TIMEOUT(install.exists(QStringLiteral("Launcher_old.exe")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(install.read(QStringLiteral("Zorvan Lumeth.exe")), newBuild, 10000);
    // The new build's start-up run will end by deleting it.
    install.write(QStringLiteral("file_listing.php"), "x");

    auto xdo = [&](const QStringList &arguments) {
        QProcess tool;
        tool.setProcessEnvironment(xenv);
        tool.start(xdotool, arguments);
        tool.waitForFinished(5000);
        return QString::fromLatin1(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    bool pressed = false;
    for (int attempt = 0; attempt < 100 && run.running(); ++attempt) {
        const QStringList windows = xdo({"search", "--onlyvisible", "--pid", QString::number(oldPid), "--name", ".*"});
        // There is no window manager: focus the window, then press Return.
        for (const QString &window : windows)
            xdo({"windowfocus", window, "sleep", "0.2", "key", "Return"});
        pressed = !windows.isEmpty();
        run.waitUntil([] { return false; }, 200);
    }
    QVERIFY(pressed);
    // The old build ends with exit code 0 after starting the new one.
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 20000);
    QCOMPARE(run.exitCode(), 0);

    // The new build runs from the swapped-in executable; its start-up run
    // deletes the old build and finds the versions equal.
    QTRY_VERIFY_WITH_TIMEOUT(!install.exists(QStringLiteral("file_listing.php")), 30000);
    QCOMPARE(run.count(QStringLiteral("Démarrage du launcher")), 2);
    QCOMPARE(run.count(QStringLiteral("Vérification de la version")), 2);
    QCOMPARE(run.count(QStringLiteral("Les fichiers de version sont identiques.")), 1);
    const QList<qint64> newBuilds = endProcessesOf(exe);
    QCOMPARE(newBuilds.size(), 1);
    QVERIFY(newBuilds.first() != oldPid);

    FileMap expected = synchronised(game);
    expected.insert(QStringLiteral("Zorvan Lumeth.exe"), expected.take(QStringLiteral("Launcher_new.exe")));
    QCOMPARE(install.files(), expected);
}

QTEST_GUILESS_MAIN(NginxEndToEndTest)
#include "tst_e2e_nginx.moc"
