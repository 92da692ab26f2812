// The built "Zorvan Lumeth.exe" on Windows (Wine here), with its real
// windows, against the loopback update server of this process: a first
// install and a new version with nested files; Repair after damage; Play
// with each graphics mode; the self-update, and its failure when the old
// build's file cannot be deleted.
//
// Play and Repair are pressed with the keyboard: the keys that move the
// focus to a button are found on the same window built in this process (the
// focus chain is the same code on both sides, whatever the fonts) and posted
// to the launcher's window. A file held open without delete sharing stands
// for a build still running from it, which Windows refuses to delete (Wine,
// more lenient with running executables, honours share modes).

#include "app/identity.h"
#include "app/launcherwindow.h"
#include "support/standin.h"
#include "support/testenv.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"
#include "widgets/progressbar.h"
#include "widgets/textperso.h"

#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <windows.h>

#include <tlhelp32.h>

#include <memory>

namespace {

using FileMap = QMap<QString, QByteArray>;
const QString kNotes = QStringLiteral("Notes des mises à jour.txt");
const wchar_t kSettingsKey[] = L"Software\\Team Quillon\\Zorvan Lumeth";

bool samePath(const QString &a, const QString &b)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(a)).compare(QDir::cleanPath(QDir::fromNativeSeparators(b)), Qt::CaseInsensitive) == 0;
}

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

// The visible top-level windows of a process: the launcher window, and the
// self-update message box while it shows. A dialog has no minimise button.
QList<HWND> windowsOf(DWORD pid, bool dialogs)
{
    struct Search
    {
        DWORD pid;
        bool dialogs;
        QList<HWND> found;
    } search{pid, dialogs, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto *s = reinterpret_cast<Search *>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            const bool dialog = !(GetWindowLongW(window, GWL_STYLE) & WS_MINIMIZEBOX);
            if (owner == s->pid && IsWindowVisible(window) && dialog == s->dialogs)
                s->found << window;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND mainWindowOf(DWORD pid)
{
    const QList<HWND> found = windowsOf(pid, false);
    return found.size() == 1 ? found.first() : nullptr;
}

HWND boxOf(DWORD pid)
{
    const QList<HWND> found = windowsOf(pid, true);
    return found.size() == 1 ? found.first() : nullptr;
}

// Presses and releases each key in the window, as the keyboard would.
void postKeys(HWND window, const QVector<UINT> &keys)
{
    for (UINT key : keys) {
        const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
        PostMessageW(window, WM_KEYDOWN, key, scan | 1);
        PostMessageW(window, WM_KEYUP, key, scan | 1 | (LPARAM(1) << 30) | (LPARAM(1) << 31));
    }
}

enum class Button { Play, Repair };

// The keys that move the focus from where the launcher window first puts it
// to `button` and press it, found on the same window built here with the
// same "graphics" value; empty when the button cannot be reached.
QVector<UINT> keysToPress(Button button, const QString &graphics)
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
    // As playOk(true) does once the start-up run is over.
    w.play->setEnabled(true);
    w.repair->setEnabled(true);

    QVector<UINT> keys;
    const auto tabTo = [&](QWidget *target) {
        for (int i = 0; i < 64 && QApplication::focusWidget() != target; ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(), Qt::Key_Tab);
            keys << VK_TAB;
        }
        return QApplication::focusWidget() == target;
    };
    if (button == Button::Repair) {
        // The Repair button lies on the second page of the tabs.
        if (!tabTo(w.tabs->tabBar()))
            return {};
        QTest::keyClick(w.tabs->tabBar(), Qt::Key_Right);
        keys << VK_RIGHT;
        if (w.tabs->currentIndex() != 1)
            return {};
    }
    QPushButton *target = button == Button::Play ? w.play : w.repair;
    if (!tabTo(target))
        return {};
    keys << VK_SPACE;
    return keys;
}

// An installation with the launcher in it, alone in its parent directory;
// the launcher's log lies apart.
struct Installation
{
    QTemporaryDir parent, side;
    Installation()
    {
        QDir().mkpath(path());
        QFile::copy(QStringLiteral(ZORVAN_WINDOWS_LAUNCHER), file(QStringLiteral("Zorvan Lumeth.exe")));
    }
    ~Installation() { endProcessesIn(path()); }
    QString path() const { return parent.path() + QStringLiteral("/Zorvan Lumeth"); }
    QString file(const QString &relative) const { return path() + '/' + relative; }
    void write(const QString &relative, const QByteArray &content) const { writeFile(file(relative), content); }
    QByteArray read(const QString &relative) const { return readFile(file(relative)); }
    FileMap files() const { return snapshot(path()); }
};

// One start of the launcher in an installation, with the Windows platform
// and its debug output in the log.
struct LauncherRun
{
    const Installation &install;
    QProcess process;
    DWORD pid = 0;
    HWND window = nullptr;

    explicit LauncherRun(const Installation &in)
        : install(in)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("windows"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.insert(QString::fromLatin1(server::kBaseUrlVariable), updateServer().url());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(in.path());
        process.setProgram(in.file(QStringLiteral("Zorvan Lumeth.exe")));
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(in.side.filePath(QStringLiteral("launcher.log")), QIODevice::Append);
    }
    ~LauncherRun()
    {
        process.kill();
        process.waitForFinished();
    }
    QString log() const { return QString::fromUtf8(readFile(install.side.filePath(QStringLiteral("launcher.log")))); }

    // Plants a "file_listing.php", which every update run deletes at its
    // end, and starts the launcher.
    bool start()
    {
        install.write(QStringLiteral("file_listing.php"), "left by an old launcher");
        process.start();
        if (!process.waitForStarted(30000))
            return false;
        pid = DWORD(process.processId());
        return true;
    }
    bool running() const { return process.state() == QProcess::Running; }
    // Waits until the run is over and the launcher waits in its event loop
    // with its window and no message box.
    bool waitForEndOfRun()
    {
        const bool settled = QTest::qWaitFor(
            [&] {
                window = mainWindowOf(pid);
                return !running() || (window && !QFile::exists(install.file(QStringLiteral("file_listing.php"))) && !boxOf(pid));
            },
            120000);
        return settled && running() && window;
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
        postKeys(window, keys);
        return true;
    }
    bool waitForExit(int *exitCode)
    {
        if (!QTest::qWaitFor([this] { return !running(); }, 60000))
            return false;
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return true;
    }
    // Closes the launcher window as the player would.
    bool close()
    {
        int exitCode = -1;
        PostMessageW(window, WM_CLOSE, 0, 0);
        return waitForExit(&exitCode) && exitCode == 0;
    }
};

// Waits until a process of `directory` other than `except` shows its
// window, and a message box when `withBox`; its id, or 0.
DWORD waitForOtherBuild(const QString &directory, DWORD except, bool withBox)
{
    DWORD found = 0;
    const bool seen = QTest::qWaitFor(
        [&] {
            for (DWORD pid : processesIn(directory))
                if (pid != except && mainWindowOf(pid) && (!withBox || boxOf(pid)))
                    return (found = pid) != 0;
            return false;
        },
        120000);
    return seen ? found : 0;
}

} // namespace

class WindowsEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
    void cleanup() { RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey); }
    void updatesThenRepair();
    void play_data();
    void play();
    void selfUpdate_data();
    void selfUpdate();

private:
    QByteArray publish(const QString &version, const FileMap &files);

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

// Serves `version` with its patch notes, `files` and their manifest, which
// it returns; the request list starts anew.
QByteArray WindowsEndToEndTest::publish(const QString &version, const FileMap &files)
{
    QDir(m_served->path()).removeRecursively();
    QList<QPair<QString, QByteArray>> listed;
    for (auto it = files.begin(); it != files.end(); ++it) {
        m_served->write(it.key(), it.value());
        listed << qMakePair(it.key(), it.value());
    }
    const QByteArray manifest = manifestFor(listed);
    m_served->write(QStringLiteral("version.txt"), version.toUtf8());
    m_served->write(kNotes, "<b>Version " + version.toUtf8() + "</b>");
    m_served->write(QStringLiteral("file_listing.xml"), manifest);
    updateServer().clearRequests();
    return manifest;
}

// Version 1.0 installs every file; 1.1 fetches only the changed and the
// added, nested ones; Repair after damage fetches the damaged ones again.
// The player's save, which no manifest lists, stays throughout.
void WindowsEndToEndTest::updatesThenRepair()
{
    FileMap game{{"Game.exe", QByteArray(300000, 'g')},
                 {"Data/Map.dat", QByteArray(70000, 'm')},
                 {"empty.cfg", ""},
                 {"Données/écran d'accueil 1.txt", "accents\n"}};
    Installation install;
    install.write("Saves/Zorvan_Party-1", "the player's save");
    const auto expectedFiles = [&](const QString &version, const QByteArray &manifest) {
        FileMap expected = game;
        expected.insert("localversion.txt", version.toUtf8());
        expected.insert("file_listing.xml", manifest);
        expected.insert(kNotes, "<b>Version " + version.toUtf8() + "</b>");
        expected.insert("Zorvan Lumeth.exe", m_launcher);
        expected.insert("Saves/Zorvan_Party-1", "the player's save");
        return expected;
    };
    const auto fetched = [](const QStringList &files) {
        QStringList requests{"/game/" + kNotes, "/game/version.txt", "/game/file_listing.xml"};
        for (const QString &file : files)
            requests << "/game/" + file;
        return requests;
    };

    QByteArray manifest;
    for (const QString version : {"1.0\n", "1.1\n"}) {
        QStringList changed = game.keys();
        if (version == "1.1\n") {
            game["Data/Map.dat"] = QByteArray(90000, 'M');
            game["Data/Maps/deep/level 2.dat"] = "added";
            changed = QStringList{"Data/Map.dat", "Data/Maps/deep/level 2.dat"};
        }
        manifest = publish(version, game);
        LauncherRun run(install);
        QVERIFY(run.start());
        QVERIFY2(run.waitForEndOfRun(), qPrintable(run.log()));
        QCOMPARE(updateServer().requests(), fetched(changed));
        QCOMPARE(install.files(), expectedFiles(version, manifest));
        QVERIFY(run.close());
    }

    // Damage: one file cut short, one deleted, one nested one changed.
    install.write("Data/Map.dat", "cut");
    QFile::remove(install.file("Données/écran d'accueil 1.txt"));
    install.write("Data/Maps/deep/level 2.dat", "changed");
    updateServer().clearRequests();
    LauncherRun run(install);
    QVERIFY(run.start());
    QVERIFY2(run.waitForEndOfRun(), qPrintable(run.log()));
    QCOMPARE(updateServer().requests(), QStringList({"/game/" + kNotes, "/game/version.txt"})); // versions equal
    const QVector<UINT> repair = keysToPress(Button::Repair, QSettings().value("graphics").toString());
    updateServer().clearRequests();
    install.write("file_listing.php", "the Repair run deletes it");
    QVERIFY(run.press(repair));
    QVERIFY2(QTest::qWaitFor([&] { return !QFile::exists(install.file("file_listing.php")); }, 120000), qPrintable(run.log()));
    QCOMPARE(updateServer().requests(),
             QStringList({"/game/version.txt", "/game/file_listing.xml", "/game/Data/Map.dat", "/game/Data/Maps/deep/level 2.dat",
                          "/game/Données/écran d'accueil 1.txt"}));
    QCOMPARE(install.files(), expectedFiles("1.1\n", manifest));
    QVERIFY(run.close());
}

void WindowsEndToEndTest::play_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("fullscreen") << "fullscreen" << QByteArray("--scale=3") << QStringList{"--fullscreen"} << QByteArray("--fullscreen");
    QTest::newRow("normal") << "normal" << QByteArray("--scale=3") << QStringList{} << QByteArray("--scale=3");
    QTest::newRow("x2") << "x2" << QByteArray("--fullscreen") << QStringList{"--scale=2"} << QByteArray("--scale=2");
    QTest::newRow("x3") << "x3" << QByteArray("--scale=2") << QStringList{"--scale=3"} << QByteArray("--scale=3");
}

// Play starts the installation's Game.exe from the launcher, in the
// installation, with the mode stored in the registry, and the launcher ends.
void WindowsEndToEndTest::play()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, before);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, after);

    Installation install;
    QTemporaryDir records;
    const QString record = records.filePath("game");
    standin::writeGame(install.file("Game.exe"), record);
    install.write(".gameopts", before);
    install.write("localversion.txt", "3.0\n");
    publish("3.0\n", {});
    QSettings().setValue("graphics", mode);

    LauncherRun run(install);
    QVERIFY(run.start());
    QVERIFY2(run.waitForEndOfRun(), qPrintable(run.log()));
    QVERIFY(run.press(keysToPress(Button::Play, mode)));
    int exitCode = -1;
    QVERIFY2(run.waitForExit(&exitCode), qPrintable(run.log()));
    QCOMPARE(exitCode, 0);
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

// The served "Launcher_new.exe" is the launcher with bytes appended. The old
// build swaps it in (renaming its own running file), shows its box, and once
// the box is closed ends with exit code 0 and starts "Zorvan Lumeth.exe". The
// new build deletes "Launcher_old.exe" at its start. With "Launcher_old.exe"
// held open, nothing is renamed, the same build restarts, fails the same way
// and shows its box again; "Launcher_new.exe" stays.
void WindowsEndToEndTest::selfUpdate()
{
    QFETCH(bool, oldBuildHeld);

    Installation install;
    const QByteArray newBuild = m_launcher + "\nnew build\n";
    const FileMap game{{"Game.exe", "the game"}, {"Launcher_new.exe", newBuild}};
    const QByteArray manifest = publish("2.0\n", game);
    HANDLE held = INVALID_HANDLE_VALUE;
    const auto release = qScopeGuard([&] {
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

    LauncherRun run(install);
    QVERIFY(run.start());
    HWND box = nullptr;
    QVERIFY2(QTest::qWaitFor([&] { return !run.running() || (box = boxOf(run.pid)) != nullptr; }, 120000), qPrintable(run.log()));

    FileMap expected = game;
    expected.insert("localversion.txt", "2.0\n");
    expected.insert("file_listing.xml", manifest);
    expected.insert(kNotes, "<b>Version 2.0\n</b>");
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
    int exitCode = -1;
    QVERIFY2(run.waitForExit(&exitCode), qPrintable(run.log()));
    QCOMPARE(exitCode, 0);

    // The build started by the old one: the new build with its window, or
    // the same build again with its window and its own box.
    const DWORD next = waitForOtherBuild(install.path(), run.pid, oldBuildHeld);
    QVERIFY(next != 0);
    QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(install.file("file_listing.php")); }, 60000));
    QVERIFY(samePath(imageOf(next), install.file("Zorvan Lumeth.exe")));
    if (oldBuildHeld) {
        QCOMPARE(install.files(), expected);
        return;
    }
    // The new build started while the old one was still ending, so its
    // first run may have found "Launcher_old.exe" in use; once the new
    // build is closed, its next start deletes it.
    PostMessageW(mainWindowOf(next), WM_CLOSE, 0, 0);
    QVERIFY(QTest::qWaitFor([&] { return processesIn(install.path()).isEmpty(); }, 60000));
    LauncherRun again(install);
    QVERIFY(again.start());
    QVERIFY2(again.waitForEndOfRun(), qPrintable(again.log()));
    expected.remove("Launcher_old.exe");
    QCOMPARE(install.files(), expected);
    QVERIFY(again.close());
}

QTEST_MAIN(WindowsEndToEndTest)
#include "tst_e2e_windows.moc"
