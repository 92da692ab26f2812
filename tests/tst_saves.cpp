// The save list and the four save operations: their dialogs, their one
// status text each, modified() after a success only, and the files.

#include "support/testenv.h"
#include "saves/savemanager.h"
#include "widgets/customcombobox.h"

#include <QTest>

namespace {

const QString kSave = QStringLiteral("Saves/Zorvan_Party-1");
const QString kModified = QStringLiteral("modified()");

} // namespace

class SavesTest : public QObject
{
    Q_OBJECT

private slots:
    // Not listed: the game's two non-save files, the backup directory's own
    // entries and the dot entries of "Saves", compared exactly. A reload selects
    // the first entry again.
    void saveList()
    {
        TempInstallation install;
        for (const char *file :
             {"Saves/Zorvan_Party-1", "Saves/input.yml", "Saves/intro.txt", "Saves/Input.yml", "Saves/Backup/one", "Saves/sub/two"})
            install.write(file, "x");
        CustomComboBox list;
        list.reload();
        list.setCurrentIndex(2);
        list.reload();
        QStringList shown;
        for (int i = 0; i < list.count(); ++i)
            shown << list.itemText(i);
        QCOMPARE(list.currentIndex(), 0);
        shown.sort();
        QCOMPARE(shown, (QStringList{"Saves/Backup/one", "Saves/Input.yml", "Saves/Zorvan_Party-1", "Saves/sub", "Saves/sub/.",
                                     "Saves/sub/..", "Saves/sub/two"}));
    }

    // `operation`: "backup", "list" (the import of the list entry `answer`),
    // "external" or "remove", perhaps "without" a path of the installation.
    // `answer`: what the dialog returns, null when it is closed without a choice;
    // "{install}" and "{other}": the installation and a directory beside it.
    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("events");
        const auto row = [&](const char *tag, const QString &operation, const QString &answer, const QStringList &events) {
            QTest::addRow("%s: %s", qPrintable(operation.section(' ', 0, 0)), tag) << operation << answer << events;
        };
        const QStringList exported{"Save successfully exported.", kModified};
        const QStringList imported{"Save successfully imported.", kModified};
        const QString export001 = "Unable to export save file. (Error 001)";
        const QString import001 = "Unable to import save file. (Error 001)";
        const QString remove003 = "Unable to remove save file. (Error 003)";
        // A backup lands in the backup directory whatever folder was picked.
        row("over a backup, from another folder", "backup", "{other}/first", exported);
        row("cancelled", "backup", QString(), {export001});
        row("no save file, dialog still shown", "backup without " + kSave, "{install}/Saves/Backup/new", {export001});
        row("no backup directory", "backup without Saves/Backup", "{install}/Saves/Backup/new",
            {"Unable to export save file. (Error 002)"});
        row("a backup", "list", "Saves/Backup/first", imported);
        row("empty path", "list", "", {import001});
        row("the save onto itself", "list", "Saves/Backup/../Zorvan_Party-1", {"Unable to import save file. (Error 002)"});
        row("file from elsewhere", "external", "{other}/from-a-friend", imported);
        row("cancelled", "external", QString(), {import001});
        row("the save onto itself", "external", "{install}/" + kSave, {"Unable to import save file. (Error 2)"});
        row("a backup", "remove", "{install}/Saves/Backup/first", {"Save succesfully removed.", kModified});
        row("Saves/Backup elsewhere on disk", "remove", "{other}/Saves/Backup/old", {"Save succesfully removed.", kModified});
        row("cancelled", "remove", QString(), {remove003});
        row("the game's save", "remove", "{install}/" + kSave, {remove003});
        row("other letter case", "remove", "{other}/saves/backup/old", {remove003});
    }

    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, answer);
        QFETCH(QStringList, events);
        TempInstallation install;
        QTemporaryDir other;
        for (const QString &file : {kSave, QString("Saves/Backup/first"), QString("Saves/input.yml")})
            install.write(file, file.toUtf8());
        for (const char *file : {"from-a-friend", "first", "Saves/Backup/old", "saves/backup/old"})
            writeFile(other.filePath(file), file);
        const QString removed = operation.section(" without ", 1);
        operation = operation.section(' ', 0, 0);
        if (!removed.isEmpty())
            QVERIFY(QFileInfo(removed).isDir() ? QDir(removed).removeRecursively() : QFile::remove(removed));
        const QString chosen =
            answer.isNull() ? answer : QString(answer).replace("{install}", install.path()).replace("{other}", other.path());
        QMap<QString, QByteArray> installAfter = snapshot(install.path());
        QMap<QString, QByteArray> otherAfter = snapshot(other.path());
        if (events.contains(kModified) && operation == "backup")
            installAfter.insert("Saves/Backup/" + QFileInfo(chosen).fileName(), installAfter.value(kSave));
        else if (events.contains(kModified) && operation == "remove")
            (chosen.startsWith(install.path()) ? installAfter : otherAfter).remove(chosen.section('/', -3));
        else if (events.contains(kModified))
            installAfter.insert(kSave, readFile(chosen));

        ScriptedDialogs dialogs;
        dialogs.answer = chosen;
        SaveManager manager;
        QStringList recorded;
        connect(&manager, &SaveManager::infos, [&](const QString &text) { recorded << text; });
        connect(&manager, &SaveManager::modified, [&] { recorded << kModified; });
        if (operation == "backup")
            manager.exportSave();
        else if (operation == "list")
            manager.importSave(chosen);
        else if (operation == "external")
            manager.importExtSave();
        else
            manager.removeSave();

        const QMap<QString, QString> dialog = {{"backup", "save|Save as|Saves/Backup|Save files (*)"},
                                               {"external", "open|Select save file|.|Save files (*)"},
                                               {"remove", "open|Select save file|Saves/Backup|Save files (*)"}};
        QCOMPARE(dialogs.calls, dialog.contains(operation) ? QStringList{dialog.value(operation)} : QStringList());
        QCOMPARE(recorded, events);
        QCOMPARE(snapshot(install.path()), installAfter);
        QCOMPARE(snapshot(other.path()), otherAfter);
    }
};

QTEST_MAIN(SavesTest)
#include "tst_saves.moc"
