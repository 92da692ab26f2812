// The save list (what the walk of "Saves" offers) and the four save
// operations: their dialogs, their one status text each, modified() after
// success only, and the files on disk before and after.

#include "support/testenv.h"
#include "platform/dialogs.h"
#include "saves/savemanager.h"
#include "widgets/customcombobox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString kSave = QStringLiteral("Saves/Zorvan_Party-1");
const QByteArray kSaveContent("game save: chapter 4, 12h31");
const QString kListDebug = QStringLiteral("Liste d'un fichier de sauvegarde :");

const QString kExported = QStringLiteral("Save successfully exported.");
const QString kExport001 = QStringLiteral("Unable to export save file. (Error 001)");
const QString kExport002 = QStringLiteral("Unable to export save file. (Error 002)");
const QString kImported = QStringLiteral("Save successfully imported.");
const QString kImport001 = QStringLiteral("Unable to import save file. (Error 001)");
const QString kImport002 = QStringLiteral("Unable to import save file. (Error 002)");
const QString kImportExt2 = QStringLiteral("Unable to import save file. (Error 2)");
const QString kRemoved = QStringLiteral("Save succesfully removed.");
const QString kRemove003 = QStringLiteral("Unable to remove save file. (Error 003)");
const QString kModified = QStringLiteral("modified()");

// Answers the launcher's file dialogs from a script and records each call.
class ScriptedDialogs : public platform::Dialogs
{
public:
    ScriptedDialogs() { platform::setDialogs(this); }
    ~ScriptedDialogs() override { platform::setDialogs(nullptr); }

    // The answer of the next dialog; a null string closes it without a choice.
    QString answer;
    // "save|caption|directory|filter" or "open|..." for each dialog shown.
    QStringList calls;

    QString saveFileName(const QString &caption, const QString &directory, const QString &filter) override
    {
        calls << QStringList{"save", caption, directory, filter}.join('|');
        return answer;
    }
    QString openFileName(const QString &caption, const QString &directory, const QString &filter) override
    {
        calls << QStringList{"open", caption, directory, filter}.join('|');
        return answer;
    }
    void information(const QString &) override {}
};

// Both signals of a SaveManager, in the order they came.
class SaveEvents
{
public:
    explicit SaveEvents(SaveManager &manager)
    {
        QObject::connect(&manager, &SaveManager::infos, [this](const QString &text) { events << text; });
        QObject::connect(&manager, &SaveManager::modified, [this] { events << kModified; });
    }
    QStringList events;
};

// Every file below `root` (hidden ones too) with its content.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> result;
    QDir base(root);
    const QStringList names = base.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QFileInfo info(base.filePath(name));
        if (info.isDir() && !info.isSymLink()) {
            const QMap<QString, QByteArray> inner = snapshot(info.filePath());
            for (auto it = inner.cbegin(); it != inner.cend(); ++it)
                result.insert(name + '/' + it.key(), it.value());
            result.insert(name + '/', QByteArray());
        } else {
            QFile file(info.filePath());
            result.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
        }
    }
    return result;
}

// Builds files (or, for names ending in "/", directories) below `root`.
void lay(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString path = QDir(root).filePath(entry);
        if (entry.endsWith('/')) {
            QDir().mkpath(path);
            continue;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write("content of " + entry.toUtf8());
    }
}

// The usual installation: the game's save, two backups, the two non-save
// files, a further save and an empty subdirectory.
void layInstallation(const TempInstallation &install)
{
    lay(install.path(), {"Saves/Backup/first", "Saves/Backup/second", "Saves/input.yml", "Saves/intro.txt",
                         "Saves/Other", "Saves/Sub/"});
    install.write(kSave, kSaveContent);
}

// Replaces the "{install}" and "{other}" markers of a scripted path.
QString placed(const QString &scripted, const QString &install, const QString &other)
{
    if (scripted.isNull())
        return scripted;
    QString path = scripted;
    path.replace("{install}", install);
    path.replace("{other}", other);
    return path;
}

QStringList items(const QComboBox &box)
{
    QStringList result;
    for (int i = 0; i < box.count(); ++i)
        result << box.itemText(i);
    return result;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList withPrefix(const QStringList &lines, const QString &prefix)
{
    QStringList result;
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            result << line;
    }
    return result;
}

QStringList prefixed(const QString &prefix, const QStringList &values)
{
    QStringList result;
    for (const QString &value : values)
        result << prefix + value;
    return result;
}

// Limits the size of any file this process writes, for root as well: a
// write past the limit fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class SavesTest : public QObject
{
    Q_OBJECT

private slots:
    void reloadListsEntries_data();
    void reloadListsEntries();
    void linkedDirectoryIsNotEntered();
    void reloadSelectsFirstAgain();
    void currentSaveCarriesSelection_data();
    void currentSaveCarriesSelection();
    void emptyListImportFails();

    void exportSave_data();
    void exportSave();
    void importSave_data();
    void importSave();
    void importExtSave_data();
    void importExtSave();
    void removeSave_data();
    void removeSave();
    void failedCopyKeepsFiles_data();
    void failedCopyKeepsFiles();
    void backupAndRestoreThroughTheList();
};

void SavesTest::reloadListsEntries_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("save, two backups, non-saves")
        << QStringList{"Saves/Zorvan_Party-1", "Saves/input.yml", "Saves/intro.txt", "Saves/Backup/one",
                       "Saves/Backup/two"}
        << QStringList{"Saves/Zorvan_Party-1", "Saves/Backup/one", "Saves/Backup/two"};
    QTest::newRow("exclusions are case-sensitive")
        << QStringList{"Saves/Input.yml", "Saves/INTRO.TXT", "Saves/input.yml", "Saves/backup/old"}
        << QStringList{"Saves/Input.yml", "Saves/INTRO.TXT", "Saves/backup", "Saves/backup/.", "Saves/backup/..",
                       "Saves/backup/old"};
    QTest::newRow("subdirectory with its dot entries")
        << QStringList{"Saves/Zorvan_Party-1", "Saves/Sub/a"}
        << QStringList{"Saves/Zorvan_Party-1", "Saves/Sub", "Saves/Sub/.", "Saves/Sub/..", "Saves/Sub/a"};
    QTest::newRow("deeper below the backups")
        << QStringList{"Saves/Backup/Old/x", "Saves/Backup/input.yml"}
        << QStringList{"Saves/Backup/Old", "Saves/Backup/Old/.", "Saves/Backup/Old/..", "Saves/Backup/Old/x",
                       "Saves/Backup/input.yml"};
    QTest::newRow("hidden entries not listed")
        << QStringList{"Saves/Zorvan_Party-1", "Saves/.hidden", "Saves/.cache/inner"}
        << QStringList{"Saves/Zorvan_Party-1"};
    QTest::newRow("any name") << QStringList{"Saves/notes.md", "Saves/with blank", "Saves/Zorvan_Party-1.bak"}
                              << QStringList{"Saves/notes.md", "Saves/with blank", "Saves/Zorvan_Party-1.bak"};
    QTest::newRow("empty backup directory") << QStringList{"Saves/Backup/"} << QStringList{};
    QTest::newRow("empty Saves") << QStringList{"Saves/"} << QStringList{};
    QTest::newRow("no Saves") << QStringList{"Other/Zorvan_Party-1"} << QStringList{};
    QTest::newRow("Saves is a file") << QStringList{"Saves"} << QStringList{};
}

void SavesTest::reloadListsEntries()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, listed);

    TempInstallation install;
    lay(install.path(), entries);
    CustomComboBox list;
    DebugCapture debug;
    list.reload();

    const QStringList shown = items(list);
    QCOMPARE(sorted(shown), sorted(listed));
    QCOMPARE(list.currentIndex(), listed.isEmpty() ? -1 : 0);
    QCOMPARE(list.currentText(), listed.isEmpty() ? QString() : shown.first());
    QCOMPARE(withPrefix(debug.lines(), kListDebug), prefixed(kListDebug, shown));
    // A directory's own entry comes before the entries inside it.
    for (int i = 0; i < shown.size(); ++i) {
        for (int j = 0; j < i; ++j)
            QVERIFY2(!shown.at(j).startsWith(shown.at(i) + '/'), qPrintable(shown.join(", ")));
    }
    for (int i = 0; i < list.count(); ++i) {
        QVERIFY(list.itemIcon(i).isNull());
        QVERIFY(!list.itemData(i).isValid());
    }
}

void SavesTest::linkedDirectoryIsNotEntered()
{
    TempInstallation install;
    QTemporaryDir elsewhere;
    lay(elsewhere.path(), {"inner"});
    lay(install.path(), {"Saves/Zorvan_Party-1"});
    QVERIFY(QFile::link(elsewhere.path(), install.absolute("Saves/Link")));

    CustomComboBox list;
    list.reload();

    QCOMPARE(sorted(items(list)), (QStringList{"Saves/Link", "Saves/Zorvan_Party-1"}));
}

void SavesTest::reloadSelectsFirstAgain()
{
    TempInstallation install;
    lay(install.path(), {"Saves/Zorvan_Party-1", "Saves/Backup/one", "Saves/Backup/two"});
    CustomComboBox list;
    list.reload();
    list.setCurrentIndex(2);
    QCOMPARE(list.currentIndex(), 2);

    lay(install.path(), {"Saves/Backup/three"});
    QVERIFY(QFile::remove(install.absolute("Saves/Backup/one")));
    list.reload();

    QCOMPARE(sorted(items(list)), (QStringList{"Saves/Backup/three", "Saves/Backup/two", "Saves/Zorvan_Party-1"}));
    QCOMPARE(list.currentIndex(), 0);
}

void SavesTest::currentSaveCarriesSelection_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("selected");
    QTest::newRow("third entry") << QStringList{"Saves/Zorvan_Party-1", "Saves/Backup/one", "Saves/Backup/two"} << 2;
    QTest::newRow("first entry") << QStringList{"Saves/Zorvan_Party-1", "Saves/Backup/one"} << 0;
    QTest::newRow("empty list") << QStringList{"Saves/"} << -1;
}

void SavesTest::currentSaveCarriesSelection()
{
    QFETCH(QStringList, entries);
    QFETCH(int, selected);

    TempInstallation install;
    lay(install.path(), entries);
    CustomComboBox list;
    list.reload();
    list.setCurrentIndex(selected);
    const QString expected = selected < 0 ? QString("") : list.itemText(selected);
    QSignalSpy currentSave(&list, &CustomComboBox::currentSave);
    DebugCapture debug;

    list.getCurrentSave();

    QCOMPARE(texts(currentSave), QStringList{expected});
    QCOMPARE(debug.lines(), QStringList{"Fichier de sauvegarde : " + expected});
    if (selected < 0)
        QVERIFY(currentSave.at(0).at(0).toString().isEmpty());
}

void SavesTest::emptyListImportFails()
{
    TempInstallation install;
    lay(install.path(), {"Saves/"});
    CustomComboBox list;
    SaveManager manager;
    SaveEvents events(manager);
    QObject::connect(&list, &CustomComboBox::currentSave, &manager, &SaveManager::importSave);
    list.reload();

    list.getCurrentSave();

    QCOMPARE(events.events, QStringList{kImport001});
    QVERIFY(!install.exists(kSave));
}

void SavesTest::exportSave_data()
{
    QTest::addColumn<bool>("hasSave");
    QTest::addColumn<bool>("hasBackupDir");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("backup");

    QTest::newRow("into the backup directory")
        << true << true << "{install}/Saves/Backup/mine" << QStringList{kExported, kModified} << "Saves/Backup/mine";
    QTest::newRow("another folder picked")
        << true << true << "{other}/mine" << QStringList{kExported, kModified} << "Saves/Backup/mine";
    QTest::newRow("folder inside Saves picked")
        << true << true << "{install}/Saves/Sub/deep" << QStringList{kExported, kModified} << "Saves/Backup/deep";
    QTest::newRow("existing backup replaced")
        << true << true << "{install}/Saves/Backup/first" << QStringList{kExported, kModified} << "Saves/Backup/first";
    QTest::newRow("cancelled") << true << true << QString() << QStringList{kExport001} << QString();
    QTest::newRow("no save file") << false << true << "{install}/Saves/Backup/mine" << QStringList{kExport001}
                                  << QString();
    QTest::newRow("no save file, cancelled") << false << true << QString() << QStringList{kExport001} << QString();
    QTest::newRow("no backup directory")
        << true << false << "{install}/Saves/Backup/mine" << QStringList{kExport002} << QString();
}

void SavesTest::exportSave()
{
    QFETCH(bool, hasSave);
    QFETCH(bool, hasBackupDir);
    QFETCH(QString, choice);
    QFETCH(QStringList, events);
    QFETCH(QString, backup);

    TempInstallation install;
    QTemporaryDir other;
    layInstallation(install);
    if (!hasSave)
        QVERIFY(QFile::remove(install.absolute(kSave)));
    if (!hasBackupDir)
        QVERIFY(QDir(install.absolute("Saves/Backup")).removeRecursively());
    QMap<QString, QByteArray> expected = snapshot(install.path());
    if (!backup.isEmpty())
        expected.insert(backup, kSaveContent);

    ScriptedDialogs dialogs;
    dialogs.answer = placed(choice, install.path(), other.path());
    SaveManager manager;
    SaveEvents recorded(manager);
    DebugCapture debug;
    manager.exportSave();

    QCOMPARE(dialogs.calls, QStringList{"save|Save as|Saves/Backup|Save files (*)"});
    QCOMPARE(recorded.events, events);
    QCOMPARE(snapshot(install.path()), expected);
    QVERIFY(snapshot(other.path()).isEmpty());
    QCOMPARE(install.exists("Saves/Backup"), hasBackupDir);
    const QString target = "Saves/Backup/" + QFileInfo(dialogs.answer).fileName();
    const bool copied = hasSave && !choice.isNull();
    QCOMPARE(withPrefix(debug.lines(), "Exporter vers"),
             copied ? QStringList{"Exporter vers : " + target} : QStringList{});
}

void SavesTest::importSave_data()
{
    QTest::addColumn<bool>("hasSave");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("source");

    QTest::newRow("backup from the list")
        << true << "Saves/Backup/first" << QStringList{kImported, kModified} << "Saves/Backup/first";
    QTest::newRow("other list entry") << true << "Saves/Other" << QStringList{kImported, kModified} << "Saves/Other";
    QTest::newRow("absolute path") << true << "{install}/Saves/Backup/second" << QStringList{kImported, kModified}
                                   << "Saves/Backup/second";
    QTest::newRow("no save file yet")
        << false << "Saves/Backup/first" << QStringList{kImported, kModified} << "Saves/Backup/first";
    QTest::newRow("empty path") << true << "" << QStringList{kImport001} << QString();
    QTest::newRow("missing file") << true << "Saves/Backup/gone" << QStringList{kImport001} << QString();
    QTest::newRow("directory") << true << "Saves/Sub" << QStringList{kImport001} << QString();
    QTest::newRow("dot entry") << true << "Saves/Sub/." << QStringList{kImport001} << QString();
    QTest::newRow("the save onto itself") << true << kSave << QStringList{kImport002} << QString();
    QTest::newRow("the save onto itself, absolute")
        << true << "{install}/Saves/Zorvan_Party-1" << QStringList{kImport002} << QString();
    QTest::newRow("the save onto itself, roundabout")
        << true << "Saves/Backup/../Zorvan_Party-1" << QStringList{kImport002} << QString();
}

void SavesTest::importSave()
{
    QFETCH(bool, hasSave);
    QFETCH(QString, path);
    QFETCH(QStringList, events);
    QFETCH(QString, source);

    TempInstallation install;
    layInstallation(install);
    if (!hasSave)
        QVERIFY(QFile::remove(install.absolute(kSave)));
    QMap<QString, QByteArray> expected = snapshot(install.path());
    if (!source.isEmpty())
        expected.insert(kSave, install.read(source));
    const QString given = placed(path, install.path(), QString());

    ScriptedDialogs dialogs;
    SaveManager manager;
    SaveEvents recorded(manager);
    DebugCapture debug;
    manager.importSave(given);

    QCOMPARE(recorded.events, events);
    QCOMPARE(snapshot(install.path()), expected);
    QCOMPARE(debug.lines(), QStringList{"File to import :" + given});
    QVERIFY(dialogs.calls.isEmpty());
}

void SavesTest::importExtSave_data()
{
    QTest::addColumn<bool>("hasSaves");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("source");

    QTest::newRow("file from elsewhere")
        << true << "{other}/from-a-friend" << QStringList{kImported, kModified} << "{other}/from-a-friend";
    QTest::newRow("a backup") << true << "{install}/Saves/Backup/first" << QStringList{kImported, kModified}
                              << "{install}/Saves/Backup/first";
    QTest::newRow("cancelled") << true << QString() << QStringList{kImport001} << QString();
    QTest::newRow("missing file") << true << "{other}/gone" << QStringList{kImport001} << QString();
    QTest::newRow("directory") << true << "{other}" << QStringList{kImport001} << QString();
    QTest::newRow("the save onto itself")
        << true << "{install}/Saves/Zorvan_Party-1" << QStringList{kImportExt2} << QString();
    QTest::newRow("no Saves directory") << false << "{other}/from-a-friend" << QStringList{kImportExt2} << QString();
}

void SavesTest::importExtSave()
{
    QFETCH(bool, hasSaves);
    QFETCH(QString, choice);
    QFETCH(QStringList, events);
    QFETCH(QString, source);

    TempInstallation install;
    QTemporaryDir other;
    if (hasSaves)
        layInstallation(install);
    lay(other.path(), {"from-a-friend"});
    const QMap<QString, QByteArray> otherBefore = snapshot(other.path());
    QMap<QString, QByteArray> expected = snapshot(install.path());
    if (!source.isEmpty()) {
        QFile file(placed(source, install.path(), other.path()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        expected.insert(kSave, file.readAll());
    }

    ScriptedDialogs dialogs;
    dialogs.answer = placed(choice, install.path(), other.path());
    SaveManager manager;
    SaveEvents recorded(manager);
    manager.importExtSave();

    QCOMPARE(dialogs.calls, QStringList{"open|Select save file|.|Save files (*)"});
    QCOMPARE(recorded.events, events);
    QCOMPARE(snapshot(install.path()), expected);
    QCOMPARE(snapshot(other.path()), otherBefore);
    QCOMPARE(install.exists("Saves"), hasSaves);
}

void SavesTest::removeSave_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("events");

    const QStringList removed{kRemoved, kModified};
    const QStringList refused{kRemove003};
    QTest::newRow("a backup") << "{install}/Saves/Backup/first" << removed;
    QTest::newRow("a backup, relative path") << "Saves/Backup/second" << removed;
    QTest::newRow("Saves/Backup elsewhere on disk") << "{other}/Saves/Backup/old" << removed;
    QTest::newRow("text inside a longer folder name") << "{other}/Saves/Backups/old" << removed;
    QTest::newRow("cancelled") << QString() << refused;
    QTest::newRow("missing backup") << "{install}/Saves/Backup/gone" << refused;
    QTest::newRow("the game's save") << "{install}/Saves/Zorvan_Party-1" << refused;
    QTest::newRow("another save") << "{install}/Saves/Other" << refused;
    QTest::newRow("other letter case") << "{other}/saves/backup/old" << refused;
    QTest::newRow("outside any backup folder") << "{other}/old" << refused;
    QTest::newRow("a directory in the backups") << "{install}/Saves/Backup/Folder" << refused;
}

void SavesTest::removeSave()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, events);

    TempInstallation install;
    QTemporaryDir other;
    layInstallation(install);
    lay(install.path(), {"Saves/Backup/Folder/"});
    lay(other.path(), {"Saves/Backup/old", "Saves/Backups/old", "saves/backup/old", "old"});
    const QString chosen = placed(choice, install.path(), other.path());
    const bool removes = events.contains(kModified);
    QMap<QString, QByteArray> installAfter = snapshot(install.path());
    QMap<QString, QByteArray> otherAfter = snapshot(other.path());
    if (removes) {
        const QString absolute = QFileInfo(chosen).absoluteFilePath();
        installAfter.remove(QDir(install.path()).relativeFilePath(absolute));
        otherAfter.remove(QDir(other.path()).relativeFilePath(absolute));
    }

    ScriptedDialogs dialogs;
    dialogs.answer = chosen;
    SaveManager manager;
    SaveEvents recorded(manager);
    manager.removeSave();

    QCOMPARE(dialogs.calls, QStringList{"open|Select save file|Saves/Backup|Save files (*)"});
    QCOMPARE(recorded.events, events);
    QCOMPARE(snapshot(install.path()), installAfter);
    QCOMPARE(snapshot(other.path()), otherAfter);
    if (removes)
        QVERIFY(!QFileInfo::exists(chosen));
}

// Copies that break off after they began, in ways that also stop root:
// - "/proc/self/mem" opens for reading, but reading it from its start fails
//   (the first page of the address space is never mapped);
// - a file-size limit (RLIMIT_FSIZE) applies to every user, so writing a
//   256 KiB copy under a 64 KiB limit fails part-way through.
// Neither may cost the player the file that was there before.
void SavesTest::failedCopyKeepsFiles_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("list import, unreadable source") << "list" << "unreadable" << QStringList{kImport002};
    QTest::newRow("list import, size limit") << "list" << "size limit" << QStringList{kImport002};
    QTest::newRow("external import, unreadable source") << "external" << "unreadable" << QStringList{kImportExt2};
    QTest::newRow("external import, size limit") << "external" << "size limit" << QStringList{kImportExt2};
    QTest::newRow("backup, unreadable save") << "backup" << "unreadable" << QStringList{kExport002};
    QTest::newRow("backup, size limit") << "backup" << "size limit" << QStringList{kExport002};
}

void SavesTest::failedCopyKeepsFiles()
{
    QFETCH(QString, operation);
    QFETCH(QString, failure);
    QFETCH(QStringList, events);

    TempInstallation install;
    QTemporaryDir other;
    layInstallation(install);
    const QByteArray large(256 * 1024, 'z');
    QString source;
    if (failure == "unreadable") {
        source = QStringLiteral("/proc/self/mem");
    } else {
        source = other.filePath("large");
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(large), qint64(large.size()));
    }
    if (operation == "backup") {
        // The backup copies the game's save: make it the failing source.
        QVERIFY(QFile::remove(install.absolute(kSave)));
        if (failure == "unreadable")
            QVERIFY(QFile::link(source, install.absolute(kSave)));
        else
            install.write(kSave, large);
    }
    const QMap<QString, QByteArray> before = snapshot(install.path());

    ScriptedDialogs dialogs;
    dialogs.answer = operation == "backup" ? install.absolute("Saves/Backup/first") : source;
    SaveManager manager;
    SaveEvents recorded(manager);
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (failure == "size limit")
            limit = std::make_unique<FileSizeLimit>(64 * 1024);
        QVERIFY(!limit || limit->active());
        if (operation == "list")
            manager.importSave(source);
        else if (operation == "external")
            manager.importExtSave();
        else
            manager.exportSave();
    }

    QCOMPARE(recorded.events, events);
    // Byte for byte as before, and no temporary copy left beside it.
    QCOMPARE(snapshot(install.path()), before);
    if (operation == "backup")
        QCOMPARE(install.read("Saves/Backup/first"), QByteArray("content of Saves/Backup/first"));
    else
        QCOMPARE(install.read(kSave), kSaveContent);
}

void SavesTest::backupAndRestoreThroughTheList()
{
    TempInstallation install;
    layInstallation(install);
    ScriptedDialogs dialogs;
    SaveManager manager;
    CustomComboBox list;
    SaveEvents recorded(manager);
    QObject::connect(&manager, &SaveManager::modified, &list, &CustomComboBox::reload);
    QObject::connect(&list, &CustomComboBox::currentSave, &manager, &SaveManager::importSave);
    list.reload();
    QVERIFY(!items(list).contains("Saves/Backup/before the boss"));

    dialogs.answer = install.absolute("Saves/Backup/before the boss");
    list.setCurrentIndex(2);
    manager.exportSave();
    QCOMPARE(recorded.events, (QStringList{kExported, kModified}));
    QVERIFY(items(list).contains("Saves/Backup/before the boss"));
    QCOMPARE(list.currentIndex(), 0);

    // The game goes on and overwrites its save; the player restores the backup.
    install.write(kSave, "game save: lost to the boss");
    list.setCurrentIndex(items(list).indexOf("Saves/Backup/before the boss"));
    recorded.events.clear();
    list.getCurrentSave();
    QCOMPARE(recorded.events, (QStringList{kImported, kModified}));
    QCOMPARE(install.read(kSave), kSaveContent);
    QCOMPARE(list.currentIndex(), 0);

    // A failure leaves the list as it was, selection included.
    const QStringList shown = items(list);
    list.setCurrentIndex(1);
    recorded.events.clear();
    dialogs.answer = QString();
    manager.importExtSave();
    QCOMPARE(recorded.events, QStringList{kImport001});
    QCOMPARE(items(list), shown);
    QCOMPARE(list.currentIndex(), 1);
}

QTEST_MAIN(SavesTest)
#include "tst_saves.moc"
