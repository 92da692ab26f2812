// The per-user installer, "Zorvan Lumeth Setup.exe", run silently: where it
// agrees to install, what it leaves (files, Start-menu shortcut, uninstall
// entry), and an uninstallation that removes the launcher's and the game's
// files but never the player's saves; neither touches anything while a
// launcher runs. Windows only (Wine here).

#include "platform/identity.h"
#include "platform/logfile.h"
#include "support/e2e.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

using namespace e2e;

namespace {

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zorvan Lumeth";
const wchar_t kSettingsKey[] = L"Software\\Team Quillon\\Zorvan Lumeth";
const wchar_t kOrganisationKey[] = L"Software\\Team Quillon";

bool keyExists(const wchar_t *key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// In the user's Start-menu programs folder (FOLDERID_Programs).
QString startMenuShortcut()
{
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + QStringLiteral("/Zorvan Lumeth.lnk");
}

// Whether the shortcut file is there: Qt takes a .lnk for a link and asks
// about its target, which an uninstallation deletes first.
bool shortcutExists()
{
    return GetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(startMenuShortcut()).utf16())) != INVALID_FILE_ATTRIBUTES;
}

// The target and the working directory of a .lnk, read through the shell's
// own link object; empty when it cannot be read.
QStringList readShortcut(const QString &path)
{
    QStringList found;
    IShellLinkW *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void **>(&link))))
        return found;
    IPersistFile *file = nullptr;
    wchar_t target[MAX_PATH] = {}, directory[MAX_PATH] = {};
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        if (SUCCEEDED(file->Load(reinterpret_cast<LPCOLESTR>(QDir::toNativeSeparators(path).utf16()), STGM_READ))
            && SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))
            && SUCCEEDED(link->GetWorkingDirectory(directory, MAX_PATH)))
            found << QString::fromWCharArray(target) << QString::fromWCharArray(directory);
        file->Release();
    }
    link->Release();
    return found;
}

// Runs an NSIS program with `arguments` as its raw command line: /D= and _?=
// must come last and unquoted, blanks and all.
int runNsis(const QString &program, const QString &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setNativeArguments(arguments);
    process.start();
    if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
        return process.exitCode();
    process.kill(), process.waitForFinished();
    return -1;
}

int install(const QString &directory)
{
    return runNsis(QStringLiteral(ZORVAN_WINDOWS_SETUP), QStringLiteral("/S /D=") + QDir::toNativeSeparators(directory));
}

// Waits for the uninstaller in place instead of letting it copy itself away.
int uninstall(const QString &directory)
{
    return runNsis(directory + QStringLiteral("/Uninstall.exe"), QStringLiteral("/S _?=") + QDir::toNativeSeparators(directory));
}

} // namespace

class WindowsInstallTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { CoUninitialize(); }
    void cleanup();
    void installDirectory_data();
    void installDirectory();
    void uninstallKeepsSaves_data();
    void uninstallKeepsSaves();
    void refusedWhileLauncherRuns();

private:
    QByteArray m_launcher;
};

void WindowsInstallTest::initTestCase()
{
    QVERIFY(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // The test installs for the current user: it must not undo a real
    // installation, its shortcut or the player's settings.
    if (keyExists(kUninstallKey) || keyExists(kSettingsKey) || shortcutExists())
        QSKIP("Zorvan Lumeth is installed for this user");
    m_launcher = readFile(QStringLiteral(ZORVAN_WINDOWS_LAUNCHER));
    QVERIFY(!m_launcher.isEmpty());
}

void WindowsInstallTest::cleanup()
{
    QFile::remove(startMenuShortcut());
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kOrganisationKey); // only when empty
}

void WindowsInstallTest::installDirectory_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<FileMap>("before");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("new directory") << false << FileMap() << true;
    QTest::newRow("empty directory") << true << FileMap() << true;
    QTest::newRow("saves kept by an uninstallation")
        << true << FileMap{{"Saves/Zorvan_Party-1", "progress"}, {"Saves/Backup/b", "backup"}} << true;
    // Either build would take the new launcher's place at its first start.
    QTest::newRow("earlier installation") << true
                                          << FileMap{{"Zorvan Lumeth.exe", "old build"},
                                                     {"Launcher_new.exe", "stale build"},
                                                     {"Launcher_old.exe", "set-aside build"},
                                                     {"Game.exe", "game"},
                                                     {"Data/Map.dat", "map"}}
                                          << true;
    // The uninstaller empties its directory: never one holding other files.
    QTest::newRow("someone else's files") << true << FileMap{{"letter.txt", "dear"}, {"Saves/Zorvan_Party-1", "?"}} << false;
}

// A silent install into a directory with a blank and an accent: the launcher,
// its catalogue and the licences, the uninstaller, the shortcut that starts
// the launcher in its installation, and the uninstall entry, with no earlier
// launcher build left; or, refused, nothing at all.
void WindowsInstallTest::installDirectory()
{
    QFETCH(bool, exists);
    QFETCH(FileMap, before);
    QFETCH(bool, accepted);

    QTemporaryDir parent;
    const QString dir = parent.path() + QStringLiteral("/Jeux é/Zorvan Lumeth");
    if (exists)
        QVERIFY(QDir().mkpath(dir));
    writeTree(dir, before);

    const int exitCode = install(dir);
    if (!accepted) {
        QCOMPARE(exitCode, 2);
        QCOMPARE(snapshot(dir), before);
        QVERIFY(!shortcutExists());
        QVERIFY(!keyExists(kUninstallKey));
        return;
    }
    QCOMPARE(exitCode, 0);

    FileMap expected = before;
    expected.remove(QStringLiteral("Launcher_new.exe"));
    expected.remove(QStringLiteral("Launcher_old.exe"));
    const FileMap licences = snapshot(QStringLiteral(ZORVAN_BUILD_DIR "/licences"));
    QCOMPARE(licences.size(), 8);
    for (auto it = licences.begin(); it != licences.end(); ++it)
        expected.insert(QStringLiteral("Licences/") + it.key(), it.value());
    expected.insert(QStringLiteral("Zorvan Lumeth.exe"), m_launcher);
    expected.insert(QStringLiteral("zorvanlauncher_fr.qm"), readFile(QStringLiteral(ZORVAN_WINDOWS_CATALOGUE)));
    FileMap files = snapshot(dir);
    QVERIFY(files.contains(QStringLiteral("Uninstall.exe")));
    files.remove(QStringLiteral("Uninstall.exe"));
    QCOMPARE(files, expected);

    const QStringList shortcut = readShortcut(startMenuShortcut());
    QCOMPARE(shortcut.size(), 2);
    QVERIFY2(samePath(shortcut.first(), dir + QStringLiteral("/Zorvan Lumeth.exe")), qPrintable(shortcut.first()));
    QVERIFY2(samePath(shortcut.last(), dir), qPrintable(shortcut.last()));

    QSettings entry(QStringLiteral("HKEY_CURRENT_USER\\") + QString::fromWCharArray(kUninstallKey), QSettings::NativeFormat);
    const QString native = QDir::toNativeSeparators(dir);
    QCOMPARE(entry.value("DisplayName").toString(), QStringLiteral("Zorvan Lumeth"));
    QCOMPARE(entry.value("DisplayVersion").toString(), QString::fromLatin1(identity::kLauncherVersion));
    QCOMPARE(entry.value("Publisher").toString(), QString::fromLatin1(identity::kOrganisation));
    QVERIFY(samePath(entry.value("InstallLocation").toString(), native));
    QVERIFY(samePath(entry.value("UninstallString").toString(), '"' + native + QStringLiteral("\\Uninstall.exe\"")));
    QVERIFY(samePath(entry.value("QuietUninstallString").toString(), '"' + native + QStringLiteral("\\Uninstall.exe\" /S")));
    QCOMPARE(uninstall(dir), 0); // leaves the directory as the next test expects it
}

void WindowsInstallTest::uninstallKeepsSaves_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<bool>("gameRuns");

    QTest::newRow("settings") << QString() << false;
    // A signed build's highest accepted publication outlives the launcher,
    // so that a reinstalled one still refuses older publications.
    QTest::newRow("signed build's sequence number") << QStringLiteral("42") << false;
    // A file the running game holds cannot go: the uninstallation stops
    // with everything needed to run it again.
    QTest::newRow("game running") << QString() << true;
}

// After the launcher has run for a while, the uninstaller takes the
// launcher, the game's files and folders, the shortcut, the uninstall entry
// and the launcher's settings, and leaves "Saves" with all it holds.
void WindowsInstallTest::uninstallKeepsSaves()
{
    QFETCH(QString, sequence);
    QFETCH(bool, gameRuns);

    QTemporaryDir parent;
    const QString dir = parent.path() + QStringLiteral("/Zorvan Lumeth");
    QCOMPARE(install(dir), 0);

    const FileMap saves{
        {"Saves/Zorvan_Party-1", "the player's progress"}, {"Saves/Backup/x", "a backup"}, {"Saves/input.yml", "keys: wasd"}};
    const FileMap game{{"Game.exe", "the game"},
                       {"Data/Maps/deep/level 2.dat", "nested"},
                       {"Données/écran.txt", "accents"},
                       {"localversion.txt", "2.0\n"},
                       {"file_listing.xml", "<Files/>"},
                       {".gameopts", "--scale=2"},
                       {"Launcher_old.exe", "previous build"},
                       {kNotes, "notes"}};
    writeTree(dir, saves);
    writeTree(dir, game);
    QSettings settings(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
    settings.setValue(QStringLiteral("graphics"), QStringLiteral("x2"));
    settings.setValue(QStringLiteral("launcher_version"), QStringLiteral("1.1"));
    if (!sequence.isEmpty())
        settings.setValue(QStringLiteral("update_sequence"), sequence);
    settings.sync();
    QVERIFY(keyExists(kSettingsKey));
    writeFile(platform::logDirectory() + QStringLiteral("/launcher.log"), "a run");

    if (gameRuns) {
        // Shared for reading and writing, not for deletion, as a running
        // program holds its executable.
        HANDLE held = CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(dir + "/Game.exe").utf16()), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        const int exitCode = uninstall(dir);
        CloseHandle(held);
        QCOMPARE(exitCode, 4);
        QCOMPARE(snapshot(dir).value(QStringLiteral("Game.exe")), QByteArray("the game"));
        QVERIFY(QFile::exists(dir + "/Uninstall.exe"));
        QVERIFY(shortcutExists());
        QVERIFY(keyExists(kUninstallKey));
        QVERIFY(keyExists(kSettingsKey));
    }
    QCOMPARE(uninstall(dir), 0);

    FileMap left = snapshot(dir);
    // Run in place, the uninstaller cannot delete its own file on Windows.
    left.remove(QStringLiteral("Uninstall.exe"));
    QCOMPARE(left, saves);
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{"Saves"} + (QFile::exists(dir + "/Uninstall.exe") ? QStringList{"Uninstall.exe"} : QStringList()));
    QVERIFY(!shortcutExists());
    QVERIFY(!keyExists(kUninstallKey));
    QVERIFY(!QFileInfo::exists(platform::logDirectory()));
    if (sequence.isEmpty()) {
        QVERIFY(!keyExists(kSettingsKey));
        QVERIFY(!keyExists(kOrganisationKey));
    } else {
        QSettings kept(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
        QCOMPARE(kept.allKeys(), QStringList{"update_sequence"});
        QCOMPARE(kept.value(QStringLiteral("update_sequence")).toString(), sequence);
    }
}

// While the installed launcher runs, the installer and the uninstaller end
// with exit code 3 and change nothing (the catalogue is not rewritten, the
// uninstall entry stays); once it is closed, both go ahead.
void WindowsInstallTest::refusedWhileLauncherRuns()
{
    const Installation installation;
    const QString dir = installation.path();
    QCOMPARE(install(dir), 0);
    const QByteArray catalogue = readFile(dir + "/zorvanlauncher_fr.qm");
    installation.write(QStringLiteral("zorvanlauncher_fr.qm"), "an older catalogue");

    LauncherRun run(installation, updateServer().url(), {}, installation.file(QStringLiteral("Zorvan Lumeth.exe")));
    QVERIFY(run.start());
    QVERIFY2(run.waitForEndOfRun(), qPrintable(run.log()));
    const FileMap before = snapshot(dir);
    QCOMPARE(install(dir), 3);
    QCOMPARE(uninstall(dir), 3);
    QCOMPARE(snapshot(dir), before);
    QVERIFY(keyExists(kUninstallKey));

    run.process.kill();
    QVERIFY(run.process.waitForFinished());
    QCOMPARE(install(dir), 0);
    QCOMPARE(readFile(dir + "/zorvanlauncher_fr.qm"), catalogue);
    QCOMPARE(uninstall(dir), 0);
}

QTEST_GUILESS_MAIN(WindowsInstallTest)
#include "tst_windows_install.moc"
