// The manifest synchronisation, driven through whole update runs against the
// loopback server and a temporary installation.

#include "support/testenv.h"
#include "platform/replacefile.h"
#include "updater/gameupdater.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kGameDir = QStringLiteral("/home/zorvanhost/www/game/");
const QString kFinished = QStringLiteral("Update finished. You have the latest version.");
const QString kVersionStatus = QStringLiteral("Downloading  version.txt...");
const QString kManifestStatus = QStringLiteral("Downloading  file_listing.xml...");
const QString kHashLine = QStringLiteral("Vérification du hash de ");

// One "File" element; `omit` names an attribute to leave out.
QByteArray fileElement(const QString &name, const QString &path, const QString &md5, const QString &sha1,
                       const QString &omit = QString())
{
    QByteArray xml = "  <File";
    const QList<QPair<QString, QString>> attributes = {{"Name", name}, {"Path", path}, {"MD5", md5}, {"SHA1", sha1}};
    for (const auto &attribute : attributes) {
        if (attribute.first != omit)
            xml += " " + attribute.first.toUtf8() + "=\"" + attribute.second.toHtmlEscaped().toUtf8() + "\"";
    }
    return xml + "/>\n";
}

// The element the server publishes for a file of its game directory.
QByteArray listed(const QString &relative, const QByteArray &content)
{
    return fileElement(relative.section('/', -1), kGameDir + relative, md5Hex(content), sha1Hex(content));
}

QByteArray manifest(const QByteArray &children, const QByteArray &root = "Files")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">\n" + children + "</" + root + ">\n";
}

struct RunResult
{
    QStringList statuses;
    QList<bool> playOk;
    QStringList debug;
    QStringList requests;
};

// One update run as the start-up would do it.
RunResult runUpdate()
{
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updateServer().clearRequests();
    RunResult result;
    {
        DebugCapture debug;
        updater.checkUpdate();
        result.debug = debug.lines();
    }
    result.statuses = texts(infos);
    for (const QList<QVariant> &args : playOk)
        result.playOk << args.at(0).toBool();
    result.requests = updateServer().requests();
    return result;
}

// Versions that differ, so that the run synchronises.
void differingVersions(const TempInstallation &install, const ServedTree &served)
{
    served.write("version.txt", "2.0\n");
    install.write("localversion.txt", "1.0\n");
}

// The run ends on the finishing text and records the server's version, once
// what it wrote has been forced to the disk.
void verifyRecorded(const TempInstallation &install, const RunResult &run, const QByteArray &version = "2.0\n")
{
    QVERIFY(!platform::hasUnflushedReplacements());
    QVERIFY(!run.statuses.isEmpty());
    QCOMPARE(run.statuses.last(), kFinished);
    QCOMPARE(install.read("localversion.txt"), version);
    QVERIFY(!install.exists("version.txt"));
    QVERIFY(!run.playOk.contains(false));
}

// Removes a file placed beside the installation when the test ends.
struct OutsideFile
{
    QString path;
    ~OutsideFile()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

class ManifestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    void onlyDifferingEntriesFetched_data();
    void onlyDifferingEntriesFetched();
    void entriesFetchedAtEverySync_data();
    void entriesFetchedAtEverySync();
    void onlyDirectFileChildrenCount();
    void manifestFailures_data();
    void manifestFailures();
    void debugLinesPerEntry();
    void incompleteEntrySkipped_data();
    void incompleteEntrySkipped();
    void escapingEntryRefused_data();
    void escapingEntryRefused();
};

namespace {

struct GameFile
{
    QString relative;
    QByteArray content;
};

const QList<GameFile> kFourFiles = {
    {"Game.exe", "the game executable"},
    {"Data/Map.dat", "map data, version 2"},
    {"Data/Maps/Deep/Cave.map", "cave layout, version 2"},
    {"Audio/theme.ogg", QByteArray("ogg\0bytes\r\n", 11)},
};

} // namespace

void ManifestTest::onlyDifferingEntriesFetched_data()
{
    // One letter per listed file, in manifest order: o intact, s stale
    // content, m missing, e emptied.
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("downloads");
    QTest::newRow("only the third stale") << "ooso" << QStringList{"Downloading (75.00%) Cave.map..."};
    QTest::newRow("all intact") << "oooo" << QStringList();
    QTest::newRow("first missing, last stale")
        << "moos" << QStringList{"Downloading (25.00%) Game.exe...", "Downloading (100.00%) theme.ogg..."};
    QTest::newRow("second emptied") << "oeoo" << QStringList{"Downloading (50.00%) Map.dat..."};
    QTest::newRow("nested file missing with its directories")
        << "oomo" << QStringList{"Downloading (75.00%) Cave.map..."};
    QTest::newRow("everything missing")
        << "mmmm"
        << QStringList{"Downloading (25.00%) Game.exe...", "Downloading (50.00%) Map.dat...",
                       "Downloading (75.00%) Cave.map...", "Downloading (100.00%) theme.ogg..."};
}

void ManifestTest::onlyDifferingEntriesFetched()
{
    QFETCH(QString, states);
    QFETCH(QStringList, downloads);
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    QByteArray children;
    QStringList fetched;
    for (int i = 0; i < kFourFiles.size(); ++i) {
        const GameFile &file = kFourFiles.at(i);
        served.write(file.relative, file.content);
        children += listed(file.relative, file.content);
        const QChar state = states.at(i);
        if (state == 'o')
            install.write(file.relative, file.content);
        else if (state == 's')
            install.write(file.relative, "old " + file.content);
        else if (state == 'e')
            install.write(file.relative, QByteArray());
        if (state != 'o')
            fetched << "/game/" + file.relative;
    }
    const QByteArray listing = manifest(children);
    served.write("file_listing.xml", listing);
    // Files the manifest does not list.
    const QByteArray save("save \0 data", 11);
    install.write("Saves/Zorvan_Party-1", save);
    install.write("Data/notes.txt", "my notes");

    const RunResult run = runUpdate();

    QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus} + downloads + QStringList{kFinished}));
    QCOMPARE(run.playOk.size(), 1);
    QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml"} + fetched));
    for (const GameFile &file : kFourFiles)
        QCOMPARE(install.read(file.relative), file.content);
    QCOMPARE(install.read("Saves/Zorvan_Party-1"), save);
    QCOMPARE(install.read("Data/notes.txt"), QByteArray("my notes"));
    QCOMPARE(install.read("file_listing.xml"), listing);
    QCOMPARE(install.files(),
             (QStringList{"Audio/theme.ogg", "Data/Map.dat", "Data/Maps/Deep/Cave.map", "Data/notes.txt", "Game.exe",
                          "Saves/Zorvan_Party-1", "file_listing.xml", "localversion.txt"}));
    verifyRecorded(install, run);
}

void ManifestTest::entriesFetchedAtEverySync_data()
{
    const QByteArray content = "always fetched";
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<bool>("presentBefore");
    QTest::newRow("uppercase digests, file intact")
        << fileElement("always.dat", kGameDir + "Data/always.dat", md5Hex(content).toUpper(), sha1Hex(content).toUpper())
        << true;
    QTest::newRow("uppercase MD5 only")
        << fileElement("always.dat", kGameDir + "Data/always.dat", md5Hex(content).toUpper(), sha1Hex(content)) << true;
    QTest::newRow("empty digests, file missing")
        << fileElement("always.dat", kGameDir + "Data/always.dat", "", "") << false;
    QTest::newRow("Name not the last component of Path")
        << fileElement("always.dat", kGameDir + "Data/elsewhere.dat", md5Hex(content), sha1Hex(content)) << true;
}

void ManifestTest::entriesFetchedAtEverySync()
{
    QFETCH(QByteArray, element);
    QFETCH(bool, presentBefore);
    TempInstallation install;
    ServedTree served;
    const QByteArray content = "always fetched";
    served.write("Data/always.dat", content);
    served.write("Data/elsewhere.dat", content);
    served.write("Game.exe", "game");
    served.write("file_listing.xml", manifest(listed("Game.exe", "game") + element));
    install.write("Game.exe", "game");
    if (presentBefore)
        install.write("Data/always.dat", content);

    QList<RunResult> runs;
    for (const QByteArray &version : {QByteArray("2.0\n"), QByteArray("3.0\n")}) {
        served.write("version.txt", version);
        if (runs.isEmpty())
            install.write("localversion.txt", "1.0\n");
        runs << runUpdate();
    }

    for (const RunResult &run : runs) {
        QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus, "Downloading (100.00%) always.dat...",
                                            kFinished}));
        QCOMPARE(run.requests.size(), 3);
        QVERIFY(!run.requests.contains("/game/Game.exe"));
    }
    QCOMPARE(install.read("Data/always.dat"), content);
    verifyRecorded(install, runs.last(), "3.0\n");
}

void ManifestTest::onlyDirectFileChildrenCount()
{
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    for (const QString relative : {"a.dat", "b.dat", "nested.dat", "lower.dat"})
        served.write(relative, "new " + relative.toUtf8());
    install.write("b.dat", "old b");
    // Any root name; only its direct "File" children are entries.
    const QByteArray children = "  <Header Version=\"2\"/>\n" + listed("a.dat", "new a.dat") + "  <Group>\n  "
        + listed("nested.dat", "new nested.dat") + "  </Group>\n"
        + fileElement("lower.dat", kGameDir + "lower.dat", "", "").replace("<File", "<file")
        + listed("b.dat", "new b.dat") + "  <Footer/>\n";
    served.write("file_listing.xml", manifest(children, "Liste"));

    const RunResult run = runUpdate();

    QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus, "Downloading (50.00%) a.dat...",
                                        "Downloading (100.00%) b.dat...", kFinished}));
    QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml", "/game/a.dat", "/game/b.dat"}));
    QCOMPARE(install.read("b.dat"), QByteArray("new b.dat"));
    QVERIFY(!install.exists("nested.dat"));
    QVERIFY(!install.exists("lower.dat"));
    QCOMPARE(run.debug.filter("NAME : ").size(), 2);
    verifyRecorded(install, run);
}

void ManifestTest::manifestFailures_data()
{
    const QString error004 = "Download error (004). Local version available.";
    const QString error010 = "Error in the update manifesto. (010)";
    const QString error011 = "Error in the update manifesto. (011)";
    const QString fetchX = "Downloading (100.00%) x.dat...";
    const QByteArray listingX = manifest(listed("Data/x.dat", "x content"));
    const QByteArray none; // no copy on disk

    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QByteArray>("servedListing");
    QTest::addColumn<QByteArray>("localListing");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<int>("playOkCount");

    QTest::newRow("404, no copy on disk") << int(Behaviour::NotFound) << listingX << none
                                          << QStringList{error004, error010} << 3;
    QTest::newRow("500, earlier manifest on disk used") << int(Behaviour::ServerError) << listingX << listingX
                                                        << QStringList{error004, fetchX} << 2;
    QTest::newRow("404, copy on disk not XML") << int(Behaviour::NotFound) << listingX << QByteArray("garbage")
                                               << QStringList{error004, error010} << 3;
    QTest::newRow("not XML") << int(Behaviour::Serve) << QByteArray("this is not xml") << listingX
                             << QStringList{error010} << 2;
    QTest::newRow("0 bytes") << int(Behaviour::Serve) << QByteArray() << listingX << QStringList{error010} << 2;
    QTest::newRow("blanks only") << int(Behaviour::Serve) << QByteArray(" \r\n\t\n") << none
                                 << QStringList{error010} << 2;
    QTest::newRow("byte-order mark only") << int(Behaviour::Serve) << QByteArray("\xef\xbb\xbf") << none
                                          << QStringList{error010} << 2;
    QTest::newRow("unclosed root") << int(Behaviour::Serve) << QByteArray("<Files>\n<File Name=\"x.dat\"/>\n") << none
                                   << QStringList{error010} << 2;
    QTest::newRow("mismatched tags") << int(Behaviour::Serve) << QByteArray("<Files><File></Files>") << none
                                     << QStringList{error010} << 2;
    QTest::newRow("declaration only") << int(Behaviour::Serve) << QByteArray("<?xml version=\"1.0\"?>\n") << none
                                      << QStringList{error011} << 2;
    QTest::newRow("comment only, replaces a good copy")
        << int(Behaviour::Serve) << QByteArray("<!-- nothing here -->\n") << listingX << QStringList{error011} << 2;
    QTest::newRow("declaration and comment")
        << int(Behaviour::Serve) << QByteArray("<?xml version=\"1.0\"?>\n<!-- files follow -->\n") << none
        << QStringList{error011} << 2;
    QTest::newRow("root without File children") << int(Behaviour::Serve) << QByteArray("<Files><Other/></Files>")
                                                << none << QStringList() << 1;
}

void ManifestTest::manifestFailures()
{
    QFETCH(int, behaviour);
    QFETCH(QByteArray, servedListing);
    QFETCH(QByteArray, localListing);
    QFETCH(QStringList, statuses);
    QFETCH(int, playOkCount);
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    served.write("Data/x.dat", "x content");
    served.write("file_listing.xml", servedListing);
    updateServer().setBehaviour("/game/file_listing.xml", Behaviour(behaviour));
    if (!localListing.isNull())
        install.write("file_listing.xml", localListing);

    const RunResult run = runUpdate();

    QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus} + statuses + QStringList{kFinished}));
    QCOMPARE(run.playOk.size(), playOkCount);
    const bool fetched = statuses.contains("Downloading (100.00%) x.dat...");
    QCOMPARE(run.requests.contains("/game/Data/x.dat"), fetched);
    QCOMPARE(install.exists("Data/x.dat"), fetched);
    QVERIFY(run.debug.filter("NAME : ").size() == (fetched ? 1 : 0));
    verifyRecorded(install, run);
}

void ManifestTest::debugLinesPerEntry()
{
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    const QByteArray game = "game";
    const QByteArray cave = "cave map";
    served.write("Game.exe", game);
    served.write("Data/Maps/Cave.map", cave);
    served.write("file_listing.xml", manifest(listed("Game.exe", game) + listed("Data/Maps/Cave.map", cave)));
    install.write("Game.exe", game);
    const QString caveUrl = served.url("Data/Maps/Cave.map");

    const RunResult run = runUpdate();

    const QStringList expected = {
        "Vérification de la version",
        "Téléchargement de " + served.url("version.txt"),
        "Ecriture de version.txt",
        "Comparaison de version",
        "Téléchargement de " + served.url("file_listing.xml"),
        "Ecriture de file_listing.xml",
        "NAME : Game.exe",
        "PATH : " + kGameDir + "Game.exe",
        "MD5 server : " + md5Hex(game),
        sha1Hex(game),
        "LocalPath : Game.exe",
        kHashLine + "Game.exe",
        kHashLine + "Game.exe",
        "Size : 4",
        "NAME : Cave.map",
        "PATH : " + kGameDir + "Data/Maps/Cave.map",
        "MD5 server : " + md5Hex(cave),
        sha1Hex(cave),
        "LocalPath : Data/Maps/Cave.map",
        kHashLine + "Data/Maps/Cave.map",
        kHashLine + "Data/Maps/Cave.map",
        "Size : 0",
        "Url : " + caveUrl,
        "Téléchargement de " + caveUrl,
        "Vérification de : Data/Maps/",
        "Création du dossier : Data/Maps/",
        "Chemin vers le fichier : Data/Maps/Cave.map",
        "Ecriture de Data/Maps/Cave.map",
    };
    QCOMPARE(run.debug, expected);
    QCOMPARE(install.read("Data/Maps/Cave.map"), cave);
    verifyRecorded(install, run);
}

void ManifestTest::incompleteEntrySkipped_data()
{
    QTest::addColumn<QString>("omitted");
    for (const char *attribute : {"Name", "Path", "MD5", "SHA1"})
        QTest::newRow(attribute) << QString::fromLatin1(attribute);
}

void ManifestTest::incompleteEntrySkipped()
{
    QFETCH(QString, omitted);
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    const QByteArray incomplete = "would be fetched if complete";
    served.write("Data/inc.dat", incomplete);
    served.write("Data/b.dat", "new b");
    served.write("Game.exe", "game");
    const QString incPath = kGameDir + "Data/inc.dat";
    served.write("file_listing.xml",
                 manifest(fileElement("inc.dat", incPath, md5Hex(incomplete), sha1Hex(incomplete), omitted)
                          + listed("Data/b.dat", "new b") + listed("Game.exe", "game")));
    install.write("Data/b.dat", "old b");
    install.write("Game.exe", "game");

    const RunResult run = runUpdate();

    // Counted in the total and as examined: the next entry is the second of three.
    QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus, "Downloading (66.67%) b.dat...", kFinished}));
    QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml", "/game/Data/b.dat"}));
    const QString skipped = "Entrée incomplète ignorée : " + (omitted == "Path" ? QString() : incPath);
    QCOMPARE(run.debug.filter("Entrée incomplète ignorée").size(), 1);
    QVERIFY2(run.debug.contains(skipped), qPrintable(run.debug.join('\n')));
    QCOMPARE(run.debug.filter("NAME : ").size(), 3);
    QVERIFY(!install.exists("Data/inc.dat"));
    QCOMPARE(install.read("Data/b.dat"), QByteArray("new b"));
    verifyRecorded(install, run);
}

void ManifestTest::escapingEntryRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    // Where the entry would be written, relative to the installation's parent
    // directory; empty when it would land inside the installation.
    QTest::addColumn<QString>("outsideTarget");
    QTest::addColumn<bool>("readsLocal");

    const QString unique = QString("zorvan-escape-%1-").arg(QCoreApplication::applicationPid());
    const QString parent = QFileInfo(QDir::tempPath()).canonicalFilePath();
    QTest::newRow("climbs out of the game directory")
        << unique + "up.dat" << kGameDir + "../" + unique + "up.dat" << unique + "up.dat" << false;
    QTest::newRow("absolute path") << unique + "abs.dat" << parent + "/" + unique + "abs.dat" << unique + "abs.dat"
                                   << false;
    QTest::newRow("backslashes climb") << unique + "bs.dat" << kGameDir + "..\\" + unique + "bs.dat" << QString()
                                       << false;
    QTest::newRow("Name climbs, Path inside") << "../../../../" + unique + "name.dat" << kGameDir + "Data/" + unique + "name.dat"
                                              << unique + "name.dat" << true;
}

void ManifestTest::escapingEntryRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QFETCH(QString, outsideTarget);
    QFETCH(bool, readsLocal);
    TempInstallation install;
    ServedTree served;
    differingVersions(install, served);
    const QDir parent = QFileInfo(install.path()).dir();
    QCOMPARE(QFileInfo(parent.path()).canonicalFilePath(), QFileInfo(QDir::tempPath()).canonicalFilePath());

    // A file already where the entry points, with the very digests the
    // manifest gives: were it read, the entry would pass as up to date.
    const QByteArray outside = "outside the installation";
    OutsideFile guard;
    if (!outsideTarget.isEmpty()) {
        guard.path = parent.filePath(outsideTarget);
        QFile file(guard.path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(outside);
    }
    served.write("Data/ok.dat", "ok");
    served.write("file_listing.xml", manifest(fileElement(name, path, md5Hex(outside), sha1Hex(outside))
                                              + listed("Data/ok.dat", "ok")));
    const RunResult run = runUpdate();

    QCOMPARE(run.statuses, (QStringList{kVersionStatus, kManifestStatus, "Downloading (100.00%) ok.dat...", kFinished}));
    QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml", "/game/Data/ok.dat"}));
    QCOMPARE(run.debug.filter("Chemin refusé : "), QStringList{"Chemin refusé : " + path});
    QCOMPARE(run.debug.filter("Url : ").size(), 1);
    const QStringList hashed = run.debug.filter(kHashLine);
    QCOMPARE(hashed.size(), readsLocal ? 4 : 2);
    if (!outsideTarget.isEmpty()) {
        QFile file(guard.path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), outside);
    }
    QCOMPARE(install.files(), (QStringList{"Data/ok.dat", "file_listing.xml", "localversion.txt"}));
    verifyRecorded(install, run);
}

QTEST_MAIN(ManifestTest)
#include "tst_manifest.moc"
