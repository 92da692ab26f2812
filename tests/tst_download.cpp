// The two synchronous downloads against a real HTTP server on 127.0.0.1.

#include "support/testenv.h"
#include "platform/lifecycle.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QEventLoop>
#include <QMap>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// Every file of the installation with its content.
QMap<QString, QByteArray> snapshot(const TempInstallation &install)
{
    QMap<QString, QByteArray> result;
    for (const QString &file : install.files())
        result.insert(file, install.read(file));
    return result;
}

} // namespace

class DownloadTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // `total` 0 stands for the one-argument download of a top-level file.
    void downloadStoresBody_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<double>("total");
        QTest::addColumn<double>("done");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("debug");
        const QString plain = "Downloading  version.txt...";
        const QStringList written{"Ecriture de version.txt"};
        const int serve = int(Behaviour::Serve);
        QTest::newRow("binary") << "version.txt" << serve << QByteArray("\0\1\2\xff\r\n", 6) << 0.0 << 0.0 << plain << written;
        QTest::newRow("empty body truncates") << "version.txt" << serve << QByteArray() << 0.0 << 0.0 << plain << written;
        QTest::newRow("no length") << "version.txt" << int(Behaviour::NoLength) << QByteArray(70000, 'x') << 0.0 << 0.0 << plain << written;
        QTest::newRow("redirect") << "version.txt" << int(Behaviour::Redirect) << QByteArray("2.0\n") << 0.0 << 0.0 << plain << written;
        QTest::newRow("game file, nested, 3 of 8")
            << "Data/Maps/Map 01.dat" << serve << QByteArray("map") << 8.0 << 3.0 << "Downloading (37.50%) Map 01.dat..."
            << QStringList{"Vérification de : Data/Maps/", "Création du dossier : Data/Maps/",
                           "Chemin vers le fichier : Data/Maps/Map 01.dat", "Ecriture de Data/Maps/Map 01.dat"};
        // Top level: an empty directory part, nothing is created.
        QTest::newRow("game file, top level, several MiB")
            << "Game.exe" << serve << QByteArray(3 * 1024 * 1024 + 17, 'p') << 1.0 << 1.0 << "Downloading (100.00%) Game.exe..."
            << QStringList{"Vérification de : ", "Chemin vers le fichier : Game.exe", "Ecriture de Game.exe"};
        QTest::newRow("game file, accented, 1 of 3")
            << "Données/é.txt" << serve << QByteArray("é") << 3.0 << 1.0 << "Downloading (33.33%) é.txt..."
            << QStringList{"Vérification de : Données/", "Création du dossier : Données/",
                           "Chemin vers le fichier : Données/é.txt", "Ecriture de Données/é.txt"};
    }

    void downloadStoresBody()
    {
        QFETCH(QString, relative);
        QFETCH(int, behaviour);
        QFETCH(QByteArray, body);
        QFETCH(double, total);
        QFETCH(double, done);
        QFETCH(QString, status);
        QFETCH(QStringList, debug);
        TempInstallation install;
        ServedTree served;
        const bool redirect = Behaviour(behaviour) == Behaviour::Redirect;
        served.write(redirect ? "moved/elsewhere.txt" : relative, body);
        updateServer().setBehaviour("/game/" + relative, Behaviour(behaviour), "/game/moved/elsewhere.txt");
        if (total == 0)
            install.write(relative, "an older and longer version text");

        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        QSignalSpy playOk(&updater, &GameUpdater::playOk);
        QSignalSpy progress(&updater, &GameUpdater::downloadP);
        DebugCapture capture;
        if (total == 0)
            updater.downloadFile(served.url(relative));
        else
            updater.downloadFile(served.url(relative), relative.section('/', -1), total, done);

        QCOMPARE(texts(infos), QStringList{status});
        QCOMPARE(playOk.count(), 0);
        QCOMPARE(install.read(relative), body);
        QCOMPARE(install.files(), QStringList{relative});
        QCOMPARE(capture.lines(), QStringList{"Téléchargement de " + served.url(relative)} + debug);
        // The progress pairs reach the engine's signal unchanged.
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), (QList<QVariant>{qint64(body.size()), qint64(body.size())}));
    }

    // `local`: what the installation holds where the file goes ("file", a
    // "directory", or nothing), or "climbs" for a URL whose directory part
    // leads out of the installation.
    void failureLeavesDiskUntouched_data()
    {
        QTest::addColumn<bool>("gameFile");
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("error");
        const QString e004 = "Download error (004). Local version available.";
        QTest::newRow("404") << false << int(Behaviour::NotFound) << "file" << e004;
        QTest::newRow("500") << false << int(Behaviour::ServerError) << "file" << e004;
        QTest::newRow("redirect loop") << false << int(Behaviour::RedirectLoop) << "file" << e004;
        QTest::newRow("dropped mid-body") << false << int(Behaviour::DropMidBody) << "file" << e004;
        QTest::newRow("short body") << false << int(Behaviour::ShortBody) << "file" << e004;
        QTest::newRow("game file, 404, no directory made")
            << true << int(Behaviour::NotFound) << "" << "Download error (006). Local version available.";
        // The player quits while the download waits for a reply that never
        // completes: even an empty body must not be written.
        QTest::newRow("quit while waiting") << false << int(Behaviour::Stall) << "file"
                                            << "Download interrupted (004). Local version available.";
        QTest::newRow("game file, quit while waiting")
            << true << int(Behaviour::Stall) << "" << "Download interrupted (006). Local version available.";
        // A directory where the file should go cannot be opened as the file.
        QTest::newRow("unwritable, 005")
            << false << int(Behaviour::Serve) << "directory" << "Error when opening file (005). Local version available.";
        QTest::newRow("game file, unwritable, 007")
            << true << int(Behaviour::Serve) << "directory" << "Error when opening file (007). Local version available.";
        QTest::newRow("game file, climbs out, 007")
            << true << int(Behaviour::Serve) << "climbs" << "Error when opening file (007). Local version available.";
    }

    void failureLeavesDiskUntouched()
    {
        QFETCH(bool, gameFile);
        QFETCH(int, behaviour);
        QFETCH(QString, local);
        QFETCH(QString, error);
        TempInstallation install;
        ServedTree served;
        served.write("Data/file.dat", QByteArray(300000, 'n'));
        updateServer().setBehaviour("/game/Data/file.dat", Behaviour(behaviour));
        // What the server answers for the climbing URL once it is normalised.
        updateServer().setContent("/escape/file.dat", "x");
        const QString url = served.url(local == "climbs" ? "../../escape/file.dat" : "Data/file.dat");
        if (local == "directory")
            install.write("Data/file.dat/keep", "kept");
        else if (local == "file")
            install.write("Data/file.dat", "1.3\n");
        const QMap<QString, QByteArray> before = snapshot(install);

        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        QSignalSpy playOk(&updater, &GameUpdater::playOk);
        const bool quit = Behaviour(behaviour) == Behaviour::Stall;
        if (quit)
            connect(&updateServer(), &LoopbackHttpServer::requestReceived, qApp, &QCoreApplication::quit);
        if (gameFile)
            updater.downloadFile(url, "file.dat", 4, 2);
        else
            updater.downloadFile(url);
        updateServer().disconnect(qApp);
        updateServer().releaseStalled();
        const bool noted = lifecycle::quitRequested();
        if (quit)
            clearQuitRequest();
        QCOMPARE(noted, quit);

        const QString status = gameFile ? "Downloading (50.00%) file.dat..." : "Downloading  Data/file.dat...";
        QCOMPARE(texts(infos), (QStringList{status, error}));
        QCOMPARE(playOk.count(), 1);
        QCOMPARE(playOk.at(0).at(0).toBool(), true);
        QCOMPARE(snapshot(install), before);
        QCOMPARE(install.exists("Data"), local == "file" || local == "directory");
        QVERIFY(!QFileInfo::exists(install.absolute("../escape")) && !QFileInfo::exists(install.absolute("../../escape")));
    }

    void managersAreNotKept_data()
    {
        QTest::addColumn<bool>("insideEventLoop");
        QTest::newRow("called directly, as at start-up") << false;
        QTest::newRow("from a running event loop, as Repair") << true;
    }

    // Every manager runs a network thread until it is disposed of. A run of
    // many downloads (a Repair goes through thousands of files) must not keep
    // them, whether it runs before the main event loop or inside it.
    void managersAreNotKept()
    {
        QFETCH(bool, insideEventLoop);
        TempInstallation install;
        ServedTree served;
        served.write("Data/f.dat", "x");
        GameUpdater updater;
        // Threads the toolkit starts once and keeps are not counted.
        updater.downloadFile(served.url("Data/f.dat"), "f.dat", 1, 1);
        QCoreApplication::processEvents();
        const int before = threadCount();

        int most = 0;
        const auto run = [&]() {
            for (int i = 0; i < 40; ++i) {
                updater.downloadFile(served.url("Data/f.dat"), "f.dat", 40, i + 1);
                most = qMax(most, threadCount());
            }
        };
        if (insideEventLoop) {
            QEventLoop loop;
            QTimer::singleShot(0, &loop, [&]() {
                run();
                loop.quit();
            });
            loop.exec();
        } else {
            run();
        }

        QVERIFY2(most <= before + 1, qPrintable(QStringLiteral("%1 threads at most, %2 before").arg(most).arg(before)));
        // The last one goes at the next turn of the event loop.
        QTRY_COMPARE(threadCount(), before);
        QCOMPARE(install.read("Data/f.dat"), QByteArray("x"));
    }
};

QTEST_MAIN(DownloadTest)
#include "tst_download.moc"
