// The real launcher killed (SIGKILL) at chosen points of a synchronisation
// against nginx, then started again: the installation must converge to the
// server's version, and no file that was good before may be left cut short.
//
// ZORVAN_KILL_POINTS=all runs every kill point (tools/reliability.sh does);
// by default a spread of 20 of them runs.

#include "e2e/installation.h"
#include "e2e/nginxserver.h"

#include <QTest>

namespace {

// Kill right after the `nth` debug line starting with `prefix` has been
// written, and `delayMs` later.
struct KillPoint
{
    QString prefix;
    int nth = 1;
    int delayMs = 0;

    QString describe() const
    {
        QString text = QStringLiteral("after \"%1\" #%2").arg(prefix.trimmed()).arg(nth);
        return delayMs ? text + QStringLiteral(" +%1 ms").arg(delayMs) : text;
    }
};

// The large file, first in the manifest's order, is sent at 4 MiB/s: about
// one second for its transfer.
const QString kBig = QStringLiteral("Data/Movies/intro.big");

PublishedGame installedVersion()
{
    PublishedGame game{QStringLiteral("1.0\n"), {{QStringLiteral("Game.exe"), patternBytes(200000, 100)}}};
    for (int i = 0; i < 8; ++i)
        game.files.insert(QStringLiteral("Data/part%1.dat").arg(i), patternBytes(20000 + i * 1000, 100 + i));
    game.files.insert(kBig, patternBytes(3 * 1024 * 1024, 150));
    return game;
}

PublishedGame serverVersion()
{
    PublishedGame game = installedVersion();
    game.version = QStringLiteral("2.0\n");
    game.files.insert(QStringLiteral("Game.exe"), patternBytes(210000, 200));
    for (int i = 0; i < 8; i += 2)
        game.files.insert(QStringLiteral("Data/part%1.dat").arg(i), patternBytes(25000 + i, 200 + i));
    game.files.insert(kBig, patternBytes(4 * 1024 * 1024, 250));
    game.files.insert(QStringLiteral("Data/New/deep/added.dat"), patternBytes(30000, 260));
    game.files.insert(QStringLiteral("Data/New/added2.dat"), patternBytes(5000, 261));
    return game;
}

QList<KillPoint> chosenKillPoints()
{
    QList<KillPoint> points;
    const QString download = QStringLiteral("Téléchargement de ");
    // Notes, version.txt, the manifest and eight game files.
    for (int n = 1; n <= 11; ++n)
        points << KillPoint{download, n, 0} << KillPoint{QStringLiteral("Ecriture de "), n, 0};
    // The large file is the first game download: in the middle of its
    // transfer at several depths, and right as it is written.
    for (int ms : {50, 200, 400, 700})
        points << KillPoint{download, 4, ms};
    points << KillPoint{QStringLiteral("Ecriture de ") + kBig, 1, 0};
    points << KillPoint{QStringLiteral("Chemin vers le fichier : ") + kBig, 1, 0};
    for (int n : {2, 7, 15, 21})
        points << KillPoint{QStringLiteral("Vérification du hash de "), n, 0};
    points << KillPoint{QStringLiteral("Comparaison de version"), 1, 0};
    points << KillPoint{QStringLiteral("LocalPath : Data/New/added2.dat"), 1, 0};
    if (qEnvironmentVariable("ZORVAN_KILL_POINTS") == QLatin1String("all"))
        return points;
    QList<KillPoint> spread;
    for (int i = 0; i < 20; ++i)
        spread << points.at(i * points.size() / 20);
    return spread;
}

bool holds(const FileMap &files, const QString &path, const QByteArray &content)
{
    return files.contains(path) && files.value(path) == content;
}

} // namespace

class KillRestartTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_nginx.stop(); }
    void killedSynchronisationsConverge();

private:
    NginxServer m_nginx;
};

void KillRestartTest::initTestCase()
{
    if (!NginxServer::available())
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorText()));
    m_nginx.publish(serverVersion());
}

void KillRestartTest::killedSynchronisationsConverge()
{
    const QList<KillPoint> points = chosenKillPoints();
    const FileMap before = installedVersion().files;
    const PublishedGame server = serverVersion();
    const QStringList bookkeeping{"localversion.txt", "version.txt", "file_listing.xml", "file_listing.php", patchNotesName()};
    int survived = 0;
    int corrupted = 0; // game files neither as before nor as the server has them
    int leftovers = 0; // files the launcher left that nobody listed
    for (const KillPoint &point : points) {
        QStringList notes;
        int broken = 0;
        Installation install;
        for (auto it = before.begin(); it != before.end(); ++it)
            install.write(it.key(), it.value());
        install.write(QStringLiteral("localversion.txt"), "1.0\n");
        {
            LauncherRun run(install, m_nginx.baseUrl());
            if (!run.start() || !run.waitUntil([&] { return run.count(point.prefix) >= point.nth; }, 60000))
                notes << QStringLiteral("kill point not reached");
            run.waitUntil([] { return false; }, point.delayMs);
            run.kill();
        }

        // Right after the kill: every game file is as it was or as the
        // server has it; the launcher's bookkeeping files are left aside.
        const FileMap afterKill = install.files();
        for (auto it = afterKill.begin(); it != afterKill.end(); ++it) {
            if (bookkeeping.contains(it.key()))
                continue;
            if (!before.contains(it.key()) && !server.files.contains(it.key())) {
                ++leftovers;
                notes << QStringLiteral("left over: ") + it.key();
            } else if (!holds(before, it.key(), it.value()) && !holds(server.files, it.key(), it.value())) {
                ++broken;
                notes << QStringLiteral("corrupted: %1 (%2 bytes)").arg(it.key()).arg(it.value().size());
            }
        }
        for (const QString &path : before.keys())
            if (!afterKill.contains(path)) {
                ++broken;
                notes << QStringLiteral("vanished: ") + path;
            }

        // Started again, the launcher finishes the job.
        {
            LauncherRun run(install, m_nginx.baseUrl());
            if (!run.start() || !run.waitForEndOfRun())
                notes << QStringLiteral("restart did not end");
        }
        const FileMap after = install.files();
        bool converged = holds(after, QStringLiteral("localversion.txt"), server.version.toUtf8());
        for (auto it = server.files.begin(); it != server.files.end(); ++it)
            if (!holds(after, it.key(), it.value())) {
                converged = false;
                notes << QStringLiteral("not converged: ") + it.key();
            }
        if (!install.besideInstallation().isEmpty()) {
            converged = false;
            notes << QStringLiteral("written beside the installation");
        }

        const bool ok = converged && broken == 0;
        survived += ok ? 1 : 0;
        corrupted += broken;
        printf("kill %-55s %s%s\n", qPrintable(point.describe()), ok ? "survived" : "FAILED",
               notes.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + notes.join(", ") + ")"));
    }
    printf("kills survived: %d/%d, files corrupted: %d, temporary files left over: %d\n", survived, int(points.size()),
           corrupted, leftovers);
    fflush(stdout);
    QVERIFY2(survived == points.size(), "see the FAILED kill points above");
}

QTEST_GUILESS_MAIN(KillRestartTest)
#include "tst_e2e_killrestart.moc"
