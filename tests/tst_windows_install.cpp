// The per-user installer, "Zorvan Lumeth Setup.exe", run silently: where it
// agrees to install, what it leaves (files, Start-menu shortcut, uninstall
// entry), and an uninstallation that removes the launcher's and the game's
// files but never the player's saves. Windows only (Wine here).

#include "platform/identity.h"
#include "support/e2e.h"

#include <QProcess>
#include <QSettings>
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

QString startMenuShortcut()
{
    PWSTR programs = nullptr;
    QString path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &programs)))
        path = QDir::fromNativeSeparators(QString::fromWCharArray(programs)) + QStringLiteral("/Zorvan Lumeth.lnk");
    CoTaskMemFree(programs);
    return path;
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
    void uninstallKeepsSaves();

private:
    QByteArray m_launcher;
};

void WindowsInstallTest::initTestCase()
{
    QVERIFY(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // The test installs for the current user: it must not undo a real
    // installation, its shortcut or the player's settings.
    if (keyExists(kUninstallKey) || keyExists(kSettingsKey) || QFile::exists(startMenuShortcut()))
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
    QTest::newRow("earlier installation") << true
                                          << FileMap{{"Zorvan Lumeth.exe", "old build"}, {"Game.exe", "game"}, {"Data/Map.dat", "map"}}
                                          << true;
    // The uninstaller empties its directory: never one holding other files.
    QTest::newRow("someone else's files") << true << FileMap{{"letter.txt", "dear"}, {"Saves/Zorvan_Party-1", "?"}} << false;
}

// A silent install into a directory with a blank and an accent: the launcher
// and its catalogue, the uninstaller, the shortcut that starts the launcher
// in its installation, and the uninstall entry; or, refused, nothing at all.
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
        QVERIFY(!QFile::exists(startMenuShortcut()));
        QVERIFY(!keyExists(kUninstallKey));
        return;
    }
    QCOMPARE(exitCode, 0);

    FileMap expected = before;
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

// After the launcher has run for a while, the uninstaller takes the
// launcher, the game's files and folders, the shortcut, the uninstall entry
// and the launcher's settings, and leaves "Saves" with all it holds.
void WindowsInstallTest::uninstallKeepsSaves()
{
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
                       {"Notes des mises à jour.txt", "notes"}};
    writeTree(dir, saves);
    writeTree(dir, game);
    QSettings settings(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
    settings.setValue(QStringLiteral("graphics"), QStringLiteral("x2"));
    settings.sync();
    QVERIFY(keyExists(kSettingsKey));

    QCOMPARE(uninstall(dir), 0);

    FileMap left = snapshot(dir);
    // Run in place, the uninstaller cannot delete its own file on Windows.
    left.remove(QStringLiteral("Uninstall.exe"));
    QCOMPARE(left, saves);
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{"Saves"} + (QFile::exists(dir + "/Uninstall.exe") ? QStringList{"Uninstall.exe"} : QStringList()));
    QVERIFY(!QFile::exists(startMenuShortcut()));
    QVERIFY(!keyExists(kUninstallKey));
    QVERIFY(!keyExists(kSettingsKey));
    QVERIFY(!keyExists(kOrganisationKey));
}

QTEST_GUILESS_MAIN(WindowsInstallTest)
#include "tst_windows_install.moc"
