// The update engine against a loopback HTTP server: the two downloads and the
// whole-file replacement under them, whole update runs (version check, manifest,
// Repair, self-update), and the manifest that the studio's publisher writes.

#include "platform/fileops_p.h"
#include "platform/lifecycle.h"
#include "platform/replacefile_p.h"
#include "support/catalogue.h"
#include "support/debuglines.h"
#include "support/fsfixtures.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"
#include "updater/paths.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;
using Strategy = platform::FileReplacement::Strategy;
using Kind = platform::FileReplacement::Kind;
using Try = platform::Try;
Q_DECLARE_METATYPE(Strategy)
Q_DECLARE_METATYPE(Kind)

namespace {

const QString kLatest = QStringLiteral("You have the latest version.");
const QString k004 = QStringLiteral("Download error (004). Local version available.");
const QString k009 = QStringLiteral("Error in the update manifesto (009).");

QByteArray element(const QString &name, const QString &path, const QString &md5, const QString &sha1)
{
    return QString("<File Name=\"%1\" Path=\"/home/zorvanhost/www/game/%2\" MD5=\"%3\" SHA1=\"%4\"/>\n")
        .arg(name, path, md5, sha1)
        .toUtf8();
}

} // namespace

class UpdateEngineTest : public QObject
{
    Q_OBJECT

    LauncherCatalogue m_catalogue;

private slots:
    void initTestCase() { updateServer(); }
    // Every text the cases showed was looked up where the translators expect it.
    void cleanupTestCase() { QCOMPARE(m_catalogue.misplaced(), QStringList()); }
    void cleanup() { platform::limitPatienceForTests(0), platform::replacefile::failRenamesForTests(0, 0); }

    // `done` of 8 entries, 0 for the one-argument download. `local`: what
    // lies where the file goes beforehand: an older "file", a "directory", a
    // "link out" to an older file beside the installation, a "hard link"
    // (the older file under a second name), a "file in read-only directory",
    // or a "directory linked out" holding the older file. A success gives
    // every name of the older file the body, as writing through the name
    // would; a failure changes nothing on disk. `lines`: the debug lines
    // after "Téléchargement de " and the URL.
    void download_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("done");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("lines");
        const auto row = [&](const char *tag, const QString &relative, Behaviour behaviour, const QByteArray &body, int done,
                             const QString &local, const QStringList &statuses, const QStringList &lines) {
            QTest::newRow(tag) << relative << int(behaviour) << body << done << local << statuses << lines;
        };
        const QByteArray half(300000, 'n');
        const QStringList written{"Ecriture de version.txt"};
        const QStringList map{"Vérification de : Data/", "Chemin vers le fichier : Data/Map.dat", "Ecriture de Data/Map.dat"};
        const QString map100 = "Downloading (100.00%) Map.dat...";
        const QStringList game{"Vérification de : ", "Chemin vers le fichier : Game.exe", "Ecriture de Game.exe"};
        const QString game100 = "Downloading (100.00%) Game.exe...";
        row("binary", "version.txt", Behaviour::Serve, QByteArray("\0\1\xff\r\n", 5), 0, "file", {kVersion}, written);
        row("empty body truncates", "version.txt", Behaviour::Serve, "", 0, "file", {kVersion}, written);
        row("no length", "version.txt", Behaviour::NoLength, QByteArray(70000, 'x'), 0, "file", {kVersion}, written);
        row("redirect", "version.txt", Behaviour::Redirect, "2.0\n", 0, "file", {kVersion}, written);
        // How the toolkit can hand over a redirected reply's headers.
        row("length joined to a redirect's", "version.txt", Behaviour::JoinedLength, "2.0\n", 0, "file", {kVersion}, written);
        row("game file, nested, accented", "Données/Cartes/é 01.dat", Behaviour::Serve, "é", 3, "", {"Downloading (37.50%) é 01.dat..."},
            {"Vérification de : Données/Cartes/", "Création du dossier : Données/Cartes/",
             "Chemin vers le fichier : Données/Cartes/é 01.dat", "Ecriture de Données/Cartes/é 01.dat"});
        row("game file, several MiB", "Game.exe", Behaviour::Serve, QByteArray(3 << 20, 'p'), 8, "", {game100}, game);
        row("game file, link out, written through", "Data/Map.dat", Behaviour::Serve, "map", 8, "link out", {map100}, map);
        row("game file, hard link, both names", "Data/Map.dat", Behaviour::Serve, "map", 8, "hard link", {map100}, map);
        row("game file, read-only directory", "Data/Map.dat", Behaviour::Serve, "map", 8, "file in read-only directory", {map100}, map);
        row("game file, directory linked out", "Data/Map.dat", Behaviour::Serve, "map", 8, "directory linked out", {map100}, map);
        // No file for the body can be made in the installation: it is held
        // in memory, and the file written in place.
        row("read-only installation", "version.txt", Behaviour::Serve, "2.0\n", 0, "file in read-only directory", {kVersion}, written);
        row("404", "version.txt", Behaviour::NotFound, "2.0\n", 0, "file", {kVersion, k004}, {});
        row("body cut short", "version.txt", Behaviour::ShortBody, half, 0, "file", {kVersion, k004}, {});
        // The player quits while the reply is still arriving.
        row("quit while waiting", "version.txt", Behaviour::Stall, half, 0, "file",
            {kVersion, "Download interrupted (004). Local version available."}, {});
        row("no such directory, 005", "Data/version.txt", Behaviour::Serve, "2.0\n", 0, "",
            {"Downloading  Data/version.txt...", "Error when opening file (005). Local version available."}, {});
        row("game file, 404, no directory made", "Data/Map.dat", Behaviour::NotFound, "map", 3, "",
            {"Downloading (37.50%) Map.dat...", "Download error (006). Local version available."}, {});
        row("game file, unwritable, 007", "Data/Map.dat", Behaviour::Serve, "map", 8, "directory",
            {map100, "Error when opening file (007). Local version available."}, map.mid(0, 2));
        // Held past the patience, without delete sharing (Windows): 007, or
        // written in place where the holder lets others write (fopen).
        row("game file, held past the patience, 007", "Game.exe", Behaviour::Serve, "new", 8, "held",
            {game100, "Error when opening file (007). Local version available."}, game.mid(0, 2));
        row("game file, held by a game sharing writes", "Game.exe", Behaviour::Serve, "new", 8, "held sharing writes", {game100}, game);
        // The server answers the URL it normalises; the file may not land there.
        row("game file, climbs out, 007", "../{outside}/Map.dat", Behaviour::Serve, "map", 8, "",
            {map100, "Error when opening file (007). Local version available."},
            {"Vérification de : ../{outside}/", "Chemin vers le fichier : ../{outside}/Map.dat"});
    }

    void download()
    {
        QFETCH(QString, relative);
        QFETCH(int, behaviour);
        QFETCH(QByteArray, body);
        QFETCH(int, done);
        QFETCH(QString, local);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, lines);
        const bool stored = statuses.size() == 1;
        const QByteArray older = "an older and longer file";
        TempInstallation install;
        ServedTree served;
        QTemporaryDir outside; // beside the installation
        relative.replace("{outside}", QFileInfo(outside.path()).fileName());
        lines.replaceInStrings("{outside}", QFileInfo(outside.path()).fileName());
        if (relative.startsWith("../"))
            updateServer().setContent(relative.mid(2), body);
        else
            served.write(Behaviour(behaviour) == Behaviour::Redirect ? "moved/elsewhere.txt" : relative, body);
        updateServer().setBehaviour("/game/" + relative, Behaviour(behaviour), "/game/moved/elsewhere.txt");
        const QString directory = QFileInfo(relative).path();
        if (local == "file" || local == "hard link" || local == "file in read-only directory" || local.startsWith("held"))
            install.write(relative, older);
        else if (local == "directory")
            install.write(relative + "/keep", "kept");
        const fsfixtures::HeldFile held(local.startsWith("held") ? relative : QString(), local.endsWith("writes"));
        if (local.startsWith("held") && !held.active())
            QSKIP("files have no share modes here");
        platform::limitPatienceForTests(300);
        if (local == "hard link")
            QVERIFY(platform::fileops::hardLink(relative, relative + ".bak"));
        if (local.contains("link") && local != "hard link" && !fsfixtures::symbolicLinksAvailable())
            QSKIP("no symbolic links for a normal user here");
        if (local == "link out") {
            writeFile(outside.filePath("older"), older);
            QVERIFY(QDir().mkpath(directory) && QFile::link(outside.filePath("older"), relative));
        }
        if (local == "directory linked out") {
            writeFile(outside.filePath(QFileInfo(relative).fileName()), older);
            QVERIFY(QFile::link(outside.path(), directory));
        }
        const ReadOnlyDirectory locked(local == "file in read-only directory" ? directory : QString());
        if (local == "file in read-only directory" && !locked.active())
            QSKIP("cannot make a directory read-only here");
        QMap<QString, QByteArray> installAfter = snapshot(install.path());
        QMap<QString, QByteArray> outsideAfter = snapshot(outside.path());
        if (stored) {
            for (QMap<QString, QByteArray> *after : {&installAfter, &outsideAfter}) {
                for (QByteArray &content : *after)
                    content = content == older ? body : content;
            }
            if (local.isEmpty())
                installAfter.insert(relative, body);
        }

        DebugLines debug;
        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        QSignalSpy playOk(&updater, &GameUpdater::playOk);
        QSignalSpy progress(&updater, &GameUpdater::downloadP);
        const bool quit = Behaviour(behaviour) == Behaviour::Stall;
        if (quit)
            connect(&updateServer(), &LoopbackHttpServer::requestReceived, qApp, &QCoreApplication::quit);
        if (done)
            updater.downloadFile(served.url(relative), relative.section('/', -1), 8, done);
        else
            updater.downloadFile(served.url(relative));
        updateServer().disconnect(qApp);
        updateServer().releaseStalled();
        if (quit)
            clearQuitRequest();

        QCOMPARE(texts(infos), statuses);
        QCOMPARE(texts(playOk), stored ? QStringList() : QStringList{"true"});
        QCOMPARE(debug.lines(), QStringList{"Téléchargement de " + served.url(relative)} + lines);
        QCOMPARE(snapshot(install.path()), installAfter);
        QCOMPARE(snapshot(outside.path()), outsideAfter);
        QCOMPARE(QFileInfo(local == "link out" ? relative : directory).isSymLink(), local == "link out" || local == "directory linked out");
        if (!stored) {
            QCOMPARE(install.exists("Data"), local == "directory");
            return;
        }
        QCOMPARE(progress.last(), (QList<QVariant>{qint64(body.size()), qint64(body.size())}));
    }

    // The path rule for manifest entries, the same on every system.
    void pathRules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("inside");
        for (const char *path : {"Data/Map.dat", "a/../b", "Data/nullable/../x", "nullable.dat", "COM10", "Data/Null/LPT"})
            QTest::newRow(path) << QString::fromUtf8(path) << true;
        // The empty path is the first of these.
        const QString outside = "|/etc/passwd|../x|a/../../x|a\\..\\..\\x|C:foo|C:\\foo|c:/foo|\\\\server\\share\\x|//server/share/x|"
                                "Data/Map.dat:stream|NUL|Data/nul.txt|Con|aux.tar.gz|prn|Data/COM1|lpt9.log|com\u00b2|CONIN$|nul .txt|"
                                "Data./x|Data/x.|Data /x|Data/x |Data/...";
        for (const QString &path : outside.split('|'))
            QTest::newRow(qPrintable(path)) << path << false;
    }

    void pathRules()
    {
        QFETCH(QString, path);
        QFETCH(bool, inside);
        QCOMPARE(paths::staysInside(path), inside);
    }

    // Waiting for a file another program holds, on every system: `busy`
    // refusals (-1: all) before success, none before a failure. The waits
    // serve events, the patience bounds them, a quit request ends them.
    void persistence_data()
    {
        QTest::addColumn<int>("busy");
        QTest::addColumn<int>("patienceMs");
        QTest::addColumn<bool>("quit");
        QTest::newRow("lets go after three tries") << 3 << 10000 << false;
        QTest::newRow("fails at once") << 0 << 10000 << false;
        QTest::newRow("held past the patience") << -1 << 300 << false;
        QTest::newRow("quit while waiting") << -1 << 10000 << true;
    }

    void persistence()
    {
        QFETCH(int, busy);
        QFETCH(int, patienceMs);
        QFETCH(bool, quit);
        QObject context;
        bool served = false;
        QTimer::singleShot(0, &context, [&] { served = true; });
        if (quit)
            QTimer::singleShot(100, &context, &QCoreApplication::quit);
        int tries = 0;
        QElapsedTimer clock;
        clock.start();
        const Try last = platform::persist(QDeadlineTimer(patienceMs), [&] {
            return ++tries <= busy || busy < 0 ? Try::Busy : busy ? Try::Done : Try::Failed;
        });
        QCOMPARE(int(last), int(busy < 0 ? Try::Busy : busy ? Try::Done : Try::Failed));
        QCOMPARE(clock.elapsed() >= patienceMs, busy < 0 && !quit);
        QCOMPARE(served, tries > 1);
        QCOMPARE(tries == busy + 1, busy >= 0);
        QCOMPARE(lifecycle::quitRequested(), quit);
        clearQuitRequest();
    }

    // Every call of the system gets an absolute path with "\\?\" in front.
    void systemPaths()
    {
#ifdef Q_OS_WIN
        TempInstallation install;
        const QString deep = QString(150, 'd') + "/" + QString(150, 'e') + ".dat";
        const QString prefixed = "\\\\?\\Q:\\a\\..\\b";
        const auto form = [](const QString &path) { return QString::fromStdWString(platform::fileops::systemPath(path)); };
        QCOMPARE(form(deep), "\\\\?\\" + QDir::toNativeSeparators(install.absolute(deep)));
        QCOMPARE(form("Q:x/y"), QString("\\\\?\\Q:\\x\\y")); // drive-relative
        QCOMPARE(form("//server/share/x"), QString("\\\\?\\UNC\\server\\share\\x"));
        QCOMPARE(form(prefixed), prefixed);
#else
        QSKIP("Windows' own path form");
#endif
    }

    // Every manager runs a network thread until it is disposed of; a run of
    // thousands of files may not keep them, whether it runs before the main
    // event loop (the start-up run) or inside one (Repair).
    void managersAreNotKept()
    {
        TempInstallation install;
        ServedTree served;
        served.write("f.dat", "x");
        GameUpdater updater;
        // Threads the toolkit starts once and keeps are not counted.
        updater.downloadFile(served.url("f.dat"), "f.dat", 1, 1);
        QCoreApplication::processEvents();
        const int before = fsfixtures::threadCount();
        int most = 0;
        const auto run = [&]() {
            for (int i = 0; i < 40; ++i) {
                updater.downloadFile(served.url("f.dat"), "f.dat", 40, i + 1);
                most = qMax(most, fsfixtures::threadCount());
            }
        };
        run();
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&]() {
            run();
            loop.quit();
        });
        loop.exec();

        // A network thread that has ended for the toolkit (its manager is
        // gone) can stay listed by the system a moment longer, the more so
        // on a loaded machine, and may have been counted in `before`. One
        // such straggler is allowed beside the running manager's thread; a
        // manager kept per download would add one thread for each of the 40.
        QVERIFY2(most <= before + 2, qPrintable(QStringLiteral("%1 threads at most, %2 before").arg(most).arg(before)));
        QTRY_VERIFY_WITH_TIMEOUT(fsfixtures::threadCount() <= before, 60000);
    }

    // `layout`: the target "alone", with a second name ("hard link"), or in a
    // "read-only directory". Overwrite keeps the target's bits (0777 here) and
    // gives every name the content; a new file gets the bits it is given
    // (0600) and leaves the other name as it was, and needs a directory that
    // takes it. A full disk leaves everything as it was, also where the file
    // is written in place, and nothing beside it.
    void replacement_data()
    {
        QTest::addColumn<Strategy>("strategy");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("fullDisk");
        const auto row = [](const char *tag, Strategy strategy, Kind kind, const char *layout, bool fullDisk) {
            QTest::newRow(tag) << strategy << kind << QString::fromLatin1(layout) << fullDisk;
        };
        row("automatic", Strategy::Automatic, Kind::Overwrite, "alone", false);
        row("named", Strategy::NamedTemporary, Kind::Overwrite, "alone", false);
        row("automatic, full disk", Strategy::Automatic, Kind::Overwrite, "alone", true);
        row("named, full disk", Strategy::NamedTemporary, Kind::Overwrite, "alone", true);
        row("new file", Strategy::Automatic, Kind::NewFile, "alone", false);
        row("hard link, full disk", Strategy::Automatic, Kind::Overwrite, "hard link", true);
        row("new file, hard link", Strategy::Automatic, Kind::NewFile, "hard link", false);
        row("read-only directory, full disk", Strategy::Automatic, Kind::Overwrite, "read-only directory", true);
        row("new file, read-only directory", Strategy::Automatic, Kind::NewFile, "read-only directory", false);
        // ReplaceFileW refused three times (Windows), the files left as Microsoft
        // documents for each error; then past the patience.
        row("ReplaceFileW 1175", Strategy::Automatic, Kind::Overwrite, "ReplaceFileW 1175 3", false);
        row("ReplaceFileW 1176", Strategy::Automatic, Kind::Overwrite, "ReplaceFileW 1176 3", false);
        row("ReplaceFileW 1177", Strategy::Automatic, Kind::Overwrite, "ReplaceFileW 1177 3", false);
        row("ReplaceFileW past the patience", Strategy::Automatic, Kind::Overwrite, "ReplaceFileW 1175 1000", false);
    }

    void replacement()
    {
        QFETCH(Strategy, strategy);
        QFETCH(Kind, kind);
        QFETCH(QString, layout);
        QFETCH(bool, fullDisk);
        QTemporaryDir dir;
        if (fullDisk && !fsfixtures::mountTiny(dir.path(), "64k"))
            QSKIP("cannot mount a tmpfs here (needs root on Linux)");
        const auto unmount = qScopeGuard([&] {
            if (fullDisk)
                fsfixtures::unmount(dir.path());
        });
        const QString target = dir.filePath("Game.exe");
        const QString other = dir.filePath("Game.bak");
        const QByteArray old(40 * 1024, 'o');
        writeFile(target, old);
        const QFileDevice::Permissions all(0x7777); // 0777
        QVERIFY(QFile::setPermissions(target, all));
        if (layout == "hard link")
            QVERIFY(platform::fileops::hardLink(target, other));
        const ReadOnlyDirectory locked(layout == "read-only directory" ? dir.path() : QString());
        if (layout == "read-only directory" && !locked.active())
            QSKIP("cannot make a directory read-only here");
        const int faults = layout.section(' ', 2).toInt();
#ifndef Q_OS_WIN
        if (faults)
            QSKIP("Windows' own call");
#endif
        platform::replacefile::failRenamesForTests(layout.section(' ', 1, 1).toULong(), faults);
        platform::limitPatienceForTests(faults > 100 ? 300 : 0);
        const QStringList names = snapshot(dir.path()).keys();
        const QByteArray content(100 * 1024, 'n');
        const bool opens = kind == Kind::Overwrite || layout != "read-only directory";
        const bool committed = opens && !fullDisk && faults < 100;
        platform::flushReplacedFiles();
        {
            platform::FileReplacement file(target, kind, strategy);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QCOMPARE(file.open(), opens);
            QCOMPARE(readFile(target), old);
            QCOMPARE(file.commit(content), committed);
        }
        QCOMPARE(snapshot(dir.path()).keys(), names);
        QCOMPARE(readFile(target), committed ? content : old);
        if (layout == "hard link")
            QCOMPARE(readFile(other), committed && kind == Kind::Overwrite ? content : old);
#ifdef Q_OS_WIN
        // Each file is flushed before it takes its name.
        QVERIFY(!platform::hasUnflushedReplacements());
#else
        QCOMPARE(QFile::permissions(target), committed && kind == Kind::NewFile ? QFileDevice::Permissions(0x6600) : all); // 0600
        QCOMPARE(platform::hasUnflushedReplacements(), committed);
#endif
        platform::flushReplacedFiles();
    }

    // Null: no such file, or for the server a 404. The installation holds an
    // intact "a.dat" ("a") and "Game.exe" and an unlisted save, which stays;
    // "Data/x.dat", "a.dat" and "b.dat" are served ("x"), not "Data/x.dat".
    // `repair`: a Repair, not a check. `lines`, when given: the run's debug
    // lines from its first "NAME : " on ("{base}" is the base URL).
    void run_data()
    {
        QTest::addColumn<bool>("repair");
        QTest::addColumn<QByteArray>("local");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QByteArray>("listingOnDisk");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QStringList>("lines");
        const QByteArray none;
        const QByteArray x = manifestFor({{"Data/x.dat", "x"}});
        const QString fetchX = "Downloading (100.00%) x.dat...";
        bool repair = false;
        const auto row = [&](const char *tag, const QByteArray &local, const QByteArray &server, const QByteArray &listing,
                             const QByteArray &onDisk, const QStringList &middle, const QStringList &lines = {}) {
            QTest::newRow(tag) << repair << local << server << listing << onDisk << QStringList{kVersion} + middle << lines;
        };
        row("CR LF against LF", "1.4\n", "1.4\r\n", x, none, {kLatest, kFinished});
        row("no line end against one", "1.4\n", "1.4", x, none, {kManifest, fetchX, kFinished});
        row("older is different too", "1.5\n", "1.4\n", x, none, {kManifest, fetchX, kFinished});
        // The initial value itself is served: equal only if "0.0" and a line end were written.
        row("first start", none, "0.0\n", x, none, {kLatest, kFinished});
        row("server unreachable", "1.2\r\n", none, x, none, {k004, k009});
        row("local version unreadable", "<directory>", "3.0\n", x, none, {k009});
        row("manifest 404, none on disk", "1.0\n", "2.0\n", none, none,
            {kManifest, k004, "Error in the update manifesto. (010)", kFinished});
        row("manifest 404, earlier one used", "1.0\n", "2.0\n", none, x, {kManifest, k004, fetchX, kFinished});
        row("manifest not XML", "1.0\n", "2.0\n", "not xml", x, {kManifest, "Error in the update manifesto. (010)", kFinished});
        row("manifest without element", "1.0\n", "2.0\n", "<?xml version=\"1.0\"?>\n", x,
            {kManifest, "Error in the update manifesto. (011)", kFinished});
        // Only the root's own "File" children count, whatever the root's name.
        row("no File children of the root", "1.0\n", "2.0\n",
            "<Liste><Other/><Group>" + element("b.dat", "b.dat", "", "") + "</Group>"
                + element("b.dat", "b.dat", "", "").replace("<File", "<file") + "</Liste>",
            none, {kManifest, kFinished});
        // Fetched at every synchronisation: uppercase digests, and a missing
        // file whose digests are empty. Never: entries placed outside.
        row("entries always or never fetched", "1.0\n", "2.0\n",
            "<Files>" + element("a.dat", "a.dat", md5Hex("a").toUpper(), sha1Hex("a").toUpper()) + element("b.dat", "b.dat", "", "")
                + element("zorvan-out.dat", "../zorvan-out.dat", md5Hex("a"), sha1Hex("a"))
                + element("../../../zorvan-out.dat", "Game.exe", "", "") + element("Game.exe", "Game.exe", md5Hex("game"), sha1Hex("game"))
                + "</Files>",
            none, {kManifest, "Downloading (20.00%) a.dat...", "Downloading (40.00%) b.dat...", kFinished});
        // A new version whose manifest lists one entry; the debug lines of
        // the entry read and hashed at `local`, `size` bytes there, and of its
        // download into `directory`, which the run makes unless it is the top.
        const auto entry = [&](const char *tag, const QByteArray &listing, const QStringList &middle, const QStringList &lines) {
            row(tag, "1.0\n", "2.0\n", listing, none, QStringList{kManifest} + middle + QStringList{kFinished}, lines);
        };
        const auto one = [](const QString &name, const QString &md5, const QString &sha1) {
            return "<Files>" + element(name, name, md5, sha1) + "</Files>";
        };
        const QString game = "/home/zorvanhost/www/game/";
        const auto hashed = [&](const QString &name, const QString &path, const QString &local, int size, const QString &md5,
                                const QString &sha1) {
            const QStringList read{"NAME : " + name, "PATH : " + path, "MD5 server : " + md5, sha1, "LocalPath : " + local};
            return read
                + QStringList{"Vérification du hash de " + local, "Vérification du hash de " + local, "Size : " + QString::number(size)};
        };
        const auto fetched = [](const QString &directory, const QString &name) {
            const QString relative = directory + name;
            return QStringList{"Url : {base}" + relative, "Téléchargement de {base}" + relative, "Vérification de : " + directory}
            + (directory.isEmpty() ? QStringList() : QStringList{"Création du dossier : " + directory})
                + QStringList{"Chemin vers le fichier : " + relative, "Ecriture de " + relative};
        };
        const QString aMd5 = md5Hex("a"), aSha1 = sha1Hex("a"), xMd5 = md5Hex("x"), xSha1 = sha1Hex("x");
        const QString fetchA = "Downloading (100.00%) a.dat...";
        entry("entry up to date", one("a.dat", aMd5, aSha1), {}, hashed("a.dat", game + "a.dat", "a.dat", 1, aMd5, aSha1));
        entry("entry stale", one("a.dat", xMd5, xSha1), {fetchA},
              hashed("a.dat", game + "a.dat", "a.dat", 1, xMd5, xSha1) + fetched("", "a.dat"));
        entry("entry missing", one("b.dat", xMd5, xSha1), {"Downloading (100.00%) b.dat..."},
              hashed("b.dat", game + "b.dat", "b.dat", 0, xMd5, xSha1) + fetched("", "b.dat"));
        // Both digests must match: either alone names another file.
        entry("entry, MD5 alone matches", one("a.dat", aMd5, xSha1), {fetchA}, {});
        entry("entry, SHA-1 alone matches", one("a.dat", xMd5, aSha1), {fetchA}, {});
        // Outside the game directory: never read, fetched every time.
        const QString other = "/home/zorvanhost/www/other/a.dat";
        entry("entry's local path stays absolute", one("a.dat", aMd5, aSha1).replace(game.toUtf8() + "a.dat", other.toUtf8()), {fetchA},
              hashed("a.dat", other, other, 0, aMd5, aSha1) + fetched("other/", "a.dat"));
        entry("entry incomplete, not looked at", one("a.dat", aMd5, aSha1).replace(" SHA1=", " sha1="), {},
              hashed("a.dat", game + "a.dat", "", 0, aMd5, aSha1).mid(0, 3)
                  + QStringList{"", "Entrée incomplète ignorée : " + game + "a.dat"});
        entry("entry names a Windows device", one("nul.a.dat", aMd5, aSha1), {},
              hashed("nul.a.dat", game + "nul.a.dat", "nul.a.dat", 0, aMd5, aSha1) + QStringList{"Chemin refusé : " + game + "nul.a.dat"});
        // A Repair checks every file although the versions are the same.
        repair = true;
        const QByteArray intact = manifestFor({{"a.dat", "a"}, {"Game.exe", "game"}});
        row("Repair, all intact", "1.4\n", "1.4\n", intact, none, {kManifest, kFinished});
        row("Repair, one byte differs", "1.4\n", "1.4\n", QByteArray(intact).replace(md5Hex("a").toLatin1(), md5Hex("b").toLatin1()), none,
            {kManifest, "Downloading (50.00%) a.dat...", kFinished});
    }

    void run()
    {
        QFETCH(bool, repair);
        QFETCH(QByteArray, local);
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, listing);
        QFETCH(QByteArray, listingOnDisk);
        QFETCH(QStringList, statuses);
        QFETCH(QStringList, lines);
        TempInstallation install;
        ServedTree served;
        served.write("version.txt", server);
        if (server.isNull())
            updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
        served.write("file_listing.xml", listing);
        if (listing.isNull())
            updateServer().setBehaviour("/game/file_listing.xml", Behaviour::NotFound);
        for (const char *file : {"Data/x.dat", "a.dat", "b.dat", "other/a.dat"})
            served.write(file, "x");
        if (local == "<directory>")
            QDir().mkdir("localversion.txt");
        else if (!local.isNull())
            install.write("localversion.txt", local);
        if (!listingOnDisk.isNull())
            install.write("file_listing.xml", listingOnDisk);
        install.write("a.dat", "a");
        install.write("Game.exe", "game");
        install.write("file_listing.php", "left by an old launcher");
        install.write("Saves/Zorvan_Party-1", "unlisted");
#ifndef Q_OS_WIN // where no file can have a device's name
        served.write("nul.a.dat", "x");
        install.write("nul.a.dat", "a");
#endif

        DebugLines debug;
        verifyRun(runUpdate(repair), statuses);
        if (!lines.isEmpty())
            QCOMPARE(debug.from("NAME : "), lines.replaceInStrings("{base}", updateServer().url()));
        const bool failed = statuses.endsWith(k009);
        if (local != "<directory>")
            QCOMPARE(install.read("localversion.txt"), failed ? (local.isNull() ? "0.0\n" : local) : server);
        QCOMPARE(install.exists("version.txt"), failed && !server.isNull());
        QCOMPARE(install.exists("Data/x.dat"), statuses.contains("Downloading (100.00%) x.dat..."));
        QVERIFY(!install.exists("file_listing.php"));
        QCOMPARE(install.read("Saves/Zorvan_Party-1"), QByteArray("unlisted"));
        QVERIFY(!QFileInfo::exists(install.absolute("../zorvan-out.dat")) && !QFileInfo::exists(install.absolute("../../zorvan-out.dat")));
    }

    // The single-file check hashes the text it is given and, on a mismatch,
    // hands that same text to the one-argument download: a local path hashes
    // but cannot be fetched, a full URL never hashes and is always fetched.
    void checkFile_data()
    {
        QTest::addColumn<bool>("byUrl");
        QTest::addColumn<QByteArray>("local"); // null: no file
        QTest::addColumn<QString>("md5");
        QTest::addColumn<QString>("sha1");
        QTest::addColumn<QStringList>("between");
        const QByteArray old = "old map";
        const QStringList unfetchable{"Downloading  Map.dat...", k004};
        QTest::newRow("both digests match") << false << old << md5Hex(old) << sha1Hex(old) << QStringList();
        QTest::newRow("missing, both expected empty") << false << QByteArray() << ""
                                                      << "" << QStringList();
        QTest::newRow("uppercase never matches") << false << old << md5Hex(old).toUpper() << sha1Hex(old).toUpper() << unfetchable;
        QTest::newRow("MD5 alone matches") << false << old << md5Hex(old) << sha1Hex("other") << unfetchable;
        QTest::newRow("by URL, fetched") << true << old << md5Hex("new map") << sha1Hex("new map")
                                         << QStringList{"Downloading  Map.dat..."};
    }

    void checkFile()
    {
        QFETCH(bool, byUrl);
        QFETCH(QByteArray, local);
        QFETCH(QString, md5);
        QFETCH(QString, sha1);
        QFETCH(QStringList, between);
        TempInstallation install;
        ServedTree served;
        served.write("Map.dat", "new map");
        if (!local.isNull())
            install.write("Map.dat", local);
        const QString path = byUrl ? served.url("Map.dat") : QStringLiteral("Map.dat");
        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        updater.checkFile(path, md5, sha1);
        QCOMPARE(texts(infos), QStringList{"Checking " + path + "..."} + between + QStringList{"Done"});
        QCOMPARE(install.read("Map.dat"), byUrl ? QByteArray("new map") : local);
    }

    // `road`: the versions are "equal", the run ends in "009", or the sync
    // delivers the new build. `leftover`: a build set aside earlier, which the run
    // deletes, or one that it cannot delete ("blocking", as while its process
    // runs), which leaves the swap undone, so that the same build restarts.
    // `running`: whether "Zorvan Lumeth.exe" is there to be set aside.
    void selfUpdate_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<bool>("newBuild");
        QTest::addColumn<QString>("leftover");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("statuses");
        const QStringList equal{kVersion, kLatest, kFinished};
        QTest::newRow("placed by hand, run ends in 009") << "009" << true << "deleted" << true << QStringList{kVersion, k004, k009};
        QTest::newRow("delivered by the synchronisation")
            << "delivered" << true << "" << true
            << QStringList{kVersion, kManifest, "Downloading (100.00%) Launcher_new.exe...", kFinished};
        QTest::newRow("previous build still there") << "equal" << true << "blocking" << true << equal;
        QTest::newRow("no new build") << "equal" << false << "deleted" << true << equal;
        QTest::newRow("no launcher executable") << "equal" << true << "" << false << equal;
        // A scanner holds the new build past the patience (Windows).
        QTest::newRow("new build held past the patience") << "equal" << true << "held" << true << equal;
    }

    void selfUpdate()
    {
        QFETCH(QString, road);
        QFETCH(bool, newBuild);
        QFETCH(QString, leftover);
        QFETCH(bool, running);
        QFETCH(QStringList, statuses);
        TempInstallation install;
        ServedTree served;
        // Stand-ins for the builds, each leaving a mark when started.
        const QByteArray oldBytes = "#!/bin/sh\n: > started-by-old\n";
        const QByteArray newBytes = "#!/bin/sh\n: > started-by-new\n";
        const bool held = leftover == "held";
        const bool blocked = leftover == "blocking" || held;
        const QString leftoverFile = leftover == "blocking" ? "Launcher_old.exe/busy" : "Launcher_old.exe";
        if (running)
            install.write("Zorvan Lumeth.exe", oldBytes);
        install.write("localversion.txt", "2.0\n");
        if (!leftover.isEmpty() && !held)
            install.write(leftoverFile, "older");
        served.write("version.txt", road == "delivered" ? "3.0\n" : "2.0\n");
        if (road == "009")
            updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
        served.write("Launcher_new.exe", newBytes);
        QCOMPARE(publish({served.path()}).first, 0); // lists "Launcher_new.exe" alone
        if (newBuild && road != "delivered")
            install.write("Launcher_new.exe", newBytes);
        const fsfixtures::HeldFile scanner(held ? "Launcher_new.exe" : "", false);
        if (held && !scanner.active())
            QSKIP("files have no share modes here");
        platform::limitPatienceForTests(held ? 300 : 0);
        ScriptedDialogs dialogs;

        const UpdateRun run = runUpdate();

        const bool swapped = newBuild && !blocked;
        QCOMPARE(run.statuses, statuses);
        QCOMPARE(install.read("Zorvan Lumeth.exe"), swapped ? newBytes : oldBytes);
        QCOMPARE(install.exists("Launcher_new.exe"), blocked);
        QCOMPARE(install.read(leftoverFile), QByteArray(blocked && !held ? "older" : swapped && running ? oldBytes : ""));
        QCOMPARE(run.quit, newBuild);
        QCOMPARE(dialogs.calls,
                 newBuild ? QStringList{"message|A new launcher update is available. The program will restart."} : QStringList());
        if (!newBuild)
            return;
#ifdef Q_OS_WIN
        // The stand-in builds are shell scripts; the end-to-end test under
        // Wine starts real builds.
        return;
#endif
        QTRY_VERIFY_WITH_TIMEOUT(install.exists(swapped ? "started-by-new" : "started-by-old"), 60000);
        // The message comes once both renames are done: the box shows the
        // files as they stay.
        QMap<QString, QByteArray> after = snapshot(install.path());
        after.remove(swapped ? "started-by-new" : "started-by-old");
        QCOMPARE(dialogs.filesAtMessage, after);
    }

    // The launcher brings an empty installation to exactly the published build.
    void publishedBuildRoundTrip()
    {
        ServedTree served;
        const QMap<QString, QByteArray> build = {
            {"Game.exe", "game"},
            {"Data/Maps/région 1.map", QByteArray(70000, 'm')},
            {"R&D's notes.txt", "escaped in the manifest"},
            {"100%zz.txt", "a percent sign that is no escape"},
            {".hidden", "dot file"},
            {"empty.dat", ""},
            {"Data/version.txt", "not the top's"},
            {"Data/Saves/Zorvan_Party-1", "not the top's"},
        };
        // The launcher's and the player's own files are no game files.
        const QMap<QString, QByteArray> notGame = {{"Zorvan Lumeth.exe", "running"}, {"launcher_OLD.exe", "set aside"},
                                                   {"localversion.txt", "1.0"},      {"file_listing.php", "old"},
                                                   {".gameopts", "--scale=2"},       {"Saves/Backup/Zorvan_Party-1", "a save"}};
        for (auto it = build.begin(); it != build.end(); ++it)
            served.write(it.key(), it.value());
        for (auto it = notGame.begin(); it != notGame.end(); ++it)
            served.write(it.key(), it.value());
        // A link that stays inside the build is published as a file.
        if (!fsfixtures::symbolicLinksAvailable())
            QSKIP("no symbolic links for a normal user here");
        QVERIFY(QFile::link("../Game.exe", served.path() + "/Data/linked.exe"));
        QCOMPARE(publish({served.path(), "--set-version", "1.99"}),
                 qMakePair(0,
                           QString("left out, not game files: .gameopts, Saves, Zorvan Lumeth.exe, file_listing.php, "
                                   "launcher_OLD.exe, localversion.txt\npublished 9 files, 70097 bytes, version 1.99\n")));
        // Published again: the same manifest, which does not list itself.
        const QByteArray manifest = readFile(served.path() + "/file_listing.xml");
        QCOMPARE(publish({served.path(), "--bump-version"}).first, 0);
        QCOMPARE(readFile(served.path() + "/file_listing.xml"), manifest);

        TempInstallation install;
        runUpdate();

        QMap<QString, QByteArray> expected = build;
        expected.insert("Data/linked.exe", "game");
        expected.insert("file_listing.xml", manifest);
        expected.insert("localversion.txt", "1.100\n");
        QCOMPARE(snapshot(install.path()), expected);
    }

    // What the launcher could not use refuses the whole build, and so does a
    // key the publisher cannot sign with; nothing is written. `entry`: a
    // file, "name -> target" for a link, or "name|" for a pipe. `key`: the
    // content of "{key}", "{generated}" for a good one, null for no file.
    void publisherRefusals_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *tag, const char *entry, const QStringList &args, const QByteArray &key, const char *message) {
            QTest::newRow(tag) << entry << args << key << message;
        };
        const QStringList set = {"--set-version", "9.9"};
        row("bump without digits", "", {"--bump-version"}, {}, "no number to bump");
        row("two lines", "", {"--set-version", "1\n2"}, {}, "one non-empty line");
        row("both options", "", {"--set-version", "2", "--bump-version"}, {}, "usage: zorvan-publish");
        row("backslash", "Data\\x.dat", set, {}, "contains \"\\\"");
        row("control character", "Data/x\x01.dat", set, {}, "control character");
        row("colon", "Data/a:b", set, {}, "\":\", which Windows does not allow");
        // The launcher removes the name from the whole URL to find the directory.
        row("name inside a directory name", "Data/ata", set, {}, "\"ata\" also occurs earlier");
        row("percent escape", "a%41", set, {}, "would ask the server for another path");
        row("server directory", "x/home/zorvanhost/www/y", set, {}, "the server's directory");
        row("link out of the build", "out -> /etc/hostname", set, {}, "leads out of the build");
        row("link to nothing", "dangling -> missing.dat", set, {}, "a link to nothing");
        row("link loop", "Data/up -> ..", set, {}, "leads back into its own directory");
        row("pipe", "Data/pipe|", set, {}, "not a regular file");
        const QStringList sign = set + QStringList{"--sign", "{elsewhere}/studio.key"};
        const char *malformed = "not a signing key; expected the 128 hexadecimal digits that --generate-key writes";
        row("public key given", "", sign, QByteArray(64, 'a'), malformed);
        row("key not hexadecimal", "", sign, QByteArray(128, 'g'), malformed);
        row("public half not the seed's", "", sign, QByteArray(128, '1'), malformed);
        row("no such key file", "", sign, {}, "cannot read the signing key");
        row("key inside the build", "", set + QStringList{"--sign", "{build}/studio.key"}, "{generated}",
            "lies inside the published directory");
    }

    void publisherRefusals()
    {
        QFETCH(QString, entry);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, key);
        QFETCH(QString, message);
        ServedTree build;
        QTemporaryDir elsewhere;
        build.write("Game.exe", "game");
        build.write("version.txt", "beta\n");
        const QString path = build.path() + "/" + entry.section(" -> ", 0, 0).remove('|');
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if ((entry.contains(" -> ") && !fsfixtures::symbolicLinksAvailable()) || (entry.endsWith('|') && !fsfixtures::makeFifo(path)))
            QSKIP("no symbolic links or named pipes in a directory here");
#ifdef Q_OS_WIN
        if (entry.contains('\\') || entry.contains('\x01'))
            QSKIP("no such file name on Windows");
#endif
#ifndef ZORVAN_PUBLISHER_SIGNS
        if (args.contains("--sign"))
            QSKIP("a publisher built without Ed25519 cannot sign");
#endif
        if (entry.contains(" -> "))
            QVERIFY(QFile::link(entry.section(" -> ", 1), path));
        else if (!entry.isEmpty())
            build.write(entry, "x");
        args.replaceInStrings("{build}", build.path()).replaceInStrings("{elsewhere}", elsewhere.path());
        const QString keyPath = args.contains("--sign") ? args.last() : QString();
        if (key == "{generated}")
            QCOMPARE(publish({"--generate-key", keyPath}).first, 0);
        else if (!key.isNull())
            writeFile(keyPath, key + "\n");
        const QMap<QString, QByteArray> before = snapshot(build.path());

        const QPair<int, QString> run = publish(QStringList{build.path()} + args);

        QCOMPARE(run.first, 1);
        QVERIFY2(run.second.startsWith("zorvan-publish: ") && run.second.contains(message), qPrintable(run.second));
        QCOMPARE(snapshot(build.path()), before);
        QVERIFY(keyPath.isEmpty() || !QFileInfo::exists(keyPath + ".sequence"));
    }
};

QTEST_MAIN(UpdateEngineTest)
#include "tst_engine.moc"
