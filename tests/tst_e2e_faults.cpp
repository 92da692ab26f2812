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

const QString kExe = QStringLiteral("Zorvan Lumeth.exe"), kParty = QStringLiteral("Saves/Zorvan_Party-1"),
              kBackup = QStringLiteral("Saves/Backup/before the boss");
const QByteArray kOldBuild = "#!/bin/sh\n# launcher build 1\nexit 0\n";
const QByteArray kNewBuild = "#!/bin/sh\n# launcher build 2\nexit 0\n";
const char *const kErrnos[] = {"EIO", "ENOSPC", "EACCES"};

// What one driver run left: its exit code (-1 when it did not end
// normally), its status texts, and from the injector's trace its
// file-system calls ("call path", in order), the one that failed and how
// many wrote outside the installation.
struct DriverRun
{
    int exitCode = -1;
    QStringList texts, calls;
    QString failedCall;
    int callCount = 0, writtenOutside = 0;
};

// The installation's files. The build that a swap set aside stays until the
// next run; a Repair swaps again and sets the new build aside. Either is
// left out.
FileMap readTree(const Installation &install)
{
    FileMap files = install.files();
    if (QList<QByteArray>{kOldBuild, kNewBuild}.contains(files.value("Launcher_old.exe")))
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
    DriverRun drive(const Installation &install, const QStringList &action, int failAt);

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
    if (!qEnvironmentVariableIsEmpty("ZORVAN_SWEEP_STEP"))
        m_step = qMax(1, qEnvironmentVariableIntValue("ZORVAN_SWEEP_STEP"));
    QDir().mkpath(m_dir.filePath("www"));
    m_server.start(QStringLiteral(ZORVAN_SERVE), {m_dir.filePath("www"), "0", "/game/"});
    QVERIFY(m_server.waitForReadyRead(10000));
    m_baseUrl = QString::fromLatin1(m_server.readLine()).trimmed();
    QVERIFY(m_baseUrl.startsWith("http://127.0.0.1:"));
#endif
}

void FaultSweepTest::sweep_data()
{
    QTest::addColumn<QStringList>("action");
    QTest::addColumn<QString>("target");    // the file a save operation or the game start changes
    QTest::addColumn<QByteArray>("result"); // its content once done; null when removed
    QTest::addColumn<QStringList>("texts"); // those a faulty run may show; the first tells of success
    QStringList update{"Error in the update manifesto (009).", "Error in the update manifesto. (010)", "You have the latest version.",
                       "Update finished. You have the latest version."};
    for (const char *error : {"opening file (005)", "writing file (005)", "opening file (007)", "writing file (007)"})
        update << QString("Error when %1. Local version available.").arg(error);
    QTest::newRow("synchronisation") << QStringList{"sync"} << QString() << QByteArray() << update;
    QTest::newRow("self-update swap") << QStringList{"sync"} << QString() << QByteArray() << update;
    QTest::newRow("backup") << QStringList{"backup", "before the boss"} << kBackup << QByteArray("the party as it is now")
                            << QStringList{"Save successfully exported.", "Unable to export save file. (Error 002)",
                                           "Unable to export save file. (Error 001)"};
    QTest::newRow("import") << QStringList{"import", kBackup} << kParty << QByteArray("a backup of the party")
                            << QStringList{"Save successfully imported.", "Unable to import save file. (Error 002)",
                                           "Unable to import save file. (Error 001)"};
    QTest::newRow("external import") << QStringList{"importext", m_dir.filePath("external save")} << kParty
                                     << QByteArray("a save from elsewhere")
                                     << QStringList{"Save successfully imported.", "Unable to import save file. (Error 2)",
                                                    "Unable to import save file. (Error 001)"};
    // The save's absolute path is added per run.
    QTest::newRow("removal") << QStringList{"remove"} << kBackup << QByteArray()
                             << QStringList{"Save succesfully removed.", "Unable to remove save file. (Error 003)"};
    // The graphics mode "x2" rewrites the game's options file; the game
    // start has no text of its own.
    QTest::newRow("game start") << QStringList{"play"} << ".gameopts" << QByteArray("--scale=2") << QStringList{""};
}

DriverRun FaultSweepTest::drive([[maybe_unused]] const Installation &install, [[maybe_unused]] const QStringList &action,
                                [[maybe_unused]] int failAt)
{
    DriverRun run;
#ifdef ZORVAN_FAULTINJECT
    QTemporaryDir side;
    QProcess driver;
    driver.setProcessEnvironment(
        environment(side.path(), m_baseUrl,
                    {"LD_PRELOAD=" ZORVAN_FAULTINJECT, "ZORVAN_FAULT_ALLOW=" + side.path(),
                     "ZORVAN_FAULT_COUNT_FILE=" + side.filePath("count"), "ZORVAN_FAULT_TRACE=" + side.filePath("trace"),
                     "ZORVAN_FAULT_AT=" + QString::number(failAt), QString("ZORVAN_FAULT_ERRNO=") + kErrnos[qMax(failAt, 0) % 3]}));
    driver.setWorkingDirectory(install.path());
    driver.setStandardErrorFile(QProcess::nullDevice());
    driver.start(QStringLiteral(ZORVAN_FAULTDRIVER),
                 action == QStringList{"remove"} ? action + QStringList{install.file(kBackup)} : action);
    if (driver.waitForFinished(60000) && driver.exitStatus() == QProcess::NormalExit)
        run.exitCode = driver.exitCode();
    driver.kill(), driver.waitForFinished();
    run.texts = QString::fromUtf8(driver.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const QList<QByteArray> figures = readFile(side.filePath("count")).simplified().split(' ');
    run.callCount = figures.value(0).toInt();
    run.writtenOutside = figures.value(1).toInt();
    for (const QByteArray &line : readFile(side.filePath("trace")).split('\n')) {
        if (line.endsWith(" FAILED"))
            run.failedCall = QString::fromUtf8(line).replace(install.path() + '/', QString());
        if (!line.isEmpty() && line.at(0) >= '0' && line.at(0) <= '9')
            run.calls << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        if (line.startsWith("outside "))
            run.failedCall += " [" + QString::fromUtf8(line) + "]";
    }
#endif
    return run;
}

void FaultSweepTest::sweep()
{
    QFETCH(QStringList, action);
    QFETCH(QString, target);
    QFETCH(QByteArray, result);
    QFETCH(QStringList, texts);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const bool update = action == QStringList{"sync"};
    FileMap before{
        {kExe, kOldBuild}, {kParty, "the party as it is now"}, {kBackup, "a backup of the party"}, {"localversion.txt", "2.0\n"}};
    // The window's images, so that it finds them.
    for (const QString image :
         {"launcher_icon.png", "splash.png", "icon_site_hover.png", "icon_wiki_hover.png", "icon_discord_hover.png"}) {
        QImage pixels(4, 4, QImage::Format_RGB32);
        pixels.fill(Qt::darkCyan);
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        pixels.save(&png, "PNG");
        before.insert(image, png.data());
    }
    // The patch notes, fetched by every update run and as the window is built.
    FileMap served = release("2.0\n", {});
    served.remove("file_listing.xml");
    FileMap after = before;
    if (name == "synchronisation") {
        // Version 2.0 changes some files, adds a nested one, a large one and
        // a new launcher build, and keeps others.
        const FileMap old{{"localversion.txt", "1.0\n"},
                          {kNotes, "<b>Version 1.0</b>"},
                          {"Game.exe", "game 1.0"},
                          {"Data/Movies/intro.big", QByteArray(1 << 20, 'b')},
                          {"Data/kept.dat", "the same in both versions"},
                          {"Data/changed.dat", "changed in 2.0"}};
        const FileMap game{{"Game.exe", "game 2.0"},
                           {"Data/Movies/intro.big", QByteArray(3 << 20, 'B')},
                           {"Data/kept.dat", "the same in both versions"},
                           {"Data/changed.dat", "now 2.0"},
                           {"Data/New/deep/added.dat", "added in 2.0"},
                           {"Launcher_new.exe", kNewBuild}};
        before.insert(old);
        served = release("2.0\n", game);
        after = before;
        after.insert(synchronised("2.0\n", game));
    } else if (update) {
        // A new build placed by hand; the versions are equal.
        before.insert("Launcher_new.exe", kNewBuild);
        before.insert(kNotes, served.value(kNotes));
        after = before;
    } else {
        if (target == ".gameopts")
            before.insert("Game.exe", "#!/bin/sh\nexit 0\n"), before.insert(".gameopts", "--fullscreen");
        after = before;
        if (result.isNull())
            after.remove(target);
        else
            after.insert(target, result);
        after.insert(kNotes, served.value(kNotes));
    }
    if (update)
        after.insert(kExe, after.take("Launcher_new.exe"));
    QDir(m_dir.filePath("www")).removeRecursively();
    writeTree(m_dir.filePath("www"), served);
    writeFile(m_dir.filePath("external save"), "a save from elsewhere");

    // The clean run: how many calls there are, and that it does the job.
    const Installation cleanInstall(before);
    const DriverRun clean = drive(cleanInstall, action, -1);
    QCOMPARE(clean.exitCode, 0);
    QVERIFY(clean.callCount > 0 && clean.callCount == clean.calls.size());
    if (!update && !texts.first().isEmpty())
        QCOMPARE(clean.texts, texts.mid(0, 1));
    QCOMPARE(damage(after, after, readTree(cleanInstall)).all(), QStringList());

    // Texts of progress and of the self-update that an update run may show.
    const QRegularExpression progress("^(Downloading  (version\\.txt|file_listing\\.xml)|Downloading \\(\\d+\\.\\d\\d%\\) [^/]+)\\.\\.\\.$"
                                      "|^message\\|A new launcher update is available\\. The program will restart\\.$");
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
        const Installation install(before);
        const DriverRun faulty = drive(install, action, n);
        if (faulty.exitCode != 0)
            problems << QString("did not end normally (exit %1)").arg(faulty.exitCode);
        if (faulty.failedCall.isEmpty())
            problems << "no call failed";
        outside += faulty.writtenOutside;
        if (faulty.writtenOutside)
            problems << "written outside the installation";
        if (!install.aloneInParent()) // by the programs it starts too
            problems << "written beside the installation";
        bool toldOfFailure = false;
        for (const QString &text : faulty.texts) {
            if (!texts.contains(text) && !(update && progress.match(text).hasMatch()))
                problems << "unexpected status text: " + text;
            toldOfFailure = toldOfFailure || text.contains("(00") || text.contains("(01") || text.contains("Error 2");
        }

        // Every file as it was or as it should become; a file the action
        // keeps is never gone, and nothing else is left. A new build may wait
        // under its name, and the version file for the next run's comparison.
        FileMap now = readTree(install);
        if (now.value("Launcher_new.exe") == kNewBuild)
            now.remove("Launcher_new.exe");
        if (now.value("version.txt") == served.value("version.txt"))
            now.remove("version.txt");
        const Damage found = damage(before, after, now);
        lost += found.lost.size() + found.mixed.size();
        for (const QString &path : found.lost)
            problems << "lost: " + path;
        for (const QString &path : found.mixed)
            problems << "cut short or mixed: " + path;
        for (const QString &path : found.left)
            problems << "left over: " + path;
        if (update) {
            // A run that records the new version over a file it could not
            // fetch must have said so.
            bool stale = false;
            for (auto it = served.begin(); it != served.end(); ++it)
                stale = stale || (it.key() != kNotes && after.contains(it.key()) && now.value(it.key()) != it.value());
            if (now.value("localversion.txt") == "2.0\n" && stale && !toldOfFailure && served.contains("file_listing.xml"))
                problems << "a file was not fetched and nothing was said";
        } else if (!texts.first().isEmpty() && now.value(target) != (faulty.texts == texts.mid(0, 1) ? after : before).value(target)) {
            problems << "the status text does not tell what happened: " + faulty.texts.join(" / ");
        }

        // The restart without faults; then Repair where the player was told
        // of a file that could not be stored, since the version is recorded.
        drive(install, action, -1);
        if (readTree(install) != after && update && toldOfFailure)
            drive(install, {"repair"}, -1);
        if (readTree(install) != after)
            problems << "not converged: " + damage(after, after, readTree(install)).all().join(", ");
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
