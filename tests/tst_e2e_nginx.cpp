// The real launcher binary against a real nginx on 127.0.0.1: first install,
// an up-to-date start, a new version, Repair after local damage, a manifest
// of 50,000 entries, and the self-update under Xvfb.

#include "e2e/installation.h"
#include "e2e/nginxserver.h"

#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

namespace {

PublishedGame versionOne()
{
    PublishedGame game;
    game.version = QStringLiteral("1.0\n");
    game.files = {
        {QStringLiteral("Game.exe"), patternBytes(300000, 1)},
        {QStringLiteral("Data/Map.dat"), patternBytes(70000, 2)},
        {QStringLiteral("Data/Maps/deep/level 1.dat"), patternBytes(1500, 3)},
        {QStringLiteral("Données/écran.txt"), QByteArray("accents\n")},
        {QStringLiteral("empty.cfg"), QByteArray()},
        {QStringLiteral("moved/Extra/readme.txt"), QByteArray("served after a 301\n")},
    };
    return game;
}

QStringList gamePaths(const PublishedGame &game)
{
    QStringList paths;
    for (const auto &file : game.files)
        paths << QStringLiteral("/game/") + file.first;
    return paths;
}

// Processes whose executable is `program`.
QList<qint64> processesOf(const QString &program)
{
    QList<qint64> found;
    const QString exe = QFileInfo(program).canonicalFilePath();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == exe)
            found << pid;
    }
    return found;
}

void killProcessesOf(const QString &program)
{
    for (const qint64 pid : processesOf(program)) {
        ::kill(pid_t(pid), SIGTERM);
        for (int i = 0; i < 200 && QFile::exists(QStringLiteral("/proc/%1/exe").arg(pid)); ++i)
            QThread::msleep(10);
    }
}

} // namespace

class NginxEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void firstInstallFromNothing();
    void upToDateStartFetchesOnlyVersion();
    void newVersionChangesAddsAndNests();
    void repairAfterLocalDamage_data();
    void repairAfterLocalDamage();
    void largeUpToDateManifestStaysBounded();
    void selfUpdateStartsTheNewBuild();

private:
    // Runs the launcher once to the end of its start-up check.
    bool runToEnd(const Installation &install, QStringList *lines = nullptr, int timeoutMs = 60000);
    void expectInstalled(const Installation &install, const PublishedGame &game);

    NginxServer m_nginx;
    QString m_store;
};

void NginxEndToEndTest::initTestCase()
{
    if (!NginxServer::available())
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorText()));
    m_store = m_nginx.servedRoot() + QStringLiteral("/store");
}

void NginxEndToEndTest::cleanupTestCase()
{
    m_nginx.stop();
}

void NginxEndToEndTest::init()
{
    QDir(m_nginx.gameDir()).removeRecursively();
    QDir(m_store).removeRecursively();
    QDir().mkpath(m_nginx.gameDir());
    m_nginx.clearLog();
}

bool NginxEndToEndTest::runToEnd(const Installation &install, QStringList *lines, int timeoutMs)
{
    install.write(QStringLiteral("file_listing.php"), "left by an old launcher");
    LauncherRun run(install, m_nginx.baseUrl());
    if (!run.start())
        return false;
    const bool ended = run.waitForEndOfRun(timeoutMs);
    // The launcher then waits in its event loop; nobody clicks Close.
    const bool stillRunning = run.running();
    run.stop();
    if (lines)
        *lines = run.lines();
    return ended && stillRunning;
}

void NginxEndToEndTest::expectInstalled(const Installation &install, const PublishedGame &game)
{
    for (const auto &file : game.files) {
        QVERIFY2(install.exists(file.first), qPrintable(file.first));
        QVERIFY2(install.read(file.first) == file.second, qPrintable(file.first));
    }
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), game.version.toUtf8());
    QVERIFY(!install.exists(QStringLiteral("version.txt")));
    QVERIFY(!install.exists(QStringLiteral("file_listing.php")));
}

void NginxEndToEndTest::firstInstallFromNothing()
{
    const PublishedGame game = versionOne();
    publish(m_nginx.gameDir(), game, m_store);
    Installation install;

    QStringList lines;
    QVERIFY(runToEnd(install, &lines));

    expectInstalled(install, game);
    QCOMPARE(install.read(QStringLiteral("file_listing.xml")), manifestFor(game.files));
    QCOMPARE(install.read(QString::fromUtf8(patchNotesName())), QByteArray("<b>Version 1.0\n</b>"));
    QStringList expected = gamePaths(game);
    expected.insert(expected.indexOf(QStringLiteral("/game/moved/Extra/readme.txt")) + 1,
                    QStringLiteral("/store/Extra/readme.txt"));
    QCOMPARE(m_nginx.requestedPaths(),
             QStringList({QStringLiteral("/game/") + QString::fromUtf8(patchNotesName()), "/game/version.txt",
                          "/game/file_listing.xml"})
                 + expected);
    QCOMPARE(m_nginx.requests().at(8).status, 301);
    QVERIFY(lines.contains(QStringLiteral("Vérification de la version")));
    QVERIFY(lines.contains(QStringLiteral("Comparaison de version")));
    QVERIFY(lines.contains(QStringLiteral("Ecriture de Data/Maps/deep/level 1.dat")));
    QVERIFY(lines.contains(QStringLiteral("Création du dossier : Données/")));
    QVERIFY(install.besideInstallation().isEmpty());
    // The settings store got its two defaults.
    const QByteArray settings = readFileAt(install.configHome() + QStringLiteral("/Team Quillon/Zorvan Lumeth.conf"));
    QVERIFY2(settings.contains("graphics=normal") && settings.contains("launcher_version=1.1"), settings.constData());
}

void NginxEndToEndTest::upToDateStartFetchesOnlyVersion()
{
    const PublishedGame game = versionOne();
    publish(m_nginx.gameDir(), game, m_store);
    Installation install;
    QVERIFY(runToEnd(install));
    const FileMap before = install.files();
    m_nginx.clearLog();

    QStringList lines;
    QVERIFY(runToEnd(install, &lines));

    QCOMPARE(m_nginx.requestedPaths(), QStringList({QStringLiteral("/game/") + QString::fromUtf8(patchNotesName()),
                                                    QStringLiteral("/game/version.txt")}));
    QVERIFY(lines.contains(QStringLiteral("Les fichiers de version sont identiques.")));
    QVERIFY(!lines.contains(QStringLiteral("Téléchargement de ") + m_nginx.baseUrl() + "file_listing.xml"));
    FileMap after = install.files();
    QCOMPARE(after, before);
}

void NginxEndToEndTest::newVersionChangesAddsAndNests()
{
    PublishedGame game = versionOne();
    publish(m_nginx.gameDir(), game, m_store);
    Installation install;
    QVERIFY(runToEnd(install));
    install.write(QStringLiteral("Saves/Zorvan_Party-1"), "the player's save");

    game.version = QStringLiteral("1.1\n");
    game.set(QStringLiteral("Data/Map.dat"), patternBytes(90000, 20));
    game.set(QStringLiteral("Data/Maps/deep/deeper/still/level 2.dat"), patternBytes(4000, 21));
    game.set(QStringLiteral("Launcher.dll"), patternBytes(12000, 22));
    publish(m_nginx.gameDir(), game, m_store);
    m_nginx.clearLog();

    QVERIFY(runToEnd(install));

    expectInstalled(install, game);
    QCOMPARE(install.read(QStringLiteral("Saves/Zorvan_Party-1")), QByteArray("the player's save"));
    QCOMPARE(m_nginx.requestedPaths(),
             QStringList({QStringLiteral("/game/") + QString::fromUtf8(patchNotesName()), "/game/version.txt",
                          "/game/file_listing.xml", "/game/Data/Map.dat",
                          "/game/Data/Maps/deep/deeper/still/level 2.dat", "/game/Launcher.dll"}));
}

void NginxEndToEndTest::repairAfterLocalDamage_data()
{
    QTest::addColumn<QString>("damaged");
    QTest::addColumn<QString>("damage");
    QTest::newRow("deleted") << "Data/Map.dat" << "delete";
    QTest::newRow("truncated") << "Game.exe" << "truncate";
    QTest::newRow("one byte flipped") << "Data/Maps/deep/level 1.dat" << "flip";
    QTest::newRow("empty file given bytes") << "empty.cfg" << "append";
}

// The Repair button cannot be clicked offscreen; Repair writes "0.0" and a
// line end into "localversion.txt" and runs the update check, so the test
// does the first half and lets the start-up check do the second.
void NginxEndToEndTest::repairAfterLocalDamage()
{
    QFETCH(QString, damaged);
    QFETCH(QString, damage);
    const PublishedGame game = versionOne();
    publish(m_nginx.gameDir(), game, m_store);
    Installation install;
    QVERIFY(runToEnd(install));

    QByteArray bytes = install.read(damaged);
    if (damage == QLatin1String("delete"))
        QVERIFY(QFile::remove(install.file(damaged)));
    else if (damage == QLatin1String("truncate"))
        install.write(damaged, bytes.left(bytes.size() / 2));
    else if (damage == QLatin1String("flip"))
        install.write(damaged, bytes.replace(bytes.size() / 2, 1, QByteArray(1, char(bytes.at(bytes.size() / 2) ^ 0x01))));
    else
        install.write(damaged, "x");
    install.write(QStringLiteral("localversion.txt"), "0.0\n");
    m_nginx.clearLog();

    QVERIFY(runToEnd(install));

    expectInstalled(install, game);
    QCOMPARE(m_nginx.requestedPaths(),
             QStringList({QStringLiteral("/game/") + QString::fromUtf8(patchNotesName()), "/game/version.txt",
                          "/game/file_listing.xml", "/game/" + damaged}));
}

void NginxEndToEndTest::largeUpToDateManifestStaysBounded()
{
    const int entries = 50000;
    PublishedGame game;
    game.version = QStringLiteral("big\n");
    Installation install;
    for (int i = 0; i < entries; ++i) {
        const QString path = QStringLiteral("Data/%1/file%2.dat").arg(i % 100).arg(i);
        const QByteArray content = QByteArray::number(i);
        game.files << qMakePair(path, content);
        install.write(path, content);
    }
    publish(m_nginx.gameDir(), game);
    for (const auto &file : game.files)
        QFile::remove(m_nginx.gameDir() + QLatin1Char('/') + file.first);
    install.write(QStringLiteral("localversion.txt"), "older\n");
    install.write(QStringLiteral("file_listing.php"), "x");
    m_nginx.clearLog();

    LauncherRun run(install, m_nginx.baseUrl());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(run.start());
    QVERIFY(run.waitForEndOfRun(150000));
    const qint64 elapsed = clock.elapsed();
    const qint64 peak = run.peakRssKiB();
    run.stop();

    // Every entry was up to date: nothing but the manifest was fetched.
    QCOMPARE(m_nginx.requestedPaths(), QStringList({QStringLiteral("/game/") + QString::fromUtf8(patchNotesName()),
                                                    "/game/version.txt", "/game/file_listing.xml"}));
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), QByteArray("big\n"));
    const qint64 manifestKiB = QFileInfo(install.file(QStringLiteral("file_listing.xml"))).size() / 1024;
    printf("50000 up-to-date entries: manifest %lld KiB, peak RSS %lld KiB, run %lld ms\n", manifestKiB, peak,
           elapsed);
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
    // test presses Return in it as the player would.
    QProcess display;
    int number = 0;
    for (number = 90 + int(QCoreApplication::applicationPid() % 400); number < 1000; ++number)
        if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            break;
    display.start(xvfb, {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(display.waitForStarted(5000));
    auto stopDisplay = qScopeGuard([&display] {
        display.terminate();
        display.waitForFinished(5000);
    });
    const QString displayName = QStringLiteral(":%1").arg(number);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)), 10000);

    const QByteArray launcher = readFileAt(QStringLiteral(ZORVAN_LAUNCHER_BINARY));
    QVERIFY(!launcher.isEmpty());
    PublishedGame game = versionOne();
    game.version = QStringLiteral("2.0\n");
    const QByteArray newBuild = launcher + QByteArray("\nnew build\n");
    game.set(QStringLiteral("Launcher_new.exe"), newBuild);
    publish(m_nginx.gameDir(), game, m_store);

    Installation install;
    install.write(QStringLiteral("Zorvan Lumeth.exe"), launcher);
    QFile::setPermissions(install.file(QStringLiteral("Zorvan Lumeth.exe")),
                          QFile::permissions(install.file(QStringLiteral("Zorvan Lumeth.exe"))) | QFile::ExeOwner);
    install.write(QStringLiteral("file_listing.php"), "x");

    LauncherRun run(install, m_nginx.baseUrl(), install.file(QStringLiteral("Zorvan Lumeth.exe")));
    run.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The launcher draws no OpenGL. Without this the xcb plug-in probes GLX,
    // which loads Mesa's software driver; unloaded at exit, that driver
    // leaves a block the leak checker of the sanitizer build reports.
    run.setEnvironment(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    run.setEnvironment(QStringLiteral("DISPLAY"), displayName);
    QVERIFY(run.start());
    const qint64 oldPid = run.pid();
    // Whatever happens, no build started by the test outlives it.
    auto endBuilds = qScopeGuard([&install] { killProcessesOf(install.file(QStringLiteral("Zorvan Lumeth.exe"))); });
    QVERIFY(run.waitForEndOfRun(60000));
    // The old build has swapped the executables and shows its box.
    QTRY_VERIFY_WITH_TIMEOUT(install.exists(QStringLiteral("Launcher_old.exe")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(install.read(QStringLiteral("Zorvan Lumeth.exe")), newBuild, 10000);

    QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
    xenv.insert(QStringLiteral("DISPLAY"), displayName);
    bool pressed = false;
    for (int attempt = 0; attempt < 100 && run.running(); ++attempt) {
        QProcess search;
        search.setProcessEnvironment(xenv);
        search.start(xdotool, {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                               QString::number(oldPid), QStringLiteral("--name"), QStringLiteral(".*")});
        search.waitForFinished(5000);
        const QStringList windows = QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        // There is no window manager: focus the window, then press Return.
        for (const QString &window : windows) {
            QProcess key;
            key.setProcessEnvironment(xenv);
            key.start(xdotool, {QStringLiteral("windowfocus"), window, QStringLiteral("sleep"),
                                QStringLiteral("0.2"), QStringLiteral("key"), QStringLiteral("Return")});
            key.waitForFinished(5000);
        }
        pressed = !windows.isEmpty();
        run.waitUntil([] { return false; }, 200);
    }
    QVERIFY(pressed);
    // The old build ends with exit code 0 after starting the new one.
    QTRY_VERIFY_WITH_TIMEOUT(!run.running(), 20000);
    QCOMPARE(run.exitCode(), 0);

    // The new build's own start-up run deletes the old build and finds the
    // versions equal.
    QTRY_VERIFY_WITH_TIMEOUT(!install.exists(QStringLiteral("Launcher_old.exe")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("Les fichiers de version sont identiques.")) == 1, 30000);
    QCOMPARE(run.count(QStringLiteral("Démarrage du launcher")), 2);
    QCOMPARE(run.count(QStringLiteral("Vérification de la version")), 2);

    // The new build runs from the swapped-in executable; end it.
    const QList<qint64> newBuilds = processesOf(install.file(QStringLiteral("Zorvan Lumeth.exe")));
    QCOMPARE(newBuilds.size(), 1);
    QVERIFY(newBuilds.first() != oldPid);
    killProcessesOf(install.file(QStringLiteral("Zorvan Lumeth.exe")));
    QVERIFY(processesOf(install.file(QStringLiteral("Zorvan Lumeth.exe"))).isEmpty());

    QVERIFY(!install.exists(QStringLiteral("Launcher_new.exe")));
    QCOMPARE(install.read(QStringLiteral("localversion.txt")), QByteArray("2.0\n"));
    expectInstalled(install, [&] {
        PublishedGame installed = game;
        installed.files.removeLast(); // "Launcher_new.exe" is now "Zorvan Lumeth.exe"
        return installed;
    }());
}

QTEST_GUILESS_MAIN(NginxEndToEndTest)
#include "tst_e2e_nginx.moc"
