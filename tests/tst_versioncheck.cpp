// The version check: both version files, their comparison and the run's
// status texts, against a real HTTP server on 127.0.0.1.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kDownloading = "Downloading  version.txt...";
const QString kLatest = "You have the latest version.";
const QString kFinished = "Update finished. You have the latest version.";
const QString k009 = "Error in the update manifesto (009).";

} // namespace

class VersionCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    void comparison_data();
    void comparison();
    void missingLocalVersionIsCreated();
    void unreachableServer_data();
    void unreachableServer();
    void leftoverServerVersionIsCompared();
    void unreadableLocalVersion();
    void equalRunDebugLines();
};

void VersionCheckTest::comparison_data()
{
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<bool>("equal");
    QTest::newRow("same bytes") << QByteArray("1.4\n") << QByteArray("1.4\n") << true;
    QTest::newRow("CR LF against LF") << QByteArray("1.4\n") << QByteArray("1.4\r\n") << true;
    QTest::newRow("every CR dropped") << QByteArray("1\r.4\r\r\n") << QByteArray("1.4\n") << true;
    QTest::newRow("no line end against one") << QByteArray("1.4\n") << QByteArray("1.4") << false;
    QTest::newRow("trailing blank counts") << QByteArray("1.4 \n") << QByteArray("1.4\n") << false;
    QTest::newRow("case counts") << QByteArray("v1.4\n") << QByteArray("V1.4\n") << false;
    QTest::newRow("older is different too") << QByteArray("1.5\n") << QByteArray("1.4\n") << false;
}

void VersionCheckTest::comparison()
{
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, server);
    QFETCH(bool, equal);
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", server);
    // An empty manifest: a synchronisation that has nothing to fetch.
    served.write("file_listing.xml", "<Files/>");
    install.write("localversion.txt", local);
    install.write("file_listing.php", "stale");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.checkUpdate();

    const QStringList expected = equal
        ? QStringList{kDownloading, kLatest, kFinished}
        : QStringList{kDownloading, "Downloading  file_listing.xml...", kFinished};
    QCOMPARE(texts(infos), expected);
    QCOMPARE(playOk.count(), equal ? 2 : 1);
    for (const QList<QVariant> &args : playOk)
        QCOMPARE(args.at(0).toBool(), true);
    QCOMPARE(updateServer().requests().contains("/game/file_listing.xml"), !equal);
    updateServer().clearRequests();
    // The server's version is now the installed one, byte for byte.
    QCOMPARE(install.read("localversion.txt"), server);
    QVERIFY(!install.exists("version.txt"));
    QVERIFY(!install.exists("file_listing.php"));
}

void VersionCheckTest::missingLocalVersionIsCreated()
{
    TempInstallation install;
    ServedTree served;
    // The initial value itself, so that the run ends without a synchronisation.
    served.write("version.txt", "0.0\n");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();

    QCOMPARE(texts(infos), (QStringList{kDownloading, kLatest, kFinished}));
    QCOMPARE(install.read("localversion.txt"), QByteArray("0.0\n"));
}

void VersionCheckTest::unreachableServer_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<bool>("hadLocalVersion");
    QTest::newRow("404, installed before") << int(Behaviour::NotFound) << true;
    QTest::newRow("404, first start") << int(Behaviour::NotFound) << false;
    QTest::newRow("500") << int(Behaviour::ServerError) << true;
    QTest::newRow("dropped") << int(Behaviour::DropMidBody) << true;
}

void VersionCheckTest::unreachableServer()
{
    QFETCH(int, behaviour);
    QFETCH(bool, hadLocalVersion);
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", "9.9\n");
    updateServer().setBehaviour("/game/version.txt", Behaviour(behaviour));
    if (hadLocalVersion)
        install.write("localversion.txt", "1.2\r\n");
    install.write("file_listing.php", "stale");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.checkUpdate();

    QCOMPARE(texts(infos), (QStringList{kDownloading, "Download error (004). Local version available.", k009}));
    QCOMPARE(playOk.count(), 2);
    QCOMPARE(install.read("localversion.txt"), hadLocalVersion ? QByteArray("1.2\r\n") : QByteArray("0.0\n"));
    QVERIFY(!install.exists("version.txt"));
    QVERIFY(!install.exists("file_listing.php"));
}

void VersionCheckTest::leftoverServerVersionIsCompared()
{
    // A run interrupted before the version was recorded leaves the server's
    // version file; when the server cannot be reached it is compared instead.
    TempInstallation install;
    ServedTree served;
    updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
    install.write("version.txt", "2.0\n");
    install.write("localversion.txt", "2.0\n");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();

    QCOMPARE(texts(infos),
             (QStringList{kDownloading, "Download error (004). Local version available.", kLatest, kFinished}));
    QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
    QVERIFY(!install.exists("version.txt"));
}

void VersionCheckTest::unreadableLocalVersion()
{
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", "3.0\n");
    // A directory of that name exists but cannot be read as the file.
    QDir().mkdir(install.absolute("localversion.txt"));

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();

    QCOMPARE(texts(infos), (QStringList{kDownloading, k009}));
    QVERIFY(QFileInfo(install.absolute("localversion.txt")).isDir());
    QCOMPARE(install.read("version.txt"), QByteArray("3.0\n"));
}

void VersionCheckTest::equalRunDebugLines()
{
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", "1.0\n");
    install.write("localversion.txt", "1.0\n");

    GameUpdater updater;
    DebugCapture debug;
    updater.checkUpdate();

    QCOMPARE(debug.lines(), (QStringList{"Vérification de la version", "Téléchargement de " + served.url("version.txt"),
                                         "Ecriture de version.txt", "Comparaison de version",
                                         "Les fichiers de version sont identiques."}));
}

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
