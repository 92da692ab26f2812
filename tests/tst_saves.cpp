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
#include <optional>
#include <sys/resource.h>

namespace {

const QString kSave = QStringLiteral("Saves/Zorvan_Party-1");
const QByteArray kSaveContent("game save: chapter 4, 12h31");

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

// Every file below `root` (hidden ones too) with its content; directories
// as "name/".
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> result;
    QDir base(root);
    for (const QString &name : base.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
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

// Builds below `root`: files, directories (names ending in "/"), and links
// ("name -> target").
void lay(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString path = QDir(root).filePath(entry.section(" -> ", 0, 0));
        QDir().mkpath(entry.endsWith('/') ? path : QFileInfo(path).absolutePath());
        if (entry.contains(" -> ")) {
            QFile::link(entry.section(" -> ", 1), path);
        } else if (!entry.endsWith('/')) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                qFatal("cannot write %s", qPrintable(path));
            file.write("content of " + entry.toUtf8());
        }
    }
}

// The usual installation: the game's save, two backups, the two non-save
// files, a further save and two empty directories.
void layInstallation(const TempInstallation &install)
{
    lay(install.path(), {"Saves/Backup/first", "Saves/Backup/second", "Saves/Backup/Folder/", "Saves/input.yml", "Saves/intro.txt",
                         "Saves/Other", "Saves/Sub/"});
    install.write(kSave, kSaveContent);
}

// Replaces the "{install}" and "{other}" markers of a scripted path.
QString placed(QString scripted, const QString &install, const QString &other)
{
    return scripted.isNull() ? scripted : scripted.replace("{install}", install).replace("{other}", other);
}

QStringList items(const QComboBox &box)
{
    QStringList result;
    for (int i = 0; i < box.count(); ++i)
        result << box.itemText(i);
    return result;
}

// Limits the size of any file this process writes, for root as well: a
// write past the limit fails with EFBIG instead of raising SIGXFSZ.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{bytes, previous.rlim_max};
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
    }
    void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    bool active = false;
};

} // namespace

class SavesTest : public QObject
{
    Q_OBJECT

private slots:
    void reloadListsEntries_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("listed");

        QTest::newRow("save, two backups, non-saves")
            << QStringList{"Saves/Zorvan_Party-1", "Saves/input.yml", "Saves/intro.txt", "Saves/Backup/one", "Saves/Backup/two"}
            << QStringList{"Saves/Zorvan_Party-1", "Saves/Backup/one", "Saves/Backup/two"};
        QTest::newRow("exclusions are case-sensitive")
            << QStringList{"Saves/Input.yml", "Saves/INTRO.TXT", "Saves/input.yml", "Saves/backup/old"}
            << QStringList{"Saves/Input.yml", "Saves/INTRO.TXT", "Saves/backup", "Saves/backup/.", "Saves/backup/..", "Saves/backup/old"};
        QTest::newRow("subdirectory with its dot entries")
            << QStringList{"Saves/Zorvan_Party-1", "Saves/Sub/a"}
            << QStringList{"Saves/Zorvan_Party-1", "Saves/Sub", "Saves/Sub/.", "Saves/Sub/..", "Saves/Sub/a"};
        QTest::newRow("deeper below the backups")
            << QStringList{"Saves/Backup/Old/x", "Saves/Backup/input.yml"}
            << QStringList{"Saves/Backup/Old", "Saves/Backup/Old/.", "Saves/Backup/Old/..", "Saves/Backup/Old/x", "Saves/Backup/input.yml"};
        QTest::newRow("hidden entries not listed")
            << QStringList{"Saves/Zorvan_Party-1", "Saves/.hidden", "Saves/.cache/inner"} << QStringList{"Saves/Zorvan_Party-1"};
        QTest::newRow("linked directory not entered")
            << QStringList{"Elsewhere/inner", "Saves/Zorvan_Party-1", "Saves/Link -> ../Elsewhere"}
            << QStringList{"Saves/Zorvan_Party-1", "Saves/Link"};
        QTest::newRow("any name") << QStringList{"Saves/notes.md", "Saves/with blank", "Saves/Zorvan_Party-1.bak"}
                                  << QStringList{"Saves/notes.md", "Saves/with blank", "Saves/Zorvan_Party-1.bak"};
        QTest::newRow("empty backup directory") << QStringList{"Saves/Backup/"} << QStringList{};
        QTest::newRow("no Saves") << QStringList{"Other/Zorvan_Party-1"} << QStringList{};
    }

    void reloadListsEntries()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, listed);
        TempInstallation install;
        lay(install.path(), entries);
        CustomComboBox list;
        list.reload();

        // In the file system's order, the first entry selected.
        const QStringList shown = items(list);
        QStringList shownSorted = shown;
        shownSorted.sort();
        listed.sort();
        QCOMPARE(shownSorted, listed);
        QCOMPARE(list.currentIndex(), listed.isEmpty() ? -1 : 0);
        // A directory's own entry comes before the entries inside it.
        for (int i = 0; i < shown.size(); ++i) {
            for (int j = 0; j < i; ++j)
                QVERIFY2(!shown.at(j).startsWith(shown.at(i) + '/'), qPrintable(shown.join(", ")));
        }
    }

    // `operation`: "backup", "list" (import of a list entry, `answer` being
    // the entry), "external" or "remove". `change` to the usual installation
    // first: "-path" removes, "path -> target" makes a link. `answer`: the
    // dialog's answer, null when it is closed without a choice.
    //
    // Copies that break off after they began, in ways that also stop root,
    // may not cost the player the file that was there before:
    // - "/proc/self/mem" opens for reading, but reading it from its start
    //   fails (the first page of the address space is never mapped);
    // - a file-size limit (RLIMIT_FSIZE) applies to every user, so writing
    //   the 256 KiB "{other}/large" under a 64 KiB limit fails part-way.
    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("sizeLimit");

        const QStringList exported{kExported, kModified};
        const QStringList imported{kImported, kModified};
        const QStringList removed{kRemoved, kModified};
        const QString none;
        const auto row = [](const char *tag, const char *operation, const QString &change, const QString &answer,
                            const QStringList &events, bool sizeLimit = false) {
            QTest::addRow("%s: %s", operation, tag) << QString(operation) << change << answer << events << sizeLimit;
        };
        // A backup always lands in the backup directory, under the name chosen.
        row("into the backup directory", "backup", none, "{install}/Saves/Backup/mine", exported);
        row("another folder picked", "backup", none, "{other}/mine", exported);
        row("existing backup replaced", "backup", none, "{install}/Saves/Backup/first", exported);
        row("cancelled", "backup", none, none, {kExport001});
        row("no save file, dialog still shown", "backup", "-" + kSave, "{install}/Saves/Backup/mine", {kExport001});
        row("no backup directory", "backup", "-Saves/Backup", "{install}/Saves/Backup/mine", {kExport002});
        row("unreadable save", "backup", kSave + " -> /proc/self/mem", "{install}/Saves/Backup/first", {kExport002});
        row("size limit", "backup", kSave + " -> {other}/large", "{install}/Saves/Backup/first", {kExport002}, true);

        row("a backup", "list", none, "Saves/Backup/first", imported);
        row("absolute path", "list", none, "{install}/Saves/Backup/second", imported);
        row("no save file yet", "list", "-" + kSave, "Saves/Backup/first", imported);
        row("empty path", "list", none, "", {kImport001});
        row("missing file", "list", none, "Saves/Backup/gone", {kImport001});
        row("directory", "list", none, "Saves/Sub", {kImport001});
        row("the save onto itself", "list", none, kSave, {kImport002});
        row("the save onto itself, absolute", "list", none, "{install}/Saves/Zorvan_Party-1", {kImport002});
        row("the save onto itself, roundabout", "list", none, "Saves/Backup/../Zorvan_Party-1", {kImport002});
        row("unreadable source", "list", none, "/proc/self/mem", {kImport002});
        row("size limit", "list", none, "{other}/large", {kImport002}, true);

        row("file from elsewhere", "external", none, "{other}/from-a-friend", imported);
        row("cancelled", "external", none, none, {kImport001});
        row("missing file", "external", none, "{other}/gone", {kImport001});
        row("directory", "external", none, "{other}", {kImport001});
        row("the save onto itself", "external", none, "{install}/Saves/Zorvan_Party-1", {kImportExt2});
        row("no Saves directory", "external", "-Saves", "{other}/from-a-friend", {kImportExt2});
        row("unreadable source", "external", none, "/proc/self/mem", {kImportExt2});
        row("size limit", "external", none, "{other}/large", {kImportExt2}, true);

        // Only a file whose path contains "Saves/Backup", letter case included.
        row("a backup", "remove", none, "{install}/Saves/Backup/first", removed);
        row("a backup, relative path", "remove", none, "Saves/Backup/second", removed);
        row("Saves/Backup elsewhere on disk", "remove", none, "{other}/Saves/Backup/old", removed);
        row("text inside a longer folder name", "remove", none, "{other}/Saves/Backups/old", removed);
        row("cancelled", "remove", none, none, {kRemove003});
        row("missing backup", "remove", none, "{install}/Saves/Backup/gone", {kRemove003});
        row("the game's save", "remove", none, "{install}/Saves/Zorvan_Party-1", {kRemove003});
        row("another save", "remove", none, "{install}/Saves/Other", {kRemove003});
        row("other letter case", "remove", none, "{other}/saves/backup/old", {kRemove003});
        row("outside any backup folder", "remove", none, "{other}/old", {kRemove003});
        row("a directory in the backups", "remove", none, "{install}/Saves/Backup/Folder", {kRemove003});
    }

    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, change);
        QFETCH(QString, answer);
        QFETCH(QStringList, events);
        QFETCH(bool, sizeLimit);
        TempInstallation install;
        QTemporaryDir other;
        layInstallation(install);
        lay(other.path(), {"from-a-friend", "Saves/Backup/old", "Saves/Backups/old", "saves/backup/old", "old"});
        QFile large(other.filePath("large"));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.write(QByteArray(256 * 1024, 'z')) == 256 * 1024);
        large.close();
        const QString removed = change.startsWith('-') ? change.mid(1) : change.section(" -> ", 0, 0);
        if (!change.isEmpty())
            QVERIFY(QFileInfo(removed).isDir() ? QDir(removed).removeRecursively() : QFile::remove(removed));
        if (change.contains(" -> "))
            lay(install.path(), {placed(change, install.path(), other.path())});
        const QString chosen = placed(answer, install.path(), other.path());
        QMap<QString, QByteArray> installAfter = snapshot(install.path());
        QMap<QString, QByteArray> otherAfter = snapshot(other.path());
        const bool succeeds = events.contains(kModified);
        if (succeeds && operation == "backup") {
            installAfter.insert("Saves/Backup/" + QFileInfo(chosen).fileName(), kSaveContent);
        } else if (succeeds && operation == "remove") {
            const QString absolute = QFileInfo(chosen).absoluteFilePath();
            installAfter.remove(QDir(install.path()).relativeFilePath(absolute));
            otherAfter.remove(QDir(other.path()).relativeFilePath(absolute));
        } else if (succeeds) {
            QFile source(chosen);
            QVERIFY(source.open(QIODevice::ReadOnly));
            installAfter.insert(kSave, source.readAll());
        }

        ScriptedDialogs dialogs;
        dialogs.answer = chosen;
        SaveManager manager;
        SaveEvents recorded(manager);
        DebugCapture debug;
        {
            std::optional<FileSizeLimit> limit;
            if (sizeLimit)
                limit.emplace(64 * 1024);
            QVERIFY(!limit || limit->active);
            if (operation == "backup")
                manager.exportSave();
            else if (operation == "list")
                manager.importSave(chosen);
            else if (operation == "external")
                manager.importExtSave();
            else
                manager.removeSave();
        }

        const QMap<QString, QString> dialog = {{"backup", "save|Save as|Saves/Backup|Save files (*)"},
                                               {"external", "open|Select save file|.|Save files (*)"},
                                               {"remove", "open|Select save file|Saves/Backup|Save files (*)"}};
        QCOMPARE(dialogs.calls, dialog.contains(operation) ? QStringList{dialog.value(operation)} : QStringList());
        QCOMPARE(recorded.events, events);
        // Byte for byte as expected, and no temporary copy left anywhere.
        QCOMPARE(snapshot(install.path()), installAfter);
        QCOMPARE(snapshot(other.path()), otherAfter);
        if (operation == "list")
            QCOMPARE(debug.lines(), QStringList{"File to import :" + chosen});
        if (operation == "backup" && events != QStringList{kExport001})
            QCOMPARE(debug.lines().filter("Exporter vers"), QStringList{"Exporter vers : Saves/Backup/" + QFileInfo(chosen).fileName()});
    }

    // The whole round: back up, restore through the list, and a failure
    // that leaves the list alone.
    void backupAndRestoreThroughTheList()
    {
        TempInstallation install;
        layInstallation(install);
        ScriptedDialogs dialogs;
        SaveManager manager;
        CustomComboBox list;
        SaveEvents recorded(manager);
        QObject::connect(&manager, &SaveManager::modified, &list, &CustomComboBox::reload);
        QObject::connect(&list, &CustomComboBox::currentSave, &manager, &SaveManager::importSave);
        // Before the first reload the list is empty: an empty path is imported.
        list.getCurrentSave();
        QCOMPARE(recorded.events, QStringList{kImport001});
        recorded.events.clear();
        list.reload();
        QVERIFY(!items(list).contains("Saves/Backup/before the boss"));

        // A success reloads the list, which selects its first entry again.
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
        {
            DebugCapture debug;
            list.getCurrentSave();
            QCOMPARE(debug.lines().first(), QString("Fichier de sauvegarde : Saves/Backup/before the boss"));
        }
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
};

QTEST_MAIN(SavesTest)
#include "tst_saves.moc"
