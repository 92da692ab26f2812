// The manifest synchronisation, driven through whole update runs (and
// Repair) against the loopback server and a temporary installation.

#include "support/testenv.h"
#include "platform/replacefile.h"
#include "updater/gameupdater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kGameDir = QStringLiteral("/home/zorvanhost/www/game/");
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
    QVector<bool> playOk;
    QStringList debug;
    QStringList requests;
};

// One update run as the start-up would do it, or a Repair.
RunResult runUpdate(bool repair = false)
{
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updateServer().clearRequests();
    RunResult result;
    {
        DebugCapture debug;
        if (repair)
            updater.forceUpdate();
        else
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

// The status texts of a synchronising run around those of the manifest.
QStringList statusesAround(const QStringList &middle)
{
    return QStringList{"Downloading  version.txt...", "Downloading  file_listing.xml..."} + middle
        + QStringList{"Update finished. You have the latest version."};
}

// Each text but a download's own status is followed by playOk(true), and the
// run records the server's version once what it wrote has been forced to
// the disk.
void verifyRecorded(const TempInstallation &install, const RunResult &run, const QByteArray &version = "2.0\n")
{
    QCOMPARE(run.playOk, QVector<bool>(run.statuses.size() - run.statuses.filter("Downloading").size(), true));
    QVERIFY(!platform::hasUnflushedReplacements());
    QCOMPARE(install.read("localversion.txt"), version);
    QVERIFY(!install.exists("version.txt"));
}

const QList<QPair<QString, QByteArray>> kFourFiles = {
    {"Game.exe", "the game executable"},
    {"Data/Map.dat", "map data, version 2"},
    {"Data/Maps/Deep/Cave.map", "cave layout, version 2"},
    {"Audio/theme.ogg", QByteArray("ogg\0bytes\r\n", 11)},
};

} // namespace

class ManifestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // One letter per listed file, in manifest order: o intact, s stale
    // content, m missing, e emptied, f one byte flipped (same size). A Repair
    // runs with the server's version already recorded.
    void onlyDifferingEntriesFetched_data()
    {
        QTest::addColumn<bool>("repair");
        QTest::addColumn<QString>("states");
        QTest::addColumn<QStringList>("downloads");
        QTest::newRow("only the third stale") << false << "ooso" << QStringList{"Downloading (75.00%) Cave.map..."};
        QTest::newRow("all intact") << false << "oooo" << QStringList();
        QTest::newRow("first missing, last stale")
            << false << "moos" << QStringList{"Downloading (25.00%) Game.exe...", "Downloading (100.00%) theme.ogg..."};
        QTest::newRow("second emptied") << false << "oeoo" << QStringList{"Downloading (50.00%) Map.dat..."};
        QTest::newRow("nested file missing with its directories") << false << "oomo" << QStringList{"Downloading (75.00%) Cave.map..."};
        QTest::newRow("everything missing") << false << "mmmm"
                                            << QStringList{"Downloading (25.00%) Game.exe...", "Downloading (50.00%) Map.dat...",
                                                           "Downloading (75.00%) Cave.map...", "Downloading (100.00%) theme.ogg..."};
        QTest::newRow("Repair, all intact") << true << "oooo" << QStringList();
        QTest::newRow("Repair, one deleted") << true << "omoo" << QStringList{"Downloading (50.00%) Map.dat..."};
        QTest::newRow("Repair, one byte flipped") << true << "ooof" << QStringList{"Downloading (100.00%) theme.ogg..."};
    }

    void onlyDifferingEntriesFetched()
    {
        QFETCH(bool, repair);
        QFETCH(QString, states);
        QFETCH(QStringList, downloads);
        TempInstallation install;
        ServedTree served;
        served.write("version.txt", "2.0\n");
        install.write("localversion.txt", repair ? "2.0\n" : "1.0\n");
        QStringList fetched;
        QStringList hashed;
        for (int i = 0; i < kFourFiles.size(); ++i) {
            const QString &relative = kFourFiles.at(i).first;
            served.write(relative, kFourFiles.at(i).second);
            hashed << kHashLine + relative << kHashLine + relative;
            QByteArray local = kFourFiles.at(i).second;
            const QChar state = states.at(i);
            if (state == 's')
                local.prepend("old ");
            else if (state == 'e')
                local.clear();
            else if (state == 'f')
                local[2] = char(local.at(2) ^ 0x01);
            if (state != 'm')
                install.write(relative, local);
            if (state != 'o')
                fetched << "/game/" + relative;
        }
        const QByteArray listing = manifestFor(kFourFiles);
        served.write("file_listing.xml", listing);
        // Files the manifest does not list.
        const QByteArray save("save \0 data", 11);
        install.write("Saves/Zorvan_Party-1", save);
        install.write("Data/notes.txt", "my notes");

        const RunResult run = runUpdate(repair);

        QCOMPARE(run.statuses, statusesAround(downloads));
        QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml"} + fetched));
        // Every listed file is hashed, MD5 then SHA-1, also when it is intact.
        QCOMPARE(run.debug.filter(kHashLine), hashed);
        for (const auto &file : kFourFiles)
            QCOMPARE(install.read(file.first), file.second);
        QCOMPARE(install.read("Saves/Zorvan_Party-1"), save);
        QCOMPARE(install.read("Data/notes.txt"), QByteArray("my notes"));
        QCOMPARE(install.read("file_listing.xml"), listing);
        QCOMPARE(install.files(), (QStringList{"Audio/theme.ogg", "Data/Map.dat", "Data/Maps/Deep/Cave.map", "Data/notes.txt",
                                               "Game.exe", "Saves/Zorvan_Party-1", "file_listing.xml", "localversion.txt"}));
        verifyRecorded(install, run);
    }

    void entriesFetchedAtEverySync_data()
    {
        const QByteArray content = "always fetched";
        const QString path = kGameDir + "Data/always.dat";
        QTest::addColumn<QByteArray>("element");
        QTest::addColumn<bool>("presentBefore");
        QTest::newRow("uppercase digests, file intact")
            << fileElement("always.dat", path, md5Hex(content).toUpper(), sha1Hex(content).toUpper()) << true;
        QTest::newRow("uppercase MD5 only") << fileElement("always.dat", path, md5Hex(content).toUpper(), sha1Hex(content)) << true;
        QTest::newRow("empty digests, file missing") << fileElement("always.dat", path, "", "") << false;
        QTest::newRow("Name not the last component of Path")
            << fileElement("always.dat", kGameDir + "Data/elsewhere.dat", md5Hex(content), sha1Hex(content)) << true;
    }

    void entriesFetchedAtEverySync()
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
        install.write("localversion.txt", "1.0\n");
        if (presentBefore)
            install.write("Data/always.dat", content);

        for (const QByteArray &version : {QByteArray("2.0\n"), QByteArray("3.0\n")}) {
            served.write("version.txt", version);
            const RunResult run = runUpdate();
            QCOMPARE(run.statuses, statusesAround({"Downloading (100.00%) always.dat..."}));
            QCOMPARE(run.requests.size(), 3);
            QVERIFY(!run.requests.contains("/game/Game.exe"));
            QCOMPARE(install.read("Data/always.dat"), content);
            verifyRecorded(install, run, version);
        }
    }

    void manifestFailures_data()
    {
        const QString error004 = "Download error (004). Local version available.";
        const QString error010 = "Error in the update manifesto. (010)";
        const QString error011 = "Error in the update manifesto. (011)";
        const QString fetchX = "Downloading (100.00%) x.dat...";
        const QByteArray listingX = manifest(listed("Data/x.dat", "x content"));
        const QByteArray none; // no copy on disk
        const int serve = int(Behaviour::Serve);

        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QByteArray>("servedListing");
        QTest::addColumn<QByteArray>("localListing");
        QTest::addColumn<QStringList>("statuses");

        QTest::newRow("404, no copy on disk") << int(Behaviour::NotFound) << listingX << none << QStringList{error004, error010};
        QTest::newRow("500, earlier manifest on disk used")
            << int(Behaviour::ServerError) << listingX << listingX << QStringList{error004, fetchX};
        QTest::newRow("404, copy on disk not XML")
            << int(Behaviour::NotFound) << listingX << QByteArray("garbage") << QStringList{error004, error010};
        QTest::newRow("not XML") << serve << QByteArray("this is not xml") << listingX << QStringList{error010};
        QTest::newRow("0 bytes") << serve << QByteArray() << listingX << QStringList{error010};
        QTest::newRow("unclosed root") << serve << QByteArray("<Files>\n<File Name=\"x.dat\"/>\n") << none << QStringList{error010};
        QTest::newRow("declaration only") << serve << QByteArray("<?xml version=\"1.0\"?>\n") << none << QStringList{error011};
        QTest::newRow("comment only, replaces a good copy")
            << serve << QByteArray("<!-- nothing here -->\n") << listingX << QStringList{error011};
        QTest::newRow("root without File children") << serve << QByteArray("<Files><Other/></Files>") << none << QStringList();
    }

    void manifestFailures()
    {
        QFETCH(int, behaviour);
        QFETCH(QByteArray, servedListing);
        QFETCH(QByteArray, localListing);
        QFETCH(QStringList, statuses);
        TempInstallation install;
        ServedTree served;
        differingVersions(install, served);
        served.write("Data/x.dat", "x content");
        served.write("file_listing.xml", servedListing);
        updateServer().setBehaviour("/game/file_listing.xml", Behaviour(behaviour));
        if (!localListing.isNull())
            install.write("file_listing.xml", localListing);

        const RunResult run = runUpdate();

        QCOMPARE(run.statuses, statusesAround(statuses));
        const bool fetched = statuses.contains("Downloading (100.00%) x.dat...");
        QCOMPARE(run.requests.contains("/game/Data/x.dat"), fetched);
        QCOMPARE(install.exists("Data/x.dat"), fetched);
        verifyRecorded(install, run);
    }

    // Entries that are not fetched: not a direct "File" child of the root
    // (whatever its name), incomplete, or placed outside the installation,
    // where no local file is read either. Each row's elements come before
    // "Data/ok.dat" (missing, so fetched) and "Game.exe" (intact), and count.
    void entriesNotFetched_data()
    {
        QTest::addColumn<QByteArray>("root");
        QTest::addColumn<QByteArray>("elements");
        QTest::addColumn<QString>("status");
        // Where a refused entry would be written, relative to the
        // installation's parent directory.
        QTest::addColumn<QString>("outsideTarget");

        QTest::newRow("not direct File children")
            << QByteArray("Liste")
            << "  <Header Version=\"2\"/>\n  <Group>\n" + listed("nested.dat", "n") + "  </Group>\n"
                   + fileElement("lower.dat", kGameDir + "lower.dat", "", "").replace("<File", "<file")
            << "Downloading (50.00%) ok.dat..." << QString();

        const QString unique = QString("zorvan-escape-%1-").arg(QCoreApplication::applicationPid());
        const QString parent = QFileInfo(QDir::tempPath()).canonicalFilePath();
        const QByteArray outside = "outside the installation";
        const auto refused = [&](const char *tag, const QString &name, const QString &path, const QString &target) {
            QTest::newRow(tag) << QByteArray("Files") << fileElement(name, path, md5Hex(outside), sha1Hex(outside))
                               << "Downloading (66.67%) ok.dat..." << target;
        };
        refused("climbs out of the game directory", unique + "up.dat", kGameDir + "../" + unique + "up.dat", unique + "up.dat");
        refused("absolute path", unique + "abs.dat", parent + "/" + unique + "abs.dat", unique + "abs.dat");
        refused("backslashes climb", unique + "bs.dat", kGameDir + "..\\" + unique + "bs.dat", QString());
        // The Path inside the installation is read; the Name would write outside.
        refused("Name climbs, Path inside", "../../../../" + unique + "name.dat", kGameDir + "Data/" + unique + "name.dat",
                unique + "name.dat");
        for (const char *attribute : {"Name", "Path", "MD5", "SHA1"}) {
            QTest::addRow("no %s", attribute) << QByteArray("Files")
                                              << fileElement("inc.dat", kGameDir + "Data/inc.dat", md5Hex("i"), sha1Hex("i"), attribute)
                                              << "Downloading (66.67%) ok.dat..." << QString();
        }
    }

    void entriesNotFetched()
    {
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, elements);
        QFETCH(QString, status);
        QFETCH(QString, outsideTarget);
        TempInstallation install;
        ServedTree served;
        differingVersions(install, served);
        const QDir parent = QFileInfo(install.path()).dir();
        QCOMPARE(QFileInfo(parent.path()).canonicalFilePath(), QFileInfo(QDir::tempPath()).canonicalFilePath());

        // A file already where a refused entry points, with the very digests
        // the manifest gives: were it read, the entry would pass as up to date.
        const QByteArray outside = "outside the installation";
        QFile outsideFile(outsideTarget.isEmpty() ? QString() : parent.filePath(outsideTarget));
        const auto removeOutside = qScopeGuard([&] {
            if (!outsideTarget.isEmpty())
                outsideFile.remove();
        });
        if (!outsideTarget.isEmpty()) {
            QVERIFY(outsideFile.open(QIODevice::WriteOnly));
            outsideFile.write(outside);
            outsideFile.close();
        }
        served.write("Data/ok.dat", "ok");
        const QByteArray listing = elements + listed("Data/ok.dat", "ok") + listed("Game.exe", "game") + "  <Footer/>\n";
        served.write("file_listing.xml", manifest(listing, root));
        install.write("Game.exe", "game");

        const RunResult run = runUpdate();

        QCOMPARE(run.statuses, statusesAround({status}));
        QCOMPARE(run.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml", "/game/Data/ok.dat"}));
        for (const QString &line : run.debug.filter(kHashLine))
            QVERIFY2(!line.contains("..") && !line.contains(kHashLine + "/"), qPrintable(line));
        if (!outsideTarget.isEmpty()) {
            QVERIFY(outsideFile.open(QIODevice::ReadOnly));
            QCOMPARE(outsideFile.readAll(), outside);
        }
        QCOMPARE(install.files(), (QStringList{"Data/ok.dat", "Game.exe", "file_listing.xml", "localversion.txt"}));
        verifyRecorded(install, run);
    }
};

QTEST_MAIN(ManifestTest)
#include "tst_manifest.moc"
