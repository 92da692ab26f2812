// Whole update runs against a server that breaks its connections: dropped
// in the middle of a body, announcing more bytes than it sends, stalling.
// nginx cannot be told to do that, so the loopback server plays it.

#include "e2e/installation.h"
#include "platform/lifecycle.h"
#include "updater/gameupdater.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QByteArray kOld = "map bytes of version 1";

QString dl(const QString &percent, const QString &name)
{
    return QStringLiteral("Downloading (") + percent + QStringLiteral("%) ") + name + QStringLiteral("...");
}

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }
    void brokenGameFileConnection_data();
    void brokenGameFileConnection();
    void stalledGameFileWaitsUntilReleased();
    void brokenVersionConnection();
};

void FaultsTest::brokenGameFileConnection_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::newRow("connection dropped mid-body") << int(Behaviour::DropMidBody);
    QTest::newRow("wrong length (short body)") << int(Behaviour::ShortBody);
}

void FaultsTest::brokenGameFileConnection()
{
    QFETCH(int, behaviour);
    TempInstallation install;
    IsolatedSettings settings;
    ServedTree served;
    const QByteArray map = patternBytes(400000, 3);
    const QByteArray exe = "game 2";
    served.write("version.txt", "2\n");
    served.write("Data/Map.dat", map);
    served.write("Game.exe", exe);
    served.write("file_listing.xml", manifestFor({{"Data/Map.dat", map}, {"Game.exe", exe}}));
    updateServer().setBehaviour("/game/Data/Map.dat", Behaviour(behaviour));
    install.write("Data/Map.dat", kOld);
    install.write("localversion.txt", "1\n");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();
    printf("BADINPUT| %s | %s | old file kept, other files fetched |\n", QTest::currentDataTag(),
           qPrintable(texts(infos).join(" / ")));
    fflush(stdout);

    QCOMPARE(texts(infos), (QStringList{"Downloading  version.txt...", "Downloading  file_listing.xml...",
                                        dl("50.00", "Map.dat"), "Download error (006). Local version available.",
                                        dl("100.00", "Game.exe"), "Update finished. You have the latest version."}));
    QCOMPARE(install.read("Data/Map.dat"), kOld);
    QCOMPARE(install.read("Game.exe"), exe);
    QCOMPARE(install.files(), (QStringList{"Data/Map.dat", "Game.exe", "file_listing.xml", "localversion.txt"}));
}

// The launcher has no time limit of its own: a stalled answer is waited for,
// with the window live, until the connection ends.
void FaultsTest::stalledGameFileWaitsUntilReleased()
{
    TempInstallation install;
    IsolatedSettings settings;
    ServedTree served;
    const QByteArray map = patternBytes(400000, 4);
    served.write("version.txt", "2\n");
    served.write("Data/Map.dat", map);
    served.write("file_listing.xml", manifestFor({{"Data/Map.dat", map}}));
    updateServer().setBehaviour("/game/Data/Map.dat", Behaviour::Stall);
    install.write("Data/Map.dat", kOld);
    install.write("localversion.txt", "1\n");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy progress(&updater, &GameUpdater::downloadP);
    int timerTicks = 0;
    QByteArray seenDuringStall;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start(50);
    QTimer::singleShot(1500, [&] {
        seenDuringStall = install.read("Data/Map.dat");
        updateServer().releaseStalled();
    });
    QElapsedTimer clock;
    clock.start();
    updater.checkUpdate();
    const qint64 waited = clock.elapsed();
    printf("BADINPUT| stalled game file (released after 1.5 s) | %s | old file kept |\n",
           qPrintable(texts(infos).join(" / ")));
    fflush(stdout);

    QVERIFY(waited >= 1400);
    QVERIFY2(timerTicks >= 10, "the event loop stopped during the wait");
    QVERIFY(!progress.isEmpty());
    QCOMPARE(seenDuringStall, kOld);
    QCOMPARE(texts(infos), (QStringList{"Downloading  version.txt...", "Downloading  file_listing.xml...",
                                        dl("100.00", "Map.dat"), "Download error (006). Local version available.",
                                        "Update finished. You have the latest version."}));
    QCOMPARE(install.read("Data/Map.dat"), kOld);
}

void FaultsTest::brokenVersionConnection()
{
    TempInstallation install;
    IsolatedSettings settings;
    ServedTree served;
    served.write("version.txt", QByteArray(200000, '2'));
    updateServer().setBehaviour("/game/version.txt", Behaviour::DropMidBody);
    install.write("localversion.txt", "1\n");

    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();
    printf("BADINPUT| version.txt connection dropped | %s | local version kept |\n",
           qPrintable(texts(infos).join(" / ")));
    fflush(stdout);

    QCOMPARE(texts(infos), (QStringList{"Downloading  version.txt...", "Download error (004). Local version available.",
                                        "Error in the update manifesto (009)."}));
    QCOMPARE(install.read("localversion.txt"), QByteArray("1\n"));
    QCOMPARE(install.files(), QStringList{"localversion.txt"});
}

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_e2e_faults.moc"
