// Whole update runs against a server that breaks its connections: dropped
// in the middle of a body, announcing more bytes than it sends, stalling.
// nginx cannot be told to do that, so the loopback server plays it.

#include "e2e/installation.h"
#include "updater/gameupdater.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using Behaviour = LoopbackHttpServer::Behaviour;
Q_DECLARE_METATYPE(Behaviour)

namespace {

const QByteArray kOld = "map bytes of version 1";
const QByteArray kExe = "game 2";

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
    void brokenConnection_data();
    void brokenConnection();
};

void FaultsTest::brokenConnection_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("filesAfter");
    QTest::addColumn<QString>("disk");
    const QString v = QStringLiteral("Downloading  version.txt...");
    const QStringList mapFailed{v, QStringLiteral("Downloading  file_listing.xml..."), dl("50.00", "Map.dat"),
                                QStringLiteral("Download error (006). Local version available."), dl("100.00", "Game.exe"),
                                QStringLiteral("Update finished. You have the latest version.")};
    const QStringList synchronised{"Data/Map.dat", "Game.exe", "file_listing.xml", "localversion.txt"};
    const char *mapKept = "old file kept, other files fetched";
    QTest::newRow("connection dropped mid-body") << "Data/Map.dat" << Behaviour::DropMidBody << mapFailed << synchronised << mapKept;
    QTest::newRow("wrong length (short body)") << "Data/Map.dat" << Behaviour::ShortBody << mapFailed << synchronised << mapKept;
    // The launcher has no time limit of its own: a stalled answer is waited
    // for, with the event loop running, until the connection ends.
    QTest::newRow("stalled game file (released after 1.5 s)")
        << "Data/Map.dat" << Behaviour::Stall << mapFailed << synchronised << mapKept;
    QTest::newRow("version.txt connection dropped")
        << "version.txt" << Behaviour::DropMidBody
        << QStringList{v, "Download error (004). Local version available.", "Error in the update manifesto (009)."}
        << QStringList{"Data/Map.dat", "localversion.txt"} << "local version kept";
}

// A new version: Data/Map.dat and Game.exe changed; `path` misbehaves.
void FaultsTest::brokenConnection()
{
    QFETCH(QString, path);
    QFETCH(Behaviour, behaviour);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, filesAfter);
    QFETCH(QString, disk);
    TempInstallation install;
    IsolatedSettings settings;
    ServedTree served;
    const QByteArray map = patternBytes(400000, 3);
    served.write("version.txt", QByteArray(200000, '2'));
    served.write("Data/Map.dat", map);
    served.write("Game.exe", kExe);
    served.write("file_listing.xml", manifestFor({{"Data/Map.dat", map}, {"Game.exe", kExe}}));
    updateServer().setBehaviour(QStringLiteral("/game/") + path, behaviour);
    install.write("Data/Map.dat", kOld);
    install.write("localversion.txt", "1\n");

    // A stalled answer is released after 30 turns of the event loop's 50 ms
    // timer: so many turns show that the window stays live meanwhile.
    int ticks = 0;
    QByteArray mapWhileStalled;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        if (++ticks == 30 && behaviour == Behaviour::Stall) {
            mapWhileStalled = install.read("Data/Map.dat");
            updateServer().releaseStalled();
        }
    });
    ticker.start(50);
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    updater.checkUpdate();
    printf("BADINPUT| %s | %s | %s |\n", QTest::currentDataTag(), qPrintable(texts(infos).join(" / ")), qPrintable(disk));
    fflush(stdout);

    QCOMPARE(texts(infos), expected);
    QCOMPARE(install.read("Data/Map.dat"), kOld);
    QCOMPARE(install.files(), filesAfter);
    QCOMPARE(install.read("Game.exe"), filesAfter.contains("Game.exe") ? kExe : QByteArray());
    QCOMPARE(install.read("localversion.txt"), path == "version.txt" ? QByteArray("1\n") : QByteArray(200000, '2'));
    QCOMPARE(mapWhileStalled, behaviour == Behaviour::Stall ? kOld : QByteArray());
}

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_e2e_faults.moc"
