// The built "Zorvan Lumeth.exe" on Windows (Wine here), with its real
// windows, against the loopback update server of this process: Play; a
// synchronisation that brings nested files, names with accents and a new
// launcher build; the swap of the build, and its failure when the old
// build's file cannot be deleted. What the engine and the window do with
// each version, Repair and graphics mode, the shared tests check under Wine
// as well.
//
// Play is pressed with the keyboard: the keys that move the focus to the
// button are found on the same window built in this process (the focus
// chain is the same code on both sides, whatever the fonts) and posted to
// the launcher's window. A file held open without delete sharing stands
// for a build still running from it, which Windows refuses to delete (Wine,
// more lenient with running executables, honours share modes).

#include "app/identity.h"
#include "app/launcherwindow.h"
#include "support/e2e.h"
#include "support/standin.h"
#include "updater/gameupdater.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>

#include <windows.h>

#include <tlhelp32.h>

#include <memory>

using namespace e2e;

namespace {

const wchar_t kSettingsKey[] = L"Software\\Team Quillon\\Zorvan Lumeth";

QString imageOf(DWORD pid)
{
    QString image;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
        wchar_t buffer[MAX_PATH * 2];
        DWORD size = sizeof buffer / sizeof *buffer;
        if (QueryFullProcessImageNameW(process, 0, buffer, &size))
            image = QDir::fromNativeSeparators(QString::fromWCharArray(buffer, int(size)));
        CloseHandle(process);
    }
    return image;
}

// The processes whose executable lies in `directory`, whatever its name now.
QList<DWORD> processesIn(const QString &directory)
{
    QList<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const QString image = imageOf(entry.th32ProcessID);
        if (!image.isEmpty() && samePath(QFileInfo(image).path(), directory))
            found << entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

void endProcessesIn(const QString &directory)
{
    for (DWORD pid : processesIn(directory)) {
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

// The keys that move the focus from where the launcher window first puts it
// to Play and press it, found on the same window built here with the same
// "graphics" value; empty when the button cannot be reached.
QVector<UINT> keysToPlay(const QString &graphics)
{
    TempInstallation here; // the patch notes land there
    QTemporaryDir storeDir;
    QSettings store(storeDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    store.setValue(QStringLiteral("graphics"), graphics);
    GameUpdater updater;
    auto *status = new textPerso;
    auto *progress = new progressBar;
    const LauncherWindow w = buildLauncherWindow(updater, store, *status, *progress);
    const std::unique_ptr<QWidget> window(w.window);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        return {};
    w.play->setEnabled(true); // as playOk(true) does once the start-up run is over
    QVector<UINT> keys;
    for (int i = 0; i < 64 && QApplication::focusWidget() != w.play; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(), Qt::Key_Tab);
        keys << VK_TAB;
    }
    if (QApplication::focusWidget() != w.play)
        return {};
    return keys << VK_SPACE;
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
    HWND window = nullptr;

    explicit WindowsRun(const Installation &in)
        : LauncherRun(in, updateServer().url(), {}, in.file(QStringLiteral("Zorvan Lumeth.exe")))
    {
    }
    bool start()
    {
        pid = LauncherRun::start() ? DWORD(process.processId()) : 0;
        return pid != 0;
    }
    // Waits until the run is over and the launcher waits in its event loop
    // with its window and no message box.
    bool waitForEndOfRun()
    {
        return waitUntil([&] { return (window = windowOf(pid, false)) && updateRunOver() && !windowOf(pid, true); }, 120000);
    }
    // Presses a button in the launcher window with the keyboard.
    bool press(const QVector<UINT> &keys)
    {
        if (keys.isEmpty() || !window)
            return false;
        // The keys count from the focus that activation gives the window.
        if (GetForegroundWindow() != window)
            SetForegroundWindow(window);
        if (!QTest::qWaitFor([this] { return GetForegroundWindow() == window; }, 10000))
            return false;
        // Each key pressed and released, as the keyboard would.
        for (UINT key : keys) {
            const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
            PostMessageW(window, WM_KEYDOWN, key, scan | 1);
            PostMessageW(window, WM_KEYUP, key, scan | 1 | (LPARAM(1) << 30) | (LPARAM(1) << 31));
        }
        return true;
    }
    // The exit code once the launcher has ended, or -1.
    int exitCode()
    {
        if (!QTest::qWaitFor([this] { return !running(); }, 60000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }
    // Closes the launcher window as the player would.
    bool close()
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return exitCode() == 0;
    }
};

} // namespace

class WindowsEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
    void cleanup() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
    void play_data();
    void play();
    void selfUpdate_data();
    void selfUpdate();

private:
    // Serves `version` of `files`; the request list starts anew.
    void publish(const QString &version, const FileMap &files)
    {
        QDir(m_served->path()).removeRecursively();
        writeTree(m_served->path(), release(version, files));
        updateServer().clearRequests();
    }

    std::unique_ptr<ServedTree> m_served;
    QByteArray m_launcher;
};

void WindowsEndToEndTest::initTestCase()
{
    HKEY existing = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        QSKIP("the launcher's settings of this user are in the registry");
    }
    // The settings of this process are the launcher's, in the registry.
    QCoreApplication::setOrganizationName(QString::fromLatin1(identity::kOrganisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(identity::kApplication));
    m_served = std::make_unique<ServedTree>();
    m_launcher = readFile(QStringLiteral(ZORVAN_WINDOWS_LAUNCHER));
    QVERIFY(!m_launcher.isEmpty());
}

void WindowsEndToEndTest::play_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("x2") << "x2" << QStringList{"--scale=2"} << QByteArray("--scale=2");
    QTest::newRow("normal") << "normal" << QStringList{} << QByteArray("--fullscreen");
}

// Play starts the installation's Game.exe from the launcher, in the
// installation, with the mode stored in the registry, and the launcher ends.
void WindowsEndToEndTest::play()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, after);

    WindowsInstallation install;
    QTemporaryDir records;
    const QString record = records.filePath("game");
    standin::writeGame(install.file("Game.exe"), record);
    install.write(".gameopts", "--fullscreen");
    install.write("localversion.txt", "3.0\n");
    publish("3.0\n", {});
    QSettings().setValue("graphics", mode);

    WindowsRun run(install);
    QVERIFY(run.start());
    QVERIFY2(run.waitForEndOfRun(), qPrintable(run.log()));
    QVERIFY(run.press(keysToPlay(mode)));
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(record); }, 60000));
    const standin::Record started = standin::read(record);
    QCOMPARE(started.arguments, arguments);
    QVERIFY2(samePath(started.workingDirectory, install.path()), qPrintable(started.workingDirectory));
    QCOMPARE(started.parentAtStart, qint64(run.pid));
    QCOMPARE(install.read(".gameopts"), after);
}

void WindowsEndToEndTest::selfUpdate_data()
{
    QTest::addColumn<bool>("oldBuildHeld");
    QTest::newRow("old build deleted at the next start") << false;
    QTest::newRow("old build still open") << true;
}

// The served "Launcher_new.exe" is the launcher with bytes appended, among
// game files the run fetches beside the player's save, which no manifest
// lists. The old build swaps it in (renaming its own running file), shows its box, and once
// the box is closed ends with exit code 0 and starts "Zorvan Lumeth.exe". The
// new build deletes "Launcher_old.exe" at its start. With "Launcher_old.exe"
// held open, nothing is renamed, the same build restarts, fails the same way
// and shows its box again; "Launcher_new.exe" stays.
void WindowsEndToEndTest::selfUpdate()
{
    QFETCH(bool, oldBuildHeld);

    WindowsInstallation install;
    install.write("Saves/Zorvan_Party-1", "the player's save");
    const FileMap game{{"Game.exe", "the game"},
                       {"Données/Maps/deep/écran d'accueil 1.txt", "accents\n"},
                       {"Launcher_new.exe", m_launcher + "\nnew build\n"}};
    publish("2.0\n", game);
    HANDLE held = INVALID_HANDLE_VALUE;
    const auto closeHeld = qScopeGuard([&] {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
    });
    if (oldBuildHeld) {
        install.write("Launcher_old.exe", "an older build, still running");
        // Shared for reading and writing, not for deletion.
        held = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(install.file("Launcher_old.exe")).utf16()), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
    }

    WindowsRun run(install);
    QVERIFY(run.start());
    HWND box = nullptr;
    QVERIFY2(QTest::qWaitFor([&] { return !run.running() || (box = windowOf(run.pid, true)) != nullptr; }, 120000), qPrintable(run.log()));

    QCOMPARE(updateServer().requests(),
             QStringList({"/game/" + kNotes, "/game/version.txt", "/game/file_listing.xml", "/game/Données/Maps/deep/écran d'accueil 1.txt",
                          "/game/Game.exe", "/game/Launcher_new.exe"}));
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
            for (DWORD pid : processesIn(install.path()))
                if (pid != run.pid && windowOf(pid, false) && (!oldBuildHeld || windowOf(pid, true)))
                    return (next = pid) != 0;
            return false;
        },
        120000));
    QVERIFY(QTest::qWaitFor([&] { return run.updateRunOver(); }, 60000));
    QVERIFY(samePath(imageOf(next), install.file("Zorvan Lumeth.exe")));
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
    QVERIFY(again.close());
}

QTEST_MAIN(WindowsEndToEndTest)
#include "tst_e2e_windows.moc"
