// The launcher's swap of its own executable at the end of a run, the
// clean-up of the build it set aside, and Repair when the recorded version
// cannot be reset.

#include "support/testenv.h"
#include "platform/dialogs.h"
#include "platform/lifecycle.h"
#include "updater/gameupdater.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
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

// Stand-ins for the launcher builds: each leaves a mark in its working
// directory when started.
const QByteArray kOldBytes = "#!/bin/sh\n: > started-by-old\n";
const QByteArray kNewBytes = "#!/bin/sh\n: > started-by-new\n";
const QByteArray kOlderBytes = "#!/bin/sh\n: > started-by-older\n";

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
                       QFile::exists("started-by-old") || QFile::exists("started-by-new"), infos ? int(infos->count()) : -1};
    }
};

struct RunResult
{
    QStringList statuses;
    QStringList requests;
    bool quitRequested = false;
};

enum class Road { EqualVersions, VersionCheckFails, Synchronised, Repair };

} // namespace

class SelfUpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    void init()
    {
        m_dialogs.shown.clear();
        platform::setDialogs(&m_dialogs);
    }

    void cleanup()
    {
        platform::setDialogs(nullptr);
        m_dialogs.infos = nullptr;
        // A failed test may have left its quit request behind.
        if (lifecycle::quitRequested())
            clearQuitRequest();
    }

    // A new build placed by hand is swapped in whatever the run's outcome;
    // one delivered by the synchronisation or by Repair too. `leftover`: a
    // build set aside earlier, deleted before the version file is asked for
    // ("before"), or one that cannot be deleted because its process still
    // runs ("stays", written once the clean-up is over): then both renames
    // fail and the same build restarts, to swap at a later run.
    void swapAtEndOfRun_data()
    {
        QTest::addColumn<int>("road");
        QTest::addColumn<bool>("newBuild");
        QTest::addColumn<QString>("leftover");
        QTest::addColumn<QStringList>("statuses");
        const QStringList equal{kVersionStatus, kLatest, kFinished};
        const QStringList failed{kVersionStatus, "Download error (004). Local version available.", "Error in the update manifesto (009)."};
        const QStringList delivered{kVersionStatus, kManifestStatus, "Downloading (100.00%) Launcher_new.exe...", kFinished};
        const QStringList gameOnly{kVersionStatus, kManifestStatus, "Downloading (100.00%) Game.exe...", kFinished};
        QTest::newRow("placed by hand, versions equal") << int(Road::EqualVersions) << true << "" << equal;
        QTest::newRow("placed by hand, leftover deleted first") << int(Road::EqualVersions) << true << "before" << equal;
        QTest::newRow("placed by hand, leftover stays") << int(Road::EqualVersions) << true << "stays" << equal;
        QTest::newRow("placed by hand, run ends in 009") << int(Road::VersionCheckFails) << true << "" << failed;
        QTest::newRow("delivered by the synchronisation") << int(Road::Synchronised) << true << "" << delivered;
        QTest::newRow("delivered by Repair") << int(Road::Repair) << true << "" << delivered;
        QTest::newRow("none, versions equal, leftover deleted") << int(Road::EqualVersions) << false << "before" << equal;
        QTest::newRow("none, 009, leftover deleted") << int(Road::VersionCheckFails) << false << "before" << failed;
        QTest::newRow("none, synchronised") << int(Road::Synchronised) << false << "" << gameOnly;
        QTest::newRow("none, Repair") << int(Road::Repair) << false << "" << gameOnly;
    }

    void swapAtEndOfRun()
    {
        QFETCH(int, road);
        QFETCH(bool, newBuild);
        QFETCH(QString, leftover);
        QFETCH(QStringList, statuses);
        TempInstallation install;
        ServedTree served;
        install.write(kExecutable, kOldBytes);
        install.write("localversion.txt", "2.0\n");
        if (leftover == "before")
            install.write(kOldBuild, kOlderBytes);
        served.write("version.txt", Road(road) == Road::Synchronised ? "3.0\n" : "2.0\n");
        if (Road(road) == Road::VersionCheckFails)
            updateServer().setBehaviour("/game/version.txt", Behaviour::NotFound);
        const QString listed = newBuild ? kNewBuild : QString("Game.exe");
        served.write(listed, kNewBytes);
        served.write("file_listing.xml", manifestFor({{listed, kNewBytes}}));
        if (newBuild && (Road(road) == Road::EqualVersions || Road(road) == Road::VersionCheckFails))
            install.write(kNewBuild, kNewBytes);
        QList<bool> oldBuildThere;
        auto hook = connect(&updateServer(), &LoopbackHttpServer::requestReceived, this, [&](const QString &path) {
            if (path != "/game/version.txt")
                return;
            oldBuildThere << QFile::exists(kOldBuild);
            if (leftover == "stays")
                install.write(kOldBuild, kOlderBytes);
        });

        const RunResult result = run(Road(road) == Road::Repair);
        disconnect(hook);

        const bool blocked = leftover == "stays";
        const QByteArray executable = newBuild && !blocked ? kNewBytes : kOldBytes;
        QCOMPARE(result.statuses, statuses);
        QCOMPARE(oldBuildThere, QList<bool>{false});
        QCOMPARE(install.read(kExecutable), executable);
        QCOMPARE(install.exists(kNewBuild), blocked);
        QCOMPARE(install.read(kOldBuild), blocked ? kOlderBytes : newBuild ? kOldBytes : QByteArray());
        QCOMPARE(result.quitRequested, newBuild);
        QCOMPARE(m_dialogs.shown.size(), newBuild ? 1 : 0);
        if (!newBuild)
            return;
        const RecordingDialogs::Shown &shown = m_dialogs.shown.first();
        QCOMPARE(shown.text, kMessage);
        // The box comes after the run's last status text and after the swap,
        // and the launcher starts only once it is closed.
        QCOMPARE(shown.statusesBefore, statuses.size());
        QCOMPARE(shown.executable, executable);
        QCOMPARE(shown.newBuildThere, blocked);
        QVERIFY(!shown.started);
        QTRY_VERIFY_WITH_TIMEOUT(install.exists(blocked ? "started-by-old" : "started-by-new"), 10000);
        QVERIFY(!install.exists(blocked ? "started-by-new" : "started-by-old"));
    }

    // Repair cannot reset a version file that cannot be written: nothing is
    // reported, and the run compares its old content.
    void repairWithUnwritableLocalVersion()
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
        const auto stop = qScopeGuard([&] {
            holder.kill();
            holder.waitForFinished();
        });
        QFile probe(install.absolute("localversion.txt"));
        if (probe.open(QIODevice::WriteOnly | QIODevice::Append))
            QSKIP("the file system lets a running program's file be written");

        const RunResult result = run(true);

        QCOMPARE(result.statuses, (QStringList{kVersionStatus, kLatest, kFinished}));
        QCOMPARE(result.requests, QStringList{"/game/version.txt"});
        QVERIFY(!install.exists("Game.exe"));
        QCOMPARE(install.read("localversion.txt"), version);
    }

private:
    RunResult run(bool repair)
    {
        GameUpdater updater;
        QSignalSpy infos(&updater, &GameUpdater::infos);
        m_dialogs.infos = &infos;
        updateServer().clearRequests();
        if (repair)
            updater.forceUpdate();
        else
            updater.checkUpdate();
        m_dialogs.infos = nullptr;
        RunResult result{texts(infos), updateServer().requests(), lifecycle::quitRequested()};
        if (result.quitRequested)
            clearQuitRequest();
        return result;
    }

    RecordingDialogs m_dialogs;
};

QTEST_MAIN(SelfUpdateTest)
#include "tst_selfupdate.moc"
