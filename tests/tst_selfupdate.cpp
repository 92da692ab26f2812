// The launcher's swap of its own executable at the end of a run, and Repair.

#include "support/testenv.h"
#include "platform/dialogs.h"
#include "platform/lifecycle.h"
#include "updater/gameupdater.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using Behaviour = LoopbackHttpServer::Behaviour;

namespace {

const QString kExecutable = QStringLiteral("Zorvan Lumeth.exe");
const QString kNewBuild = QStringLiteral("Launcher_new.exe");
const QString kOldBuild = QStringLiteral("Launcher_old.exe");
const QString kMessage = QStringLiteral("A new launcher update is available. The program will restart.");
const QString kFinished = QStringLiteral("Update finished. You have the latest version.");
const QString kLatest = QStringLiteral("You have the latest version.");
const QString kVersionStatus = QStringLiteral("Downloading  version.txt...");
const QString kManifestStatus = QStringLiteral("Downloading  file_listing.xml...");
const QString kError004 = QStringLiteral("Download error (004). Local version available.");
const QString kError009 = QStringLiteral("Error in the update manifesto (009).");

// Stand-ins for the two launcher builds: each leaves a mark in its working
// directory when started.
const QByteArray kOldBytes = "#!/bin/sh\n: > started-by-old\n";
const QByteArray kNewBytes = "#!/bin/sh\n: > started-by-new\n";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Answers the message box at once and notes what the installation looked
// like at that moment.
class RecordingDialogs : public platform::Dialogs
{
public:
    struct Shown
    {
        QString text;
        QByteArray executable;
        bool newBuildThere;
        bool started;
        int statusesBefore;
    };

    QList<Shown> shown;
    const QSignalSpy *infos = nullptr;

    QString saveFileName(const QString &, const QString &, const QString &) override { return QString(); }
    QString openFileName(const QString &, const QString &, const QString &) override { return QString(); }
    void information(const QString &text) override
    {
        shown << Shown{text, readFile(kExecutable), QFile::exists(kNewBuild),
                       QFile::exists("started-by-old") || QFile::exists("started-by-new"),
                       infos ? int(infos->count()) : -1};
    }
};

struct RunResult
{
    QStringList statuses;
    QStringList requests;
    QStringList debug;
    bool quitRequested = false;
};

} // namespace

class SelfUpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }
    void init();
    void cleanup();

    void swapAtEndOfRun_data();
    void swapAtEndOfRun();
    void noNewBuildNoSwap_data();
    void noNewBuildNoSwap();
    void previousBuildRemovedFirst_data();
    void previousBuildRemovedFirst();
    void leftoverOldBuildBlocksSwap();

    void repairIntact();
    void repairDamaged_data();
    void repairDamaged();
    void repairWithUnwritableLocalVersion();

private:
    RunResult run(bool repair);

    RecordingDialogs m_dialogs;
};

void SelfUpdateTest::init()
{
    m_dialogs.shown.clear();
    platform::setDialogs(&m_dialogs);
}

void SelfUpdateTest::cleanup()
{
    platform::setDialogs(nullptr);
    m_dialogs.infos = nullptr;
    // A failed test may have left its quit request behind.
    if (lifecycle::quitRequested())
        clearQuitRequest();
}

RunResult SelfUpdateTest::run(bool repair)
{
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    m_dialogs.infos = &infos;
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
    m_dialogs.infos = nullptr;
    result.statuses = texts(infos);
    result.requests = updateServer().requests();
    result.quitRequested = lifecycle::quitRequested();
    if (result.quitRequested)
        clearQuitRequest();
    return result;
}

namespace {

enum class Road { EqualVersions, VersionCheckFails, Synchronised, Repair };

} // namespace

void SelfUpdateTest::swapAtEndOfRun_data()
{
    QTest::addColumn<int>("road");
    QTest::addColumn<QStringList>("statuses");
    const QStringList delivered = {kVersionStatus, kManifestStatus, "Downloading (100.00%) Launcher_new.exe...",
                                   kFinished};
    QTest::newRow("placed by hand, versions equal") << int(Road::EqualVersions)
                                                    << QStringList{kVersionStatus, kLatest, kFinished};
    QTest::newRow("placed by hand, run ends in 009") << int(Road::VersionCheckFails)
                                                     << QStringList{kVersionStatus, kError004, kError009};
    QTest::newRow("delivered by the synchronisation") << int(Road::Synchronised) << delivered;
    QTest::newRow("delivered by Repair") << int(Road::Repair) << delivered;
}

void SelfUpdateTest::swapAtEndOfRun()
{
    QFETCH(int, road);
    QFETCH(QStringList, statuses);
    TempInstallation install;
    ServedTree served;
    install.write(kExecutable, kOldBytes);
    install.write("localversion.txt", "2.0\n");
    served.write("version.txt", Road(road) == Road::Synchronised ? "3.0\n" : "2.0\n");
    if (Road(road) == Road::VersionCheckFails)
        updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
    served.write(kNewBuild, kNewBytes);
    served.write("file_listing.xml", manifestFor({{kNewBuild, kNewBytes}}));
    if (Road(road) == Road::EqualVersions || Road(road) == Road::VersionCheckFails)
        install.write(kNewBuild, kNewBytes);

    const RunResult result = run(Road(road) == Road::Repair);

    QCOMPARE(result.statuses, statuses);
    QVERIFY(result.quitRequested);
    QCOMPARE(install.read(kExecutable), kNewBytes);
    QCOMPARE(install.read(kOldBuild), kOldBytes);
    QVERIFY(!install.exists(kNewBuild));
    QCOMPARE(m_dialogs.shown.size(), 1);
    const RecordingDialogs::Shown &shown = m_dialogs.shown.first();
    QCOMPARE(shown.text, kMessage);
    // The box comes after the run's last status text and after the swap, and
    // the new build starts only once it is closed.
    QCOMPARE(shown.statusesBefore, statuses.size());
    QCOMPARE(shown.executable, kNewBytes);
    QVERIFY(!shown.newBuildThere);
    QVERIFY(!shown.started);
    QTRY_VERIFY_WITH_TIMEOUT(install.exists("started-by-new"), 10000);
    QVERIFY(!install.exists("started-by-old"));
}

void SelfUpdateTest::noNewBuildNoSwap_data()
{
    QTest::addColumn<int>("road");
    QTest::newRow("versions equal") << int(Road::EqualVersions);
    QTest::newRow("run ends in 009") << int(Road::VersionCheckFails);
    QTest::newRow("synchronised, no launcher listed") << int(Road::Synchronised);
    QTest::newRow("Repair, no launcher listed") << int(Road::Repair);
}

void SelfUpdateTest::noNewBuildNoSwap()
{
    QFETCH(int, road);
    TempInstallation install;
    ServedTree served;
    install.write(kExecutable, kOldBytes);
    install.write("localversion.txt", "2.0\n");
    served.write("version.txt", Road(road) == Road::Synchronised ? "3.0\n" : "2.0\n");
    if (Road(road) == Road::VersionCheckFails)
        updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
    served.write("Game.exe", "game");
    served.write("file_listing.xml", manifestFor({{"Game.exe", "game"}}));

    const RunResult result = run(Road(road) == Road::Repair);

    QVERIFY(!result.quitRequested);
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(install.read(kExecutable), kOldBytes);
    QVERIFY(!install.exists(kOldBuild));
    QVERIFY(!install.exists(kNewBuild));
    QVERIFY(!result.statuses.isEmpty());
}

void SelfUpdateTest::previousBuildRemovedFirst_data()
{
    QTest::addColumn<bool>("versionFails");
    QTest::newRow("versions equal") << false;
    QTest::newRow("version download fails") << true;
}

void SelfUpdateTest::previousBuildRemovedFirst()
{
    QFETCH(bool, versionFails);
    TempInstallation install;
    ServedTree served;
    install.write(kExecutable, kNewBytes);
    install.write(kOldBuild, kOldBytes);
    install.write("localversion.txt", "2.0\n");
    served.write("version.txt", "2.0\n");
    if (versionFails)
        updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
    QList<bool> oldBuildThere;
    auto hook = connect(&updateServer(), &LoopbackHttpServer::requestReceived, this, [&](const QString &path) {
        if (path == "/game/version.txt")
            oldBuildThere << QFile::exists(kOldBuild);
    });

    const RunResult result = run(false);
    disconnect(hook);

    QCOMPARE(result.requests.value(0), QString("/game/version.txt"));
    QCOMPARE(oldBuildThere, QList<bool>{false});
    QVERIFY(!install.exists(kOldBuild));
    QCOMPARE(install.read(kExecutable), kNewBytes);
    QVERIFY(!result.quitRequested);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void SelfUpdateTest::leftoverOldBuildBlocksSwap()
{
    TempInstallation install;
    ServedTree served;
    install.write(kExecutable, kOldBytes);
    install.write(kNewBuild, kNewBytes);
    install.write("localversion.txt", "2.0\n");
    served.write("version.txt", "2.0\n");
    // The clean-up has run when the version file is asked for; a build set
    // aside earlier that could not be deleted (its process still runs) is
    // there at the swap.
    const QByteArray stillRunning = "#!/bin/sh\n: > started-by-older\n";
    auto hook = connect(&updateServer(), &LoopbackHttpServer::requestReceived, this, [&](const QString &path) {
        if (path == "/game/version.txt")
            install.write(kOldBuild, stillRunning);
    });

    const RunResult blocked = run(false);
    disconnect(hook);
    const QList<RecordingDialogs::Shown> shownBlocked = m_dialogs.shown;
    const QByteArray executableBlocked = install.read(kExecutable);
    const QByteArray newBuildBlocked = install.read(kNewBuild);
    const QByteArray oldBuildBlocked = install.read(kOldBuild);
    // The same build restarts.
    QTRY_VERIFY_WITH_TIMEOUT(install.exists("started-by-old"), 10000);
    QFile::remove(install.absolute("started-by-old"));

    // The next run finds the leftover gone and swaps.
    m_dialogs.shown.clear();
    const RunResult swapped = run(false);

    QVERIFY(blocked.quitRequested);
    QCOMPARE(shownBlocked.size(), 1);
    QCOMPARE(shownBlocked.first().text, kMessage);
    QCOMPARE(executableBlocked, kOldBytes);
    QCOMPARE(newBuildBlocked, kNewBytes);
    QCOMPARE(oldBuildBlocked, stillRunning);

    QVERIFY(swapped.quitRequested);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(install.read(kExecutable), kNewBytes);
    QCOMPARE(install.read(kOldBuild), kOldBytes);
    QVERIFY(!install.exists(kNewBuild));
    QTRY_VERIFY_WITH_TIMEOUT(install.exists("started-by-new"), 10000);
}

namespace {

const QList<QPair<QString, QByteArray>> kGameFiles = {
    {"Game.exe", "game executable bytes"},
    {"Data/Map.dat", "map: 0123456789abcdef"},
    {"Data/Maps/Cave.map", "cave: fedcba9876543210"},
    {"Audio/theme.ogg", QByteArray("ogg\0theme\r\n", 11)},
};

void serveGame(const ServedTree &served, const QByteArray &version)
{
    served.write("version.txt", version);
    for (const auto &file : kGameFiles)
        served.write(file.first, file.second);
    served.write("file_listing.xml", manifestFor(kGameFiles));
}

} // namespace

void SelfUpdateTest::repairIntact()
{
    TempInstallation install;
    ServedTree served;
    serveGame(served, "2.0\n");
    for (const auto &file : kGameFiles)
        install.write(file.first, file.second);
    install.write("localversion.txt", "2.0\n");

    const RunResult result = run(true);

    QCOMPARE(result.statuses, (QStringList{kVersionStatus, kManifestStatus, kFinished}));
    QCOMPARE(result.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml"}));
    QStringList hashed;
    for (const auto &file : kGameFiles)
        hashed << "Vérification du hash de " + file.first << "Vérification du hash de " + file.first;
    QCOMPARE(result.debug.filter("Vérification du hash de "), hashed);
    for (const auto &file : kGameFiles)
        QCOMPARE(install.read(file.first), file.second);
    QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
    QVERIFY(!install.exists("version.txt"));
    QVERIFY(!result.quitRequested);
}

void SelfUpdateTest::repairDamaged_data()
{
    // One letter per game file, in manifest order: o intact, d deleted,
    // t truncated, f one byte flipped.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("downloads");
    QTest::newRow("one deleted") << "odoo" << QStringList{"Downloading (50.00%) Map.dat..."};
    QTest::newRow("one truncated") << "ooto" << QStringList{"Downloading (75.00%) Cave.map..."};
    QTest::newRow("one byte flipped") << "ooof" << QStringList{"Downloading (100.00%) theme.ogg..."};
    QTest::newRow("deleted, truncated and flipped")
        << "dotf"
        << QStringList{"Downloading (25.00%) Game.exe...", "Downloading (75.00%) Cave.map...",
                       "Downloading (100.00%) theme.ogg..."};
}

void SelfUpdateTest::repairDamaged()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, downloads);
    TempInstallation install;
    ServedTree served;
    serveGame(served, "2.0\n");
    install.write("localversion.txt", "2.0\n");
    QStringList fetched;
    for (int i = 0; i < kGameFiles.size(); ++i) {
        QByteArray local = kGameFiles.at(i).second;
        const QChar how = damage.at(i);
        if (how == 't')
            local.truncate(local.size() / 2);
        else if (how == 'f')
            local[local.size() / 2] = char(local.at(local.size() / 2) ^ 0x01);
        if (how != 'd')
            install.write(kGameFiles.at(i).first, local);
        if (how != 'o')
            fetched << "/game/" + kGameFiles.at(i).first;
    }

    const RunResult result = run(true);

    QCOMPARE(result.statuses, (QStringList{kVersionStatus, kManifestStatus} + downloads + QStringList{kFinished}));
    QCOMPARE(result.requests, (QStringList{"/game/version.txt", "/game/file_listing.xml"} + fetched));
    for (const auto &file : kGameFiles)
        QCOMPARE(install.read(file.first), file.second);
    QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
}

void SelfUpdateTest::repairWithUnwritableLocalVersion()
{
    // A file that is the image of a running program cannot be opened for
    // writing, not even by root. Its bytes serve as the version text.
    const QString sleeper = QStandardPaths::findExecutable("sleep");
    if (sleeper.isEmpty())
        QSKIP("no sleep program to hold the version file busy");
    TempInstallation install;
    ServedTree served;
    QVERIFY(QFile::copy(sleeper, install.absolute("localversion.txt")));
    QFile::setPermissions(install.absolute("localversion.txt"), QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray version = install.read("localversion.txt");
    served.write("version.txt", version);
    served.write("Game.exe", "game");
    served.write("file_listing.xml", manifestFor({{"Game.exe", "game"}}));

    QProcess holder;
    holder.start(install.absolute("localversion.txt"), {"60"});
    QVERIFY(holder.waitForStarted());
    QFile probe(install.absolute("localversion.txt"));
    const bool writable = probe.open(QIODevice::WriteOnly | QIODevice::Append);
    probe.close();
    if (writable) {
        holder.kill();
        holder.waitForFinished();
        QSKIP("the file system lets a running program's file be written");
    }

    const RunResult result = run(true);
    holder.kill();
    holder.waitForFinished();

    // The old content still equals the server's: nothing is synchronised.
    QCOMPARE(result.statuses, (QStringList{kVersionStatus, kLatest, kFinished}));
    QCOMPARE(result.requests, QStringList{"/game/version.txt"});
    QVERIFY(!install.exists("Game.exe"));
    QCOMPARE(install.read("localversion.txt"), version);
}

QTEST_MAIN(SelfUpdateTest)
#include "tst_selfupdate.moc"
