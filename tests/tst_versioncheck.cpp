// The version check: both version files, their comparison and the run's
// status texts, against a real HTTP server on 127.0.0.1.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kDownloading = "Downloading  version.txt...";
const QString kManifest = "Downloading  file_listing.xml...";
const QString kLatest = "You have the latest version.";
const QString kFinished = "Update finished. You have the latest version.";
const QString k004 = "Download error (004). Local version available.";
const QString k009 = "Error in the update manifesto (009).";
// A directory of that name: the local version file cannot be read.
const QByteArray kDirectory = "<directory>";

} // namespace

class VersionCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // Null byte arrays: no such file, or (for the server) a 404.
    void run_data()
    {
        QTest::addColumn<QByteArray>("local");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("leftover"); // a version.txt from an interrupted run
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QByteArray>("localAfter");
        QTest::addColumn<QByteArray>("leftoverAfter");
        const QByteArray none;
        const QStringList equal{kDownloading, kLatest, kFinished};
        const QStringList differ{kDownloading, kManifest, kFinished};
        QTest::newRow("same bytes") << QByteArray("1.4\n") << QByteArray("1.4\n") << none << equal << QByteArray("1.4\n") << none;
        QTest::newRow("CR LF against LF") << QByteArray("1.4\n") << QByteArray("1.4\r\n") << none << equal
                                          << QByteArray("1.4\r\n") << none;
        QTest::newRow("every CR dropped") << QByteArray("1\r.4\r\r\n") << QByteArray("1.4\n") << none << equal
                                          << QByteArray("1.4\n") << none;
        QTest::newRow("no line end against one") << QByteArray("1.4\n") << QByteArray("1.4") << none << differ
                                                 << QByteArray("1.4") << none;
        QTest::newRow("trailing blank counts") << QByteArray("1.4 \n") << QByteArray("1.4\n") << none << differ
                                               << QByteArray("1.4\n") << none;
        QTest::newRow("case counts") << QByteArray("v1.4\n") << QByteArray("V1.4\n") << none << differ
                                     << QByteArray("V1.4\n") << none;
        QTest::newRow("older is different too") << QByteArray("1.5\n") << QByteArray("1.4\n") << none << differ
                                                << QByteArray("1.4\n") << none;
        // The initial value itself is served, so the run ends without a
        // synchronisation only if "0.0" and a line end were written.
        QTest::newRow("first start") << none << QByteArray("0.0\n") << none << equal << QByteArray("0.0\n") << none;
        QTest::newRow("server unreachable") << QByteArray("1.2\r\n") << none << none << QStringList{kDownloading, k004, k009}
                                            << QByteArray("1.2\r\n") << none;
        QTest::newRow("server unreachable, first start")
            << none << none << none << QStringList{kDownloading, k004, k009} << QByteArray("0.0\n") << none;
        QTest::newRow("server unreachable, leftover compared")
            << QByteArray("2.0\n") << none << QByteArray("2.0\n") << QStringList{kDownloading, k004, kLatest, kFinished}
            << QByteArray("2.0\n") << none;
        QTest::newRow("local version unreadable") << kDirectory << QByteArray("3.0\n") << none
                                                  << QStringList{kDownloading, k009} << kDirectory << QByteArray("3.0\n");
    }

    void run()
    {
        QFETCH(QByteArray, local);
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, leftover);
        QFETCH(QStringList, statuses);
        QFETCH(QByteArray, localAfter);
        QFETCH(QByteArray, leftoverAfter);
        TempInstallation install;
        ServedTree served;
        served.write("version.txt", server);
        if (server.isNull())
            updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
        // An empty manifest: a synchronisation that has nothing to fetch.
        served.write("file_listing.xml", "<Files/>");
        if (local == kDirectory)
            QDir().mkdir(install.absolute("localversion.txt"));
        else if (!local.isNull())
            install.write("localversion.txt", local);
        if (!leftover.isNull())
            install.write("version.txt", leftover);
        install.write("file_listing.php", "stale");
        updateServer().clearRequests();

        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        QSignalSpy playOk(&updater, &GameUpdater::playOk);
        DebugCapture debug;
        updater.checkUpdate();

        QCOMPARE(texts(infos), statuses);
        // Every text but a download's own status is followed by playOk(true).
        QCOMPARE(playOk.count(), statuses.size() - statuses.filter("Downloading  ").size());
        for (const QList<QVariant> &args : playOk)
            QCOMPARE(args.at(0).toBool(), true);
        QCOMPARE(updateServer().requests().contains("/game/file_listing.xml"), statuses.contains(kManifest));
        QCOMPARE(debug.lines().contains("Les fichiers de version sont identiques."), statuses.contains(kLatest));
        if (localAfter == kDirectory)
            QVERIFY(QFileInfo(install.absolute("localversion.txt")).isDir());
        else
            QCOMPARE(install.read("localversion.txt"), localAfter);
        QCOMPARE(install.exists("version.txt"), !leftoverAfter.isNull());
        QCOMPARE(install.read("version.txt"), leftoverAfter);
        // Removed on every road, the failing ones included.
        QVERIFY(!install.exists("file_listing.php"));
    }
};

QTEST_MAIN(VersionCheckTest)
#include "tst_versioncheck.moc"
