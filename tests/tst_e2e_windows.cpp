// The built "Zorvan Lumeth.exe" on Windows (Wine here), with its real
// windows, against the loopback update server of this process: a
// synchronisation that brings nested files, names with accents and a new
// launcher build; the swap of the running build, and its failure when the
// old build's file cannot be deleted. A file held open without delete
// sharing stands for a build still running from it, which Windows refuses
// to delete, or for a virus scanner (Wine, more lenient with running
// executables, honours share modes). What the engine and the window do with
// each version, Repair, Play and each graphics mode, the shared tests check
// under Wine as well.

#include "support/e2e.h"
#include "support/fsfixtures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <windows.h>

#include <tlhelp32.h>

using namespace e2e;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Team Quillon\\Zorvan Lumeth";

// The processes whose executable lies in `directory`, whatever its name
// now, and the path of each one's executable.
QMap<DWORD, QString> processesIn(const QString &directory)
{
    QMap<DWORD, QString> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        wchar_t image[MAX_PATH * 2];
        DWORD size = sizeof image / sizeof *image;
        if (process && QueryFullProcessImageNameW(process, 0, image, &size)
            && samePath(QFileInfo(QString::fromWCharArray(image, int(size))).path(), directory))
            found.insert(entry.th32ProcessID, QString::fromWCharArray(image, int(size)));
        if (process)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

void endProcessesIn(const QString &directory)
{
    for (DWORD pid : processesIn(directory).keys()) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
}

// The one visible top-level window of a process that is a dialog (which has
// no minimise button) or not: the self-update message box while it shows,
// or the launcher window; null when there is none or more.
HWND windowOf(DWORD pid, bool dialog)
{
    struct Search
    {
        DWORD pid;
        bool dialog;
        QList<HWND> found;
    } search{pid, dialog, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto *s = reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid && IsWindowVisible(window) && s->dialog == !(GetWindowLongW(window, GWL_STYLE) & WS_MINIMIZEBOX))
                s->found << window;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found.size() == 1 ? search.found.first() : nullptr;
}

// An installation with the launcher in it; no process of it outlives it.
struct WindowsInstallation : Installation
{
    WindowsInstallation() { QFile::copy(QStringLiteral(ZORVAN_WINDOWS_LAUNCHER), file(QStringLiteral("Zorvan Lumeth.exe"))); }
    ~WindowsInstallation() { endProcessesIn(path()); }
};

// One start of the installation's launcher, with its real windows.
struct WindowsRun : LauncherRun
{
    DWORD pid = 0;

    explicit WindowsRun(const Installation &in)
        : LauncherRun(in, updateServer().url(), {"QT_QPA_PLATFORM=windows"}, in.file(QStringLiteral("Zorvan Lumeth.exe")))
    {
    }
    bool start() { return (pid = LauncherRun::start() ? DWORD(process.processId()) : 0) != 0; }
    // The run is over: the launcher waits in its event loop, with its window
    // and no message box.
    bool waitForEndOfRun()
    {
        return waitUntil([&] { return windowOf(pid, false) && updateRunOver() && !windowOf(pid, true); }, 120000);
    }
    // Waits for the end of the launcher: its exit code, or -1.
    int exitCode()
    {
        const bool ended = QTest::qWaitFor([this] { return !running(); }, 60000);
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

} // namespace

class WindowsEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
    void selfUpdate_data();
    void selfUpdate();
    void killedMidTransfer();

private:
    QByteArray m_launcher;
};

void WindowsEndToEndTest::initTestCase()
{
    HKEY existing = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        QSKIP("the launcher's settings of this user are in the registry");
    }
    m_launcher = readFile(QStringLiteral(ZORVAN_WINDOWS_LAUNCHER));
    QVERIFY(!m_launcher.isEmpty());
}

void WindowsEndToEndTest::selfUpdate_data()
{
    QTest::addColumn<QString>("holder");
    QTest::newRow("old build still open") << "old build";
    QTest::newRow("scanner, then old build deleted at the next start") << "scanner";
}

// The served "Launcher_new.exe" is the launcher with bytes appended, among
// game files the run fetches beside the player's save, which no manifest
// lists. The old build swaps it in (renaming its own running file), shows
// its box, and once the box is closed ends with exit code 0 and starts
// "Zorvan Lumeth.exe". The new build deletes "Launcher_old.exe" at its
// start. With "Launcher_old.exe" held open, nothing is renamed, the same
// build restarts, fails the same way and shows its box again;
// "Launcher_new.exe" stays. A scanner reading the old "Game.exe" and the
// new build (placed beforehand) for two seconds each holds up the download
// and the swap, the window live. One path is over 300 characters long.
void WindowsEndToEndTest::selfUpdate()
{
    QFETCH(QString, holder);
    const bool oldBuildHeld = holder == "old build";

    WindowsInstallation install;
    install.write("Saves/Zorvan_Party-1", "the player's save");
    const QString nested = "Données/Maps/" + QString(120, 'd') + "/" + QString(120, 'e') + "/écran d'accueil 1.txt";
    const FileMap game{{"Game.exe", "the game"}, {nested, "accents\n"}, {"Launcher_new.exe", m_launcher + "\nnew build\n"}};
    QVERIFY(install.file(nested).size() > 300);
    const ServedTree served;
    writeTree(served.path(), release("2.0\n", game));
    updateServer().clearRequests();
    if (oldBuildHeld)
        install.write("Launcher_old.exe", "an older build, still running");
    if (holder == "scanner")
        install.write("Game.exe", "an older game"), install.write("Launcher_new.exe", game.value("Launcher_new.exe"));
    fsfixtures::HeldFile oldBuild(oldBuildHeld ? install.file("Launcher_old.exe") : "", true);
    fsfixtures::HeldFile scanned[] = {{holder == "scanner" ? install.file("Game.exe") : "", false},
                                      {holder == "scanner" ? install.file("Launcher_new.exe") : "", false}};
    QCOMPARE(oldBuild.active() + scanned[0].active() + scanned[1].active(), oldBuildHeld ? 1 : 2);

    WindowsRun run(install);
    QVERIFY(run.start());
    if (holder == "scanner") {
        // Each held file is waited for, the window live, until the scanner lets go.
        QVERIFY2(run.waitUntil([&] { return run.log().contains("Chemin vers le fichier : Game.exe"); }), qPrintable(run.log()));
        for (const QString &next : {QStringLiteral("Ecriture de Game.exe"), QString()}) {
            QTest::qWait(2000);
            QVERIFY(SendMessageTimeoutW(windowOf(run.pid, false), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, nullptr));
            QCOMPARE(run.log().contains("Ecriture de Game.exe"), next.isEmpty());
            QVERIFY(!windowOf(run.pid, true) && !QFile::exists(install.file("Launcher_old.exe")));
            scanned[next.isEmpty()].release();
            QVERIFY(next.isEmpty() || run.waitUntil([&] { return run.log().contains(next); }));
        }
    }
    HWND box = nullptr;
    QVERIFY2(QTest::qWaitFor([&] { return !run.running() || (box = windowOf(run.pid, true)) != nullptr; }, 120000), qPrintable(run.log()));

    QStringList requests{"/game/" + kNotes, "/game/version.txt", "/game/file_listing.xml", "/game/" + nested, "/game/Game.exe"};
    QCOMPARE(updateServer().requests(), requests << (holder == "scanner" ? QStringList() : QStringList{"/game/Launcher_new.exe"}));
    FileMap expected = synchronised("2.0\n", game);
    expected.insert("Saves/Zorvan_Party-1", "the player's save");
    if (oldBuildHeld) {
        expected.insert("Zorvan Lumeth.exe", m_launcher);
        expected.insert("Launcher_old.exe", "an older build, still running");
    } else {
        expected.insert("Zorvan Lumeth.exe", expected.take("Launcher_new.exe"));
        expected.insert("Launcher_old.exe", m_launcher);
    }
    QCOMPARE(install.files(), expected); // while the box shows

    install.write("file_listing.php", "the next build's run deletes it");
    PostMessageW(box, WM_CLOSE, 0, 0);
    QCOMPARE(run.exitCode(), 0);

    // The build started by the old one: the new build with its window, or
    // the same build again with its window and its own box.
    DWORD next = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (DWORD pid : processesIn(install.path()).keys())
                if (pid != run.pid && windowOf(pid, false) && (!oldBuildHeld || windowOf(pid, true)))
                    return (next = pid) != 0;
            return false;
        },
        120000));
    QVERIFY(QTest::qWaitFor([&] { return run.updateRunOver(); }, 60000));
    QVERIFY(samePath(processesIn(install.path()).value(next), install.file("Zorvan Lumeth.exe")));
    if (oldBuildHeld) {
        QCOMPARE(install.files(), expected);
        return;
    }
    // The new build started while the old one was still ending, so its
    // first run may have found "Launcher_old.exe" in use; once the new
    // build is closed, its next start deletes it.
    PostMessageW(windowOf(next, false), WM_CLOSE, 0, 0);
    QVERIFY(QTest::qWaitFor([&] { return processesIn(install.path()).isEmpty(); }, 60000));
    WindowsRun again(install);
    QVERIFY(again.start());
    QVERIFY2(again.waitForEndOfRun(), qPrintable(again.log()));
    expected.remove("Launcher_old.exe");
    QCOMPARE(install.files(), expected);
    PostMessageW(windowOf(again.pid, false), WM_CLOSE, 0, 0); // as the player would
    QCOMPARE(again.exitCode(), 0);
}

// A launcher ended while a body arrives (a crash, the task manager, a
// shutdown) leaves nothing of the body: its file goes with the process.
void WindowsEndToEndTest::killedMidTransfer()
{
    WindowsInstallation install;
    install.write("Game.exe", "an older game");
    const ServedTree served;
    writeTree(served.path(), release("2.0\n", {{"Game.exe", QByteArray(512 * 1024, 'g')}}));
    updateServer().setBehaviour("/game/Game.exe", LoopbackHttpServer::Behaviour::Stall);
    const auto bodies = [&] { return install.files().keys().filter(QRegularExpression("^Game\\.exe\\.\\w{6}$")); };

    WindowsRun run(install);
    QVERIFY(run.start());
    QVERIFY2(run.waitUntil([&] { return bodies().size() == 1; }), qPrintable(run.log()));
    QTest::qWait(500); // the first block of the body written
    endProcessesIn(install.path());
    updateServer().releaseStalled();
    updateServer().clearRoutes();
    QCOMPARE(bodies(), QStringList());
    QCOMPARE(install.files().value("Game.exe"), QByteArray("an older game"));
}

QTEST_GUILESS_MAIN(WindowsEndToEndTest)
#include "tst_e2e_windows.moc"
