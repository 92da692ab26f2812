// The real launcher binary against a private nginx on 127.0.0.1, set up as
// tools/server/nginx-update.conf says: a first install and a new version;
// an upload stopped after each of its steps; SIGKILLs during a
// synchronisation, each followed by a restart.

#include "support/e2e.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

using namespace e2e;

class NginxEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_nginx.terminate(), m_nginx.waitForFinished(); }
    void firstInstallThenNewVersion();
    void interruptedUpload_data();
    void interruptedUpload();
    void killedSynchronisationsConverge();

private:
    void publish(const QString &version, const FileMap &files);
    QStringList servedRequests() const;
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/game/").arg(m_port); }

    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_port = 0;
};

// nginx serves "www/game/" as the update server with the studio's
// configuration, "*.big" files at 4 MiB/s (so that a test can act during a
// transfer), and "game/moved/REST" as a 301 to "/store/REST"; one process
// in the foreground, every path in the private directory.
void NginxEndToEndTest::initTestCase()
{
    if (!QFile::exists("/usr/sbin/nginx"))
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    // A free port, unless it is taken before nginx listens: then another.
    for (int attempt = 0; attempt < 5 && m_nginx.state() != QProcess::Running; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_port = probe.serverPort();
        probe.close();
        writeFile(m_dir.filePath("nginx.conf"),
                  QString(R"(daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;
events { }
http { default_type application/octet-stream; absolute_redirect off; log_format e2e '$request_completion $status $request_uri'; access_log %1/access.log e2e;
  client_body_temp_path %1/t1; proxy_temp_path %1/t2; fastcgi_temp_path %1/t3; uwsgi_temp_path %1/t4; scgi_temp_path %1/t5;
  map $uri $rate { ~\.big$ 4m; default 0; } limit_rate $rate;
  server { listen 127.0.0.1:%2; root %1/www; include "%3/tools/server/nginx-update.conf";
           location /game/moved/ { rewrite ^/game/moved/(.*)$ /store/$1 permanent; } } })")
                      .arg(m_dir.path(), QString::number(m_port), ZORVAN_SOURCE_DIR)
                      .toUtf8());
        m_nginx.start("/usr/sbin/nginx", {"-p", m_dir.path() + '/', "-c", m_dir.filePath("nginx.conf"), "-e", m_dir.filePath("error.log")});
        m_nginx.waitForStarted(5000);
        for (int i = 0; i < 200 && m_nginx.state() == QProcess::Running; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return;
            m_nginx.waitForFinished(20);
        }
    }
    QFAIL(qPrintable("nginx did not start: " + readFile(m_dir.filePath("error.log"))));
}

// Publishes `version`, the files below "moved/" where the 301 leads; the
// access log starts anew.
void NginxEndToEndTest::publish(const QString &version, const FileMap &files)
{
    QDir(m_dir.filePath("www")).removeRecursively();
    const FileMap served = release(version, files);
    for (auto it = served.begin(); it != served.end(); ++it)
        writeFile(m_dir.filePath("www/") + (it.key().startsWith("moved/") ? "store/" + it.key().mid(6) : "game/" + it.key()), it.value());
    writeFile(m_dir.filePath("access.log"), {});
}

// The requests nginx answered in full since the last publication. A request
// whose connection closed before any answer fetched nothing, and a 301
// asked for twice in a row (the toolkit's redirect handling sometimes sends
// it again) carried no file: both are only reported. Every file body must
// still be fetched exactly once.
QStringList NginxEndToEndTest::servedRequests() const
{
    QStringList served;
    QString lastRedirect;
    for (const QString &line : QUrl::fromPercentEncoding(readFile(m_dir.filePath("access.log"))).split('\n', Qt::SkipEmptyParts)) {
        const QString status = line.section(' ', 1, 1), uri = line.section(' ', 2);
        if (!line.startsWith(QLatin1String("OK ")))
            qInfo("not answered in full: %s", qPrintable(line));
        else if (status == QLatin1String("301") && uri == lastRedirect)
            qInfo("redirect asked for again by the toolkit: %s", qPrintable(uri));
        else
            served << uri;
        lastRedirect = status == QLatin1String("301") ? uri : QString();
    }
    return served;
}

// Each start fetches exactly the files that differ, each once, follows
// nginx's 301, and leaves the player's save, which no manifest lists; the
// player's log, outside the installation, holds the run's lines.
void NginxEndToEndTest::firstInstallThenNewVersion()
{
    FileMap game{{"Game.exe", QByteArray(300000, 'g')},
                 {"Data/Map.dat", QByteArray(70000, 'm')},
                 {"empty.cfg", ""},
                 {"Données/écran d'accueil 1.txt", "accents\n"},
                 {"moved/Extra/readme.txt", "served after a 301\n"}};
    Installation install;
    install.write("Saves/Zorvan_Party-1", "the player's save");
    QStringList fetched = game.keys();
    for (const QString version : {"1.0\n", "1.1\n"}) {
        if (version == "1.1\n") {
            game["Data/Map.dat"] = QByteArray(90000, 'M');
            game["Data/Maps/deep/level 2.dat"] = "added";
            fetched = QStringList{"Data/Map.dat", "Data/Maps/deep/level 2.dat"};
        }
        publish(version, game);
        LauncherRun run(install, baseUrl());
        QVERIFY(run.start() && run.waitForEndOfRun());

        QStringList expectedRequests{"/game/" + kNotes, "/game/version.txt", "/game/file_listing.xml"};
        for (const QString &path : fetched)
            expectedRequests << "/game/" + path << (path.startsWith("moved/") ? QStringList{"/store/" + path.mid(6)} : QStringList());
        QCOMPARE(servedRequests().join(' '), expectedRequests.join(' '));
        FileMap expected = synchronised(version, game);
        expected.insert("Saves/Zorvan_Party-1", "the player's save");
        QCOMPARE(install.files(), expected);
        QVERIFY(install.aloneInParent());
        // The player's log holds the run's debug output, each line after its time.
        run.process.kill(), run.process.waitForFinished();
        QString log = QString::fromUtf8(readFile(install.side.filePath("Team Quillon/Zorvan Lumeth/launcher.log")));
        const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ", QRegularExpression::MultilineOption);
        QCOMPARE(log.count(time), log.count('\n'));
        QCOMPARE(log.remove(time), run.log());
    }
}

// The studio's upload into the served directory, stopped after one of its
// steps, then completed. A launcher that runs meanwhile, from the version
// before or an older one, records the new version only with every file of
// it, and none does before the version file changes; each reaches the new
// version file for file at its first run after the upload. The check of
// the live server names what differs from the publication at each point;
// "by hand" leaves a stale, a cut-short and a missing file, as a copy in
// place would, before the version file changes.
void NginxEndToEndTest::interruptedUpload_data()
{
    QTest::addColumn<QString>("stopAfter");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<bool>("byHand");
    QTest::addColumn<QStringList>("differences");
    for (const char *from : {"1.0\n", "0.9\n"}) {
        const auto row = [&](const char *stop, bool byHand, const QStringList &differences) {
            QTest::addRow("%s%s, from %.3s", byHand ? "by hand, " : "", *stop ? stop : "complete", from)
                << stop << QByteArray(from) << byHand << differences;
        };
        row("files", false, {"stale: version.txt", "stale: file_listing.xml", "stale: " + kNotes});
        row("notes", false, {"stale: version.txt", "stale: file_listing.xml"});
        row("manifest", false, {"stale: version.txt"});
        row("", false, {});
        row("manifest", true, {"stale: version.txt", "cut short: Data/Map.dat", "missing: Data/New/added.dat", "stale: Game.exe"});
    }
}

void NginxEndToEndTest::interruptedUpload()
{
    QFETCH(QString, stopAfter);
    QFETCH(QByteArray, from);
    QFETCH(bool, byHand);
    QFETCH(QStringList, differences);
    const FileMap older{{"Game.exe", "game 0.9"}, {"Data/Map.dat", QByteArray(70000, 'o')}, {"Data/same.dat", "same"}};
    FileMap previous = older;
    previous["Game.exe"] = "game 1.0";
    previous["Data/Map.dat"] = QByteArray(80000, 'p');
    FileMap next = previous;
    next["Game.exe"] = "game 2.0, larger";
    next["Data/Map.dat"] = QByteArray(90000, 'n');
    next["Data/New/added.dat"] = "added";
    publish("1.0\n", previous);
    QTemporaryDir publication;
    writeTree(publication.path(), release("2.0\n", next));
    const QString served = m_dir.filePath("www/game/");
    const auto upload = [&](const QString &stop) {
        return ::publish(QStringList{"--upload", publication.path(), served}
                         + (stop.isEmpty() ? QStringList() : QStringList{"--stop-after", stop}))
                   .first
            == 0;
    };
    // The lines of the check without their details, and its exit code when
    // it does not match them.
    const auto verify = [&] {
        const QPair<int, QString> run = ::publish({"--verify", baseUrl(), publication.path()}, true);
        QStringList found;
        for (const QString &line : run.second.split('\n', Qt::SkipEmptyParts))
            found << line.section(" (", 0, 0);
        return (run.first == 0) == found.isEmpty() ? found : found << QString("exit code %1").arg(run.first);
    };
    const auto launcherRun = [&](const Installation &install) {
        LauncherRun run(install, baseUrl());
        return run.start() && run.waitForEndOfRun();
    };
    Installation install(from == "1.0\n" ? synchronised("1.0\n", previous) : synchronised("0.9\n", older));

    QVERIFY(upload(stopAfter));
    if (byHand) {
        writeFile(served + "Game.exe", previous["Game.exe"]);
        writeFile(served + "Data/Map.dat", next["Data/Map.dat"].left(40000));
        QVERIFY(QFile::remove(served + "Data/New/added.dat"));
    }
    QVERIFY(launcherRun(install));
    const FileMap meanwhile = install.files();
    if (meanwhile.value("localversion.txt") == "2.0\n")
        QCOMPARE(meanwhile, synchronised("2.0\n", next));
    QCOMPARE(meanwhile.value("localversion.txt"), QByteArray(stopAfter.isEmpty() ? "2.0\n" : "1.0\n"));
    QCOMPARE(verify(), differences);

    QVERIFY(upload(QString()));
    QCOMPARE(verify(), QStringList());
    QVERIFY(launcherRun(install));
    QCOMPARE(install.files(), synchronised("2.0\n", next));
    QVERIFY(install.aloneInParent());
}

// Killed a delay after the Nth debug line that starts with a prefix, or, with
// the fault injector, just before the Nth file-system call that matches a
// pattern; then started again. Right after the kill every game file is as
// it was or as the server has it, and the launcher's executable is the old
// or the new build; after the restart, everything is as the server has it.
void NginxEndToEndTest::killedSynchronisationsConverge()
{
    // Version 2.0 changes half the files, adds a nested one, makes the large
    // file, first in the manifest, 4 MiB (a second of transfer), and brings
    // a new launcher build, last in the manifest.
    const QString big = "Data/Movies/intro.big", exe = "Zorvan Lumeth.exe";
    const QByteArray oldBuild = "launcher build 1", newBuild = "launcher build 2";
    FileMap before{{"Game.exe", QByteArray(200000, 'g')}, {big, QByteArray(3 << 20, 'b')}, {exe, oldBuild}};
    FileMap server{{"Game.exe", QByteArray(210000, 'G')},
                   {big, QByteArray(4 << 20, 'B')},
                   {"Data/New/deep/added.dat", "added"},
                   {"Launcher_new.exe", newBuild}};
    for (int i = 0; i < 8; ++i) {
        before[QString("Data/part%1.dat").arg(i)] = QByteArray(20000 + i, char('0' + i));
        server[QString("Data/part%1.dat").arg(i)] = i % 2 ? before[QString("Data/part%1.dat").arg(i)] : QByteArray(25000, char('a' + i));
    }
    publish("2.0\n", server);
    FileMap converged = synchronised("2.0\n", server), laidOut = before, swapped = server;
    converged[exe] = converged.take("Launcher_new.exe");
    laidOut.insert("localversion.txt", "1.0\n");
    swapped.insert(exe, newBuild);
    // The run is over once the new build has its name; the launcher then
    // waits in the message box.
    const auto waitForSwap = [&](LauncherRun &run) {
        return run.waitForEndOfRun() && run.waitUntil([&] { return !QFile::exists(run.install.file("Launcher_new.exe")); });
    };

    // The file-system calls of a whole run, numbered as the injector counts
    // them, to find the call-exact points.
    QStringList calls;
#ifdef ZORVAN_FAULTINJECT
    const QStringList injector{"LD_PRELOAD=" ZORVAN_FAULTINJECT};
    {
        Installation install(laidOut);
        LauncherRun run(install, baseUrl(), injector + QStringList{"ZORVAN_FAULT_TRACE=" + install.side.filePath("trace")});
        QVERIFY(run.start() && waitForSwap(run));
        for (const QByteArray &line : readFile(install.side.filePath("trace")).split('\n'))
            if (!line.isEmpty() && line.at(0) >= '0' && line.at(0) <= '9')
                calls << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    }
#endif

    // (prefix or call pattern, N, delay). Debug lines: while the version
    // file is fetched, before the manifest, as it is written, during the
    // large transfer, as the large file is written, during hashing, as later
    // files are fetched and written. Calls: the version file and a new file
    // taking their names, a directory created, a new nested file written,
    // a replaced file's temporary name and its rename, a kept file hashed,
    // the flush, the two steps of recording the version, and the three
    // steps of the swap.
    const QString download = "Téléchargement de ", write = "Ecriture de ", hash = "Vérification du hash de ";
    struct Point
    {
        QString prefix;
        int nth, delayMs;
        bool call;
    };
    QList<Point> points{{download, 2, 0, false},    {"Comparaison de version", 1, 0, false},
                        {write, 3, 0, false},       {download, 4, 50, false},
                        {download, 4, 400, false},  {download, 4, 800, false},
                        {write + big, 1, 0, false}, {hash, 1, 0, false},
                        {hash, 9, 0, false},        {write, 6, 0, false},
                        {download, 9, 0, false},    {write + "Game.exe", 1, 0, false}};
    if (!calls.isEmpty()) {
        for (const char *pattern : {"^linkat .*/version\\.txt$", "^mkdir .*/Data/New$", "^linkat .*/Data/New/deep/added\\.dat$",
                                    "^linkat .*/Game\\.exe\\.\\w{6}$", "^rename .*/Game\\.exe$", "^open64 .*/Data/part3\\.dat$",
                                    "^syncfs .*", "^unlink .*/localversion\\.txt$", "^renameat2 .*/localversion\\.txt$",
                                    "^link .*/Launcher_old\\.exe$", "^fsync .*/Launcher_new\\.exe$", "^rename .*/Zorvan Lumeth\\.exe$"})
            points.append({QString::fromLatin1(pattern), int(calls.indexOf(QRegularExpression(pattern))) + 1, 0, true});
        // The nested file's body as it arrives, before it has a name.
        const int named = int(calls.indexOf(QRegularExpression("^linkat .*/Data/New/deep/added\\.dat$")));
        points.append({"^write (body of added.dat)", int(calls.lastIndexOf(QRegularExpression("^write .*"), named)) + 1, 0, true});
    }
    int survived = 0, corrupted = 0, leftovers = 0;
    for (const Point &point : qAsConst(points)) {
        QStringList failures;
        Installation install(laidOut);
        QStringList extra;
#ifdef ZORVAN_FAULTINJECT
        if (point.call)
            extra = injector + QStringList{"ZORVAN_FAULT_KILL_AT=" + QString::number(point.nth)};
#endif
        LauncherRun run(install, baseUrl(), extra);
        if (point.call && point.nth <= 0)
            failures << "call not found";
        else if (!run.start())
            failures << "not started";
        else if (point.call)
            run.process.waitForFinished(60000); // it kills itself at the call
        else if (!run.waitUntil([&] { return run.count(point.prefix) >= point.nth; }))
            failures << "kill point not reached";
        run.waitUntil([] { return false; }, point.delayMs);
        if (point.call && run.running())
            failures << "call not reached";
        run.process.kill(); // as a crash or a power cut would end it
        run.process.waitForFinished();
        // Every game file as it was or as the server has it, the launcher's
        // executable the old or the new build. The version files are written
        // whole or not at all, and the build set aside stays until the next
        // run. A kill during a temporary name's link, or between it and the
        // rename, leaves that name: counted, not failed.
        FileMap now = install.files();
        for (const QString &name : QStringList{"localversion.txt", "version.txt", "file_listing.xml", "file_listing.php", kNotes})
            now.remove(name);
        if (now.value("Launcher_old.exe") == oldBuild)
            now.remove("Launcher_old.exe");
        const Damage found = damage(before, swapped, now);
        corrupted += found.lost.size() + found.mixed.size();
        leftovers += found.left.size();
        if (!found.lost.isEmpty() || !found.mixed.isEmpty())
            failures << "gone or cut short: " + (found.lost + found.mixed).join(", ");

        LauncherRun restart(install, baseUrl());
        FileMap after = (restart.start() && waitForSwap(restart)) ? install.files() : FileMap();
        for (const QString &path : found.left)
            after.remove(path);
        if (after.value("Launcher_old.exe") == oldBuild)
            after.remove("Launcher_old.exe");
        if (after != converged || !install.aloneInParent())
            failures << "not converged";
        survived += failures.isEmpty() ? 1 : 0;
        printf("kill %s \"%s\" #%d +%d ms: %s %s\n", point.call ? "before call" : "after", qPrintable(point.prefix.trimmed()), point.nth,
               point.delayMs, failures.isEmpty() ? "survived" : "FAILED",
               qPrintable(failures.join(", ") + (found.left.isEmpty() ? QString() : "left over: " + found.left.join(", "))));
    }
    printf("kills survived: %d/%d, files corrupted: %d, temporary files left over: %d\n", survived, int(points.size()), corrupted,
           leftovers);
    QCOMPARE(survived, points.size());
}

QTEST_GUILESS_MAIN(NginxEndToEndTest)
#include "tst_e2e_nginx.moc"
