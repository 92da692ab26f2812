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

struct Outcome
{
    int corrupted = 0;     // files neither as before nor as the server has them
    int leftovers = 0;     // files the launcher left that nobody listed
    bool converged = false;
    QStringList notes;
};

const QString kBig = QStringLiteral("Data/Movies/intro.big");

PublishedGame installedVersion()
{
    PublishedGame game;
    game.version = QStringLiteral("1.0\n");
    game.files << qMakePair(QStringLiteral("Game.exe"), patternBytes(200000, 100));
    for (int i = 0; i < 8; ++i)
        game.files << qMakePair(QStringLiteral("Data/part%1.dat").arg(i), patternBytes(20000 + i * 1000, 100 + i));
    game.files << qMakePair(kBig, patternBytes(3 * 1024 * 1024, 150));
    return game;
}

PublishedGame serverVersion()
{
    PublishedGame game = installedVersion();
    game.version = QStringLiteral("2.0\n");
    game.set(QStringLiteral("Game.exe"), patternBytes(210000, 200));
    for (int i = 0; i < 8; i += 2)
        game.set(QStringLiteral("Data/part%1.dat").arg(i), patternBytes(25000 + i, 200 + i));
    game.set(kBig, patternBytes(4 * 1024 * 1024, 250));
    game.set(QStringLiteral("Data/New/deep/added.dat"), patternBytes(30000, 260));
    game.set(QStringLiteral("Data/New/added2.dat"), patternBytes(5000, 261));
    return game;
}

QList<KillPoint> allKillPoints()
{
    QList<KillPoint> points;
    const QString download = QStringLiteral("Téléchargement de ");
    const QString write = QStringLiteral("Ecriture de ");
    // Notes, version.txt, the manifest and eight game files.
    for (int n = 1; n <= 11; ++n)
        points << KillPoint{download, n, 0};
    for (int n = 1; n <= 11; ++n)
        points << KillPoint{write, n, 0};
    // The large file is the sixth game download: in the middle of its
    // transfer at several depths, and right as it is written.
    for (int ms : {50, 200, 400, 700})
        points << KillPoint{download, 9, ms};
    points << KillPoint{QStringLiteral("Ecriture de ") + kBig, 1, 0};
    points << KillPoint{QStringLiteral("Chemin vers le fichier : ") + kBig, 1, 0};
    for (int n : {2, 7, 15, 21})
        points << KillPoint{QStringLiteral("Vérification du hash de "), n, 0};
    points << KillPoint{QStringLiteral("Comparaison de version"), 1, 0};
    points << KillPoint{QStringLiteral("LocalPath : Data/New/added2.dat"), 1, 0};
    return points;
}

QList<KillPoint> chosenKillPoints()
{
    const QList<KillPoint> all = allKillPoints();
    if (qEnvironmentVariable("ZORVAN_KILL_POINTS") == QLatin1String("all"))
        return all;
    QList<KillPoint> spread;
    for (int i = 0; i < 20; ++i)
        spread << all.at(i * all.size() / 20);
    return spread;
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
    Outcome killAndRestart(const KillPoint &point);

    NginxServer m_nginx;
};

void KillRestartTest::initTestCase()
{
    if (!NginxServer::available())
        QSKIP("nginx is not installed (apt-get install nginx-light)");
    // About one second for the large file.
    m_nginx.setBigFileRate(QStringLiteral("4m"));
    QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorText()));
    publish(m_nginx.gameDir(), serverVersion());
}

Outcome KillRestartTest::killAndRestart(const KillPoint &point)
{
    Outcome outcome;
    const PublishedGame before = installedVersion();
    const PublishedGame server = serverVersion();
    Installation install;
    for (const auto &file : before.files)
        install.write(file.first, file.second);
    install.write(QStringLiteral("localversion.txt"), before.version.toUtf8());
    install.write(QStringLiteral("file_listing.php"), "x");
    const FileMap beforeFiles = install.files();

    {
        LauncherRun run(install, m_nginx.baseUrl());
        if (!run.start()) {
            outcome.notes << QStringLiteral("did not start");
            return outcome;
        }
        const bool reached = run.waitUntil([&] { return run.count(point.prefix) >= point.nth; }, 60000);
        if (!reached)
            outcome.notes << QStringLiteral("kill point not reached");
        if (point.delayMs)
            run.waitUntil([] { return false; }, point.delayMs);
        run.kill();
    }

    // Right after the kill: every file is as it was or as the server has it.
    const FileMap serverFiles = server.asMap();
    const FileMap afterKill = install.files();
    for (auto it = afterKill.begin(); it != afterKill.end(); ++it) {
        const QString &path = it.key();
        const bool asBefore = beforeFiles.contains(path) && beforeFiles.value(path) == it.value();
        const bool asServer = serverFiles.contains(path) && serverFiles.value(path) == it.value();
        const bool bookkeeping = path == QLatin1String("localversion.txt") || path == QLatin1String("version.txt")
            || path == QLatin1String("file_listing.xml") || path == QLatin1String("file_listing.php")
            || path == QString::fromUtf8(patchNotesName());
        if (bookkeeping)
            continue;
        if (!beforeFiles.contains(path) && !serverFiles.contains(path)) {
            ++outcome.leftovers;
            outcome.notes << QStringLiteral("left over: ") + path;
        } else if (!asBefore && !asServer) {
            ++outcome.corrupted;
            outcome.notes << QStringLiteral("corrupted: %1 (%2 bytes)").arg(path).arg(it.value().size());
        }
    }
    for (auto it = beforeFiles.begin(); it != beforeFiles.end(); ++it)
        if (!afterKill.contains(it.key()) && it.key() != QLatin1String("localversion.txt")
            && it.key() != QLatin1String("file_listing.php")) {
            ++outcome.corrupted;
            outcome.notes << QStringLiteral("vanished: ") + it.key();
        }

    // Started again, the launcher finishes the job.
    install.write(QStringLiteral("file_listing.php"), "x");
    {
        LauncherRun run(install, m_nginx.baseUrl());
        if (!run.start() || !run.waitForEndOfRun(60000))
            outcome.notes << QStringLiteral("restart did not end");
        run.stop();
    }
    outcome.converged = install.read(QStringLiteral("localversion.txt")) == server.version.toUtf8();
    for (const auto &file : server.files)
        if (install.read(file.first) != file.second || !install.exists(file.first)) {
            outcome.converged = false;
            outcome.notes << QStringLiteral("not converged: ") + file.first;
        }
    if (!install.besideInstallation().isEmpty())
        outcome.notes << QStringLiteral("written beside the installation");
    return outcome;
}

void KillRestartTest::killedSynchronisationsConverge()
{
    const QList<KillPoint> points = chosenKillPoints();
    int survived = 0;
    int corrupted = 0;
    int leftovers = 0;
    QStringList problems;
    for (const KillPoint &point : points) {
        const Outcome outcome = killAndRestart(point);
        corrupted += outcome.corrupted;
        leftovers += outcome.leftovers;
        const bool ok = outcome.converged && outcome.corrupted == 0;
        survived += ok ? 1 : 0;
        printf("kill %-55s %s%s\n", qPrintable(point.describe()), ok ? "survived" : "FAILED",
               outcome.notes.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + outcome.notes.join(", ") + ")"));
        if (!ok)
            problems << point.describe() + QStringLiteral(": ") + outcome.notes.join(QStringLiteral(", "));
    }
    printf("kills survived: %d/%d, files corrupted: %d, temporary files left over: %d\n", survived,
           int(points.size()), corrupted, leftovers);
    fflush(stdout);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
    QCOMPARE(survived, int(points.size()));
}

QTEST_GUILESS_MAIN(KillRestartTest)
#include "tst_e2e_killrestart.moc"
