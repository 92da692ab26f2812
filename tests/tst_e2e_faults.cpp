// Every file-system call of a synchronisation, of the swap of the launcher's
// own executable and of each save operation, made to fail in turn by the
// preloaded fault injector (tools/faultinject). One run per call: after the
// faulty run every file is as it was or as it should become, nothing is
// left beside it, nothing is written outside the installation and the
// status texts are the launcher's own; after a restart without faults (and
// Repair, when the faulty run reported a file it could not store) the
// installation is as the server has it.
//
// By default a sample is tried: every ZORVAN_SWEEP_STEP-th call (5 unless
// set) and every call that writes, flushes, names or removes a file;
// ZORVAN_SWEEP_STEP=1 tries them all (tools/reliability.sh --sweep). Each
// flow prints its figure.

#include "support/e2e.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>

using namespace e2e;

namespace {

const QString kExe = QStringLiteral("Zorvan Lumeth.exe");
const QByteArray kOldBuild = "#!/bin/sh\n# launcher build 1\nexit 0\n";
const QByteArray kNewBuild = "#!/bin/sh\n# launcher build 2\nexit 0\n";
const char *const kErrnos[] = {"EIO", "ENOSPC", "EACCES"};

// What one driver run left: its status texts and the injector's figures.
struct DriverRun
{
    bool ended = false;
    int exitCode = -1;
    QStringList texts;
    int callCount = 0;
    int writtenOutside = 0;
    QString failedCall; // "N call path FAILED", from the trace
    QStringList calls;  // "call path", in order
};

// One flow of the sweep: the installation before, the player's action, what
// the installation holds once the action has succeeded, and the status
// texts the faulty runs may show.
struct Flow
{
    FileMap served; // below the base URL
    FileMap before;
    QStringList action;
    FileMap after;
    // Patterns of every status text a faulty run may show.
    QStringList texts;
    // The save operations' text of success: they must then have made their
    // change to `target`, and must not otherwise.
    QString success;
    QString target;
    bool update = false;
};

QStringList exact(const QStringList &texts)
{
    QStringList patterns;
    for (const QString &text : texts)
        patterns << QRegularExpression::escape(text);
    return patterns;
}

// The images of an installation, so that the window finds them.
void addImages(FileMap &files)
{
    for (const QString name : {"launcher_icon.png", "splash.png", "icon_site_hover.png", "icon_wiki_hover.png", "icon_discord_hover.png"}) {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        files.insert(name, buffer.data());
    }
}

// The installation's files. The build that a swap set aside stays until the
// next run; a Repair swaps again and sets the new build aside. Either is
// left out.
FileMap readTree(const Installation &install)
{
    FileMap files = install.files();
    const QByteArray aside = files.value("Launcher_old.exe");
    if (aside == kOldBuild || aside == kNewBuild)
        files.remove("Launcher_old.exe");
    return files;
}

} // namespace

class FaultSweepTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_server.kill(), m_server.waitForFinished(); }
    void sweep_data();
    void sweep();

private:
    Flow flow(const QString &name) const;
    DriverRun drive(const QString &install, const QStringList &action, int failAt);

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_baseUrl;
    int m_step = 5;
};

void FaultSweepTest::initTestCase()
{
#ifndef ZORVAN_FAULTINJECT
    QSKIP("the fault injector is built on Linux only, and not with the sanitizers");
#else
    m_step = qMax(1, qEnvironmentVariableIntValue("ZORVAN_SWEEP_STEP"));
    if (qEnvironmentVariableIsEmpty("ZORVAN_SWEEP_STEP"))
        m_step = 5;
    QDir().mkpath(m_dir.filePath("www"));
    m_server.start(QStringLiteral(ZORVAN_SERVE), {m_dir.filePath("www"), "0", "/game/"});
    QVERIFY(m_server.waitForReadyRead(10000));
    m_baseUrl = QString::fromLatin1(m_server.readLine()).trimmed();
    QVERIFY(m_baseUrl.startsWith("http://127.0.0.1:"));
#endif
}

void FaultSweepTest::sweep_data()
{
    QTest::addColumn<QString>("name");
    for (const QString name : {"synchronisation", "self-update swap", "backup", "import", "external import", "removal", "game start"})
        QTest::newRow(qPrintable(name)) << name;
}

Flow FaultSweepTest::flow(const QString &name) const
{
    Flow f;
    addImages(f.before);
    f.before.insert(kExe, kOldBuild);
    f.before.insert("Saves/Zorvan_Party-1", "the party as it is now");
    f.before.insert("Saves/Backup/before the boss", "a backup of the party");
    f.before.insert("localversion.txt", "2.0\n");
    // The patch notes, fetched by every update run and while the window is
    // built.
    f.served = release("2.0\n", {});
    f.served.remove("file_listing.xml");
    f.update = name == "synchronisation" || name == "self-update swap";
    if (name == "synchronisation") {
        // Version 2.0 changes some files, adds a nested one, a large one and
        // a new launcher build, and keeps others.
        f.before.insert("localversion.txt", "1.0\n");
        f.before.insert(kNotes, "<b>Version 1.0</b>");
        f.before.insert("Game.exe", "game 1.0");
        f.before.insert("Data/Movies/intro.big", QByteArray(1 << 20, 'b'));
        f.before.insert("Data/kept.dat", "the same in both versions");
        f.before.insert("Data/changed.dat", "changed in 2.0");
        const FileMap game{{"Game.exe", "game 2.0"},
                           {"Data/Movies/intro.big", QByteArray(3 << 20, 'B')},
                           {"Data/kept.dat", "the same in both versions"},
                           {"Data/changed.dat", "now 2.0"},
                           {"Data/New/deep/added.dat", "added in 2.0"},
                           {"Launcher_new.exe", kNewBuild}};
        f.served = release("2.0\n", game);
        f.after = f.before;
        f.after.insert(synchronised("2.0\n", game));
    } else if (name == "self-update swap") {
        // A new build placed by hand; the versions are equal.
        f.before.insert("Launcher_new.exe", kNewBuild);
        f.before.insert(kNotes, f.served.value(kNotes));
        f.after = f.before;
    }
    if (f.update) {
        f.action = QStringList{"sync"};
        f.after.insert(kExe, f.after.take("Launcher_new.exe"));
        f.texts = QStringList{"Downloading  (version\\.txt|file_listing\\.xml)\\.\\.\\.", "Downloading \\(\\d+\\.\\d\\d%\\) [^/]+\\.\\.\\.",
                              "message\\|A new launcher update is available\\. The program will restart\\."}
            + exact({"Error when opening file (005). Local version available.", "Error when writing file (005). Local version available.",
                     "Error when opening file (007). Local version available.", "Error when writing file (007). Local version available.",
                     "Error in the update manifesto (009).", "Error in the update manifesto. (010)", "You have the latest version.",
                     "Update finished. You have the latest version."});
        return f;
    }

    // The save operations: (action, the file it changes, its content after
    // or null when removed, the text of success, those of failure).
    const QByteArray party = f.before.value("Saves/Zorvan_Party-1"), backup = f.before.value("Saves/Backup/before the boss");
    struct Save
    {
        QStringList action;
        QString target;
        QByteArray after;
        QString success;
        QStringList failures;
    };
    const QMap<QString, Save> saves{
        {"backup",
         {{"backup", "before the boss"},
          "Saves/Backup/before the boss",
          party,
          "Save successfully exported.",
          {"Unable to export save file. (Error 002)", "Unable to export save file. (Error 001)"}}},
        {"import",
         {{"import", "Saves/Backup/before the boss"},
          "Saves/Zorvan_Party-1",
          backup,
          "Save successfully imported.",
          {"Unable to import save file. (Error 002)", "Unable to import save file. (Error 001)"}}},
        {"external import",
         {{"importext", m_dir.filePath("external save")},
          "Saves/Zorvan_Party-1",
          "a save from elsewhere",
          "Save successfully imported.",
          {"Unable to import save file. (Error 2)", "Unable to import save file. (Error 001)"}}},
        // The absolute path is added per run.
        {"removal",
         {{"remove"}, "Saves/Backup/before the boss", {}, "Save succesfully removed.", {"Unable to remove save file. (Error 003)"}}},
        // The graphics mode "x2" rewrites the game's options file; the game
        // start has no text of its own.
        {"game start", {{"play"}, ".gameopts", "--scale=2", {}, {}}}};
    const Save save = saves.value(name);
    if (name == "game start")
        f.before.insert("Game.exe", "#!/bin/sh\nexit 0\n"), f.before.insert(".gameopts", "--fullscreen");
    f.action = save.action;
    f.target = save.target;
    f.success = save.success;
    f.after = f.before;
    if (save.after.isNull())
        f.after.remove(f.target);
    else
        f.after.insert(f.target, save.after);
    f.after.insert(kNotes, f.served.value(kNotes));
    f.texts = exact(QStringList{save.success} + save.failures);
    return f;
}

DriverRun FaultSweepTest::drive(const QString &install, const QStringList &action, int failAt)
{
    DriverRun run;
#ifdef ZORVAN_FAULTINJECT
    QTemporaryDir side;
    const QProcessEnvironment env =
        environment(side.path(), m_baseUrl,
                    {"LD_PRELOAD=" ZORVAN_FAULTINJECT, "ZORVAN_FAULT_ALLOW=" + side.path(),
                     "ZORVAN_FAULT_COUNT_FILE=" + side.filePath("count"), "ZORVAN_FAULT_TRACE=" + side.filePath("trace"),
                     "ZORVAN_FAULT_AT=" + QString::number(failAt), QString("ZORVAN_FAULT_ERRNO=") + kErrnos[qMax(failAt, 0) % 3]});
    QProcess driver;
    driver.setProcessEnvironment(env);
    driver.setWorkingDirectory(install);
    driver.setStandardErrorFile(QProcess::nullDevice());
    driver.start(QStringLiteral(ZORVAN_FAULTDRIVER), action);
    run.ended = driver.waitForFinished(60000) && driver.exitStatus() == QProcess::NormalExit;
    if (!run.ended)
        driver.kill(), driver.waitForFinished();
    run.exitCode = driver.exitCode();
    run.texts = QString::fromUtf8(driver.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QList<QByteArray> figures = readFile(side.filePath("count")).simplified().split(' ');
    run.callCount = figures.value(0).toInt();
    run.writtenOutside = figures.value(1).toInt();
    for (const QByteArray &line : readFile(side.filePath("trace")).split('\n')) {
        if (line.endsWith(" FAILED"))
            run.failedCall = QString::fromUtf8(line).replace(install + '/', QString());
        if (!line.isEmpty() && line.at(0) >= '0' && line.at(0) <= '9')
            run.calls << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        if (line.startsWith("outside "))
            run.failedCall += " [" + QString::fromUtf8(line) + "]";
    }
#else
    Q_UNUSED(install)
    Q_UNUSED(action)
    Q_UNUSED(failAt)
#endif
    return run;
}

void FaultSweepTest::sweep()
{
    QFETCH(QString, name);
    const Flow f = flow(name);
    QDir(m_dir.filePath("www")).removeRecursively();
    writeTree(m_dir.filePath("www"), f.served);
    writeFile(m_dir.filePath("external save"), "a save from elsewhere");
    const auto actionIn = [&](const Installation &install) {
        return f.action == QStringList{"remove"} ? f.action + QStringList{install.file("Saves/Backup/before the boss")} : f.action;
    };

    // The clean run: how many calls there are, and that it does the job.
    const Installation cleanInstall(f.before);
    const DriverRun clean = drive(cleanInstall.path(), actionIn(cleanInstall), -1);
    QVERIFY2(clean.ended && clean.exitCode == 0, "the driver did not end normally");
    QVERIFY(clean.callCount > 0 && clean.callCount == clean.calls.size());
    if (!f.success.isEmpty())
        QCOMPARE(clean.texts, QStringList{f.success});
    QCOMPARE(differences(readTree(cleanInstall), f.after), QStringList());

    const QRegularExpression known("^(" + f.texts.join('|') + ")$");
    int tried = 0, converged = 0, lost = 0, outside = 0;
    QStringList failures;
    // The sample: every m_step-th call, and every call that writes, flushes,
    // names or removes a file, where a file's content changes hands.
    const QRegularExpression changing("^(write|pwrite|writev|sendfile|ftruncate|fsync|fdatasync|syncfs|link|rename|unlink)");
    for (int n = 1; n <= clean.callCount; ++n) {
        if ((n - 1) % m_step != 0 && !changing.match(clean.calls.value(n - 1)).hasMatch())
            continue;
        ++tried;
        QStringList problems;
        const Installation install(f.before);
        const QStringList action = actionIn(install);
        const DriverRun faulty = drive(install.path(), action, n);
        if (!faulty.ended || faulty.exitCode != 0)
            problems << QString("did not end normally (exit %1)").arg(faulty.exitCode);
        if (faulty.failedCall.isEmpty())
            problems << "no call failed";
        outside += faulty.writtenOutside;
        if (faulty.writtenOutside)
            problems << "written outside the installation";
        if (!install.aloneInParent())
            problems << "written beside the installation";
        bool toldOfFailure = false;
        for (const QString &text : faulty.texts) {
            if (!known.match(text).hasMatch())
                problems << "unexpected status text: " + text;
            toldOfFailure = toldOfFailure || text.contains("(00") || text.contains("(01") || text.contains("Error 2");
        }

        // Every file as it was or as it should become; a file the action
        // keeps is never gone, and nothing else is left. The new build may
        // stay under its name; the version file is left for the comparison
        // of the next run.
        const FileMap now = readTree(install);
        QSet<QString> paths(now.keyBegin(), now.keyEnd());
        paths.unite(QSet<QString>(f.before.keyBegin(), f.before.keyEnd()));
        for (const QString &path : qAsConst(paths)) {
            const QByteArray content = now.value(path);
            if ((path == "Launcher_new.exe" && content == kNewBuild) || (path == "version.txt" && content == f.served.value(path)))
                continue;
            if (!now.contains(path) && f.after.contains(path))
                ++lost, problems << "lost: " + path;
            else if (now.contains(path) && !f.before.contains(path) && !f.after.contains(path) && path != "Launcher_new.exe")
                problems << "left over: " + path;
            else if (now.contains(path) && content != f.before.value(path) && content != f.after.value(path))
                ++lost, problems << QString("cut short or mixed: %1 (%2 bytes)").arg(path).arg(content.size());
        }
        if (f.update) {
            // A run that records the new version over a file it could not
            // fetch must have said so.
            bool stale = false;
            for (auto it = f.served.begin(); it != f.served.end(); ++it)
                stale = stale || (it.key() != kNotes && f.after.contains(it.key()) && now.value(it.key()) != it.value());
            if (now.value("localversion.txt") == "2.0\n" && stale && !toldOfFailure && f.served.contains("file_listing.xml"))
                problems << "a file was not fetched and nothing was said";
        } else if (!f.success.isEmpty()
                   && now.value(f.target) != (faulty.texts == QStringList{f.success} ? f.after : f.before).value(f.target)) {
            problems << "the status text does not tell what happened: " + faulty.texts.join(" / ");
        }

        // The restart without faults; then Repair where the player was told
        // of a file that could not be stored, since the version is recorded.
        drive(install.path(), action, -1);
        if (readTree(install) != f.after && f.update && toldOfFailure)
            drive(install.path(), {"repair"}, -1);
        if (readTree(install) != f.after)
            problems << "not converged: " + differences(readTree(install), f.after).join(", ");
        converged += problems.isEmpty() ? 1 : 0;
        if (!problems.isEmpty())
            failures << QString("  fault at %1: %2").arg(faulty.failedCall, problems.join("; "));
    }
    const QString every = m_step == 1 ? QString("every call")
                                      : QString("a sample: every %1th call and every write, flush, link, rename and unlink").arg(m_step);
    printf("%s: fault points: %d/%d converged, files lost: %d, written outside: %d (%s of %d)\n", qPrintable(name), converged, tried, lost,
           outside, qPrintable(every), clean.callCount);
    for (const QString &failure : qAsConst(failures))
        printf("%s\n", qPrintable(failure));
    fflush(stdout);
    QCOMPARE(converged, tried);
}

QTEST_GUILESS_MAIN(FaultSweepTest)
#include "tst_e2e_faults.moc"
