// The two synchronous downloads against a real HTTP server on 127.0.0.1.

#include "support/testenv.h"
#include "platform/lifecycle.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;

class DownloadTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    void plainDownloadStoresBody_data();
    void plainDownloadStoresBody();
    void failureLeavesFileUntouched_data();
    void failureLeavesFileUntouched();
    void gameFileDownloadTextsAndDirectories_data();
    void gameFileDownloadTextsAndDirectories();
    void gameFileFailureCreatesNothing();
    void unwritableDestination_data();
    void unwritableDestination();
    void progressIsRelayed();
    void quitDuringWaitWritesNothing();
    void destinationOutsideInstallationIsRefused();
    void managersAreNotKept_data();
    void managersAreNotKept();
};

namespace {

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

void DownloadTest::plainDownloadStoresBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("behaviour");
    QTest::newRow("plain") << QByteArray("1.4\r\n") << int(Behaviour::Serve);
    QTest::newRow("empty body truncates") << QByteArray() << int(Behaviour::Serve);
    QTest::newRow("no length") << QByteArray(70000, 'x') << int(Behaviour::NoLength);
    QTest::newRow("binary") << QByteArray("\0\1\2\xff\r\n", 6) << int(Behaviour::Serve);
    QTest::newRow("redirect followed") << QByteArray("2.0\n") << int(Behaviour::Redirect);
}

void DownloadTest::plainDownloadStoresBody()
{
    QFETCH(QByteArray, body);
    QFETCH(int, behaviour);
    TempInstallation install;
    ServedTree served;
    if (Behaviour(behaviour) == Behaviour::Redirect) {
        served.write("moved/elsewhere.txt", body);
        updateServer().setBehaviour("/game/version.txt", Behaviour::Redirect, "/game/moved/elsewhere.txt");
    } else {
        served.write("version.txt", body);
        updateServer().setBehaviour("/game/version.txt", Behaviour(behaviour));
    }
    install.write("version.txt", "an older and longer version text");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    DebugCapture debug;
    updater.downloadFile(served.url("version.txt"));

    QCOMPARE(texts(infos), QStringList{"Downloading  version.txt..."});
    QCOMPARE(playOk.count(), 0);
    QCOMPARE(install.read("version.txt"), body);
    QCOMPARE(debug.lines(), (QStringList{"Téléchargement de " + served.url("version.txt"), "Ecriture de version.txt"}));
    QCOMPARE(install.files(), QStringList{"version.txt"});
}

void DownloadTest::failureLeavesFileUntouched_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("error");
    const QString network = "Download error (004). Local version available.";
    QTest::newRow("404") << int(Behaviour::NotFound) << network;
    QTest::newRow("500") << int(Behaviour::ServerError) << network;
    QTest::newRow("redirect loop") << int(Behaviour::RedirectLoop) << network;
    QTest::newRow("dropped mid-body") << int(Behaviour::DropMidBody) << network;
    QTest::newRow("short body") << int(Behaviour::ShortBody) << network;
}

void DownloadTest::failureLeavesFileUntouched()
{
    QFETCH(int, behaviour);
    QFETCH(QString, error);
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", QByteArray(300000, 'n'));
    updateServer().setBehaviour("/game/version.txt", Behaviour(behaviour));
    const QByteArray old = "1.3\n";
    install.write("version.txt", old);

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.downloadFile(served.url("version.txt"));

    QCOMPARE(texts(infos), (QStringList{"Downloading  version.txt...", error}));
    QCOMPARE(playOk.count(), 1);
    QCOMPARE(playOk.at(0).at(0).toBool(), true);
    QCOMPARE(install.read("version.txt"), old);
    QCOMPARE(install.files(), QStringList{"version.txt"});
}

void DownloadTest::gameFileDownloadTextsAndDirectories_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("done");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("debug");
    QTest::newRow("nested, 3 of 8") << "Data/Maps/Map 01.dat" << 8.0 << 3.0 << "Downloading (37.50%) Map 01.dat..."
                                    << QStringList{"Vérification de : Data/Maps/", "Création du dossier : Data/Maps/",
                                                   "Chemin vers le fichier : Data/Maps/Map 01.dat",
                                                   "Ecriture de Data/Maps/Map 01.dat"};
    QTest::newRow("top level, 1 of 1") << "Game.exe" << 1.0 << 1.0 << "Downloading (100.00%) Game.exe..."
                                       << QStringList{"Vérification de : ", "Chemin vers le fichier : Game.exe",
                                                      "Ecriture de Game.exe"};
    QTest::newRow("accented name, 1 of 3") << "Données/é.txt" << 3.0 << 1.0 << "Downloading (33.33%) é.txt..."
                                           << QStringList{"Vérification de : Données/", "Création du dossier : Données/",
                                                          "Chemin vers le fichier : Données/é.txt",
                                                          "Ecriture de Données/é.txt"};
}

void DownloadTest::gameFileDownloadTextsAndDirectories()
{
    QFETCH(QString, relative);
    QFETCH(double, total);
    QFETCH(double, done);
    QFETCH(QString, status);
    QFETCH(QStringList, debug);
    TempInstallation install;
    ServedTree served;
    const QByteArray body = "game file bytes " + relative.toUtf8();
    served.write(relative, body);

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    DebugCapture capture;
    updater.downloadFile(served.url(relative), relative.section('/', -1), total, done);

    QCOMPARE(texts(infos), QStringList{status});
    QCOMPARE(playOk.count(), 0);
    QCOMPARE(install.read(relative), body);
    QCOMPARE(capture.lines(), QStringList{"Téléchargement de " + served.url(relative)} + debug);
}

void DownloadTest::gameFileFailureCreatesNothing()
{
    TempInstallation install;
    ServedTree served;
    updateServer().setBehaviour("/game/Data/Deep/gone.dat", Behaviour::NotFound);

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    updater.downloadFile(served.url("Data/Deep/gone.dat"), "gone.dat", 4, 2);

    QCOMPARE(texts(infos), (QStringList{"Downloading (50.00%) gone.dat...", "Download error (006). Local version available."}));
    QCOMPARE(playOk.count(), 1);
    QVERIFY(!install.exists("Data"));
}

void DownloadTest::unwritableDestination_data()
{
    QTest::addColumn<bool>("gameFile");
    QTest::addColumn<QString>("error");
    QTest::newRow("plain, 005") << false << "Error when opening file (005). Local version available.";
    QTest::newRow("game file, 007") << true << "Error when opening file (007). Local version available.";
}

void DownloadTest::unwritableDestination()
{
    QFETCH(bool, gameFile);
    QFETCH(QString, error);
    TempInstallation install;
    ServedTree served;
    served.write("Data/file.dat", "new");
    // A directory where the file should go cannot be opened as the file.
    QDir().mkpath(install.absolute("Data/file.dat"));
    install.write("Data/file.dat/keep", "kept");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    if (gameFile)
        updater.downloadFile(served.url("Data/file.dat"), "file.dat", 1, 1);
    else
        updater.downloadFile(served.url("Data/file.dat"));

    QCOMPARE(infos.count(), 2);
    QCOMPARE(infos.at(1).at(0).toString(), error);
    QCOMPARE(playOk.count(), 1);
    QCOMPARE(install.read("Data/file.dat/keep"), QByteArray("kept"));
}

void DownloadTest::progressIsRelayed()
{
    TempInstallation install;
    ServedTree served;
    const QByteArray body(3 * 1024 * 1024 + 17, 'p');
    served.write("big.bin", body);

    GameUpdater updater;
    QSignalSpy progress(&updater, &GameUpdater::downloadP);
    updater.downloadFile(served.url("big.bin"), "big.bin", 1, 1);

    QVERIFY(!progress.isEmpty());
    const QList<QVariant> last = progress.last();
    QCOMPARE(last.at(0).toLongLong(), qint64(body.size()));
    QCOMPARE(last.at(1).toLongLong(), qint64(body.size()));
    QCOMPARE(install.read("big.bin"), body);
}

void DownloadTest::quitDuringWaitWritesNothing()
{
    TempInstallation install;
    ServedTree served;
    served.write("version.txt", QByteArray(200000, 'v'));
    updateServer().setBehaviour("/game/version.txt", Behaviour::Stall);
    install.write("version.txt", "old");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    // The player quits while the reply is still arriving.
    QTimer::singleShot(300, qApp, &QCoreApplication::quit);
    updater.downloadFile(served.url("version.txt"));
    updateServer().releaseStalled();
    const bool noted = lifecycle::quitRequested();
    clearQuitRequest();

    QVERIFY(noted);
    QCOMPARE(texts(infos), (QStringList{"Downloading  version.txt...", "Download interrupted (004). Local version available."}));
    QCOMPARE(playOk.count(), 1);
    QCOMPARE(install.read("version.txt"), QByteArray("old"));
}

void DownloadTest::destinationOutsideInstallationIsRefused()
{
    TempInstallation install;
    ServedTree served;
    // What the server answers for the climbing URL once it is normalised.
    updateServer().setContent("/escape/x.dat", "x");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    // A directory part that climbs out of the installation is neither
    // created nor written to.
    updater.downloadFile(updateServer().url() + "../../escape/x.dat", "x.dat", 1, 1);

    QCOMPARE(infos.last().at(0).toString(), QString("Error when opening file (007). Local version available."));
    QVERIFY(!QFileInfo::exists(install.absolute("../../escape")));
    QVERIFY(!QFileInfo::exists(install.absolute("../escape")));
}

void DownloadTest::managersAreNotKept_data()
{
    QTest::addColumn<bool>("insideEventLoop");
    QTest::newRow("called directly, as at start-up") << false;
    QTest::newRow("from a running event loop, as Repair") << true;
}

// Every manager runs a network thread until it is disposed of. A run of many
// downloads (a Repair goes through thousands of files) must not keep them,
// whether it runs before the main event loop or inside it.
void DownloadTest::managersAreNotKept()
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

QTEST_MAIN(DownloadTest)
#include "tst_download.moc"
