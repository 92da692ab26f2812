// The save list and the four save operations: their dialogs, their one
// status text each, modified() after a success only, their debug lines, and
// the files.

#include "saves/savemanager.h"
#include "support/debuglines.h"
#include "support/fsfixtures.h"
#include "support/testenv.h"
#include "widgets/customcombobox.h"

#include <QScopeGuard>
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
    // entries and the dot entries of "Saves", compared exactly. Entries come
    // in the walk's order, a directory's own entry before what it holds, each
    // with its debug line. A reload selects the first entry again.
    void saveList()
    {
        TempInstallation install;
        for (const char *file : {"Saves/Zorvan_Party-1", "Saves/input.yml", "Saves/intro.txt", "Saves/Input.yml", "Saves/Backup/one",
                                 "Saves/sub/two", "Saves/sub/deeper/three"})
            install.write(file, "x");
        CustomComboBox list;
        list.reload();
        list.setCurrentIndex(2);
        DebugLines debug;
        list.reload();
        QStringList shown;
        QStringList lines;
        for (int i = 0; i < list.count(); ++i) {
            shown << list.itemText(i);
            lines << "Liste d'un fichier de sauvegarde :" + list.itemText(i);
        }
        QCOMPARE(list.currentIndex(), 0);
        for (int i = 0; i < shown.size(); ++i) {
            const QString parent = shown.at(i).section('/', 0, -2);
            QVERIFY2(shown.indexOf(parent) < i, qPrintable(shown.join(", ")));
        }
        list.getCurrentSave();
        QCOMPARE(debug.lines(), lines + QStringList{"Fichier de sauvegarde : " + shown.value(0)});
        QStringList sorted = shown;
        sorted.sort();
        QStringList expected{"Saves/Backup/one",    "Saves/Input.yml",        "Saves/Zorvan_Party-1", "Saves/sub",
                             "Saves/sub/.",         "Saves/sub/..",           "Saves/sub/deeper",     "Saves/sub/deeper/.",
                             "Saves/sub/deeper/..", "Saves/sub/deeper/three", "Saves/sub/two"};
#ifdef Q_OS_WIN
        // Names differing only in case are one file on Windows.
        expected.removeOne("Saves/Input.yml");
#endif
        QCOMPARE(sorted, expected);
    }

    // `operation`: "backup", "list" (the import of the list entry `answer`),
    // "external" or "remove". `answer`: what the dialog returns, null when it
    // is closed without a choice; "{install}" and "{other}" stand for the
    // installation and a directory beside it. `layout` of the installation:
    // as usual, without the save file or the backup directory, the
    // destination "read-only" or a link to "{other}/linked", or "Saves" on a
    // full disk. Every file has the bits 0600, which a copy carries over.
    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("lines");
        const auto row = [&](const char *tag, const QString &operation, const QString &answer, const QString &layout,
                             const QStringList &events, const QStringList &lines) {
            QTest::addRow("%s: %s", qPrintable(operation), tag) << operation << answer << layout << events << lines;
        };
        const QStringList exported{"Save successfully exported.", kModified};
        const QStringList imported{"Save successfully imported.", kModified};
        const QString export001 = "Unable to export save file. (Error 001)";
        const QString import001 = "Unable to import save file. (Error 001)";
        const QString remove003 = "Unable to remove save file. (Error 003)";
        const QStringList toFirst{"Exporter vers : Saves/Backup/first"};
        const QStringList toNew{"Exporter vers : Saves/Backup/new"};
#ifdef Q_OS_WIN // which deletes no read-only file: the copy then finds it in its way
        const bool readOnlyStays = true;
#else
        const bool readOnlyStays = false;
#endif
        // A backup lands in the backup directory whatever folder was picked.
        row("over a backup, from another folder", "backup", "{other}/first", "", exported, toFirst);
        row("a new backup", "backup", "{install}/Saves/Backup/new", "", exported, toNew);
        row("over a read-only backup", "backup", "{install}/Saves/Backup/first", "read-only",
            readOnlyStays ? QStringList{"Unable to export save file. (Error 002)"} : exported, toFirst);
        row("cancelled", "backup", QString(), "", {export001}, {});
        row("no save file, dialog still shown", "backup", "{install}/Saves/Backup/new", "no save file", {export001}, {});
        row("no backup directory", "backup", "{install}/Saves/Backup/new", "no backup directory",
            {"Unable to export save file. (Error 002)"}, toNew);
        row("a backup", "list", "Saves/Backup/first", "", imported, {"File to import :Saves/Backup/first"});
        row("empty path", "list", "", "", {import001}, {"File to import :"});
        row("the save onto itself", "list", "Saves/Backup/../Zorvan_Party-1", "", {"Unable to import save file. (Error 002)"},
            {"File to import :Saves/Backup/../Zorvan_Party-1"});
        row("file from elsewhere", "external", "{other}/from-a-friend", "", imported, {});
        row("over a read-only save", "external", "{other}/from-a-friend", "read-only",
            readOnlyStays ? QStringList{"Unable to import save file. (Error 2)"} : imported, {});
        // The link is replaced by a plain file; what it led to stays.
        row("over a linked save", "external", "{other}/from-a-friend", "link", imported, {});
        row("cancelled", "external", QString(), "", {import001}, {});
        row("the save onto itself", "external", "{install}/" + kSave, "", {"Unable to import save file. (Error 2)"}, {});
        row("a full disk keeps the save", "external", "{other}/large", "full disk", {"Unable to import save file. (Error 2)"}, {});
        row("Saves/Backup elsewhere on disk", "remove", "{other}/Saves/Backup/old", "", {"Save succesfully removed.", kModified}, {});
        row("the game's save", "remove", "{install}/" + kSave, "", {remove003}, {});
        row("other letter case", "remove", "{other}/saves/backup/old", "", {remove003}, {});
    }

    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, answer);
        QFETCH(QString, layout);
        QFETCH(QStringList, events);
        QFETCH(QStringList, lines);
        TempInstallation install;
        QTemporaryDir other;
        const QString saves = install.absolute("Saves");
        QVERIFY(QDir().mkpath(saves));
        if (layout == "full disk" && !fsfixtures::mountTiny(saves, "64k"))
            QSKIP("cannot mount a tmpfs here (needs root on Linux)");
        if (layout == "link" && !fsfixtures::symbolicLinksAvailable())
            QSKIP("no symbolic links for a normal user here");
        const auto unmount = qScopeGuard([&] {
            if (layout == "full disk")
                fsfixtures::unmount(saves);
        });
        for (const QString &file : {kSave, QString("Saves/Backup/first"), QString("Saves/input.yml")})
            install.write(file, file.toUtf8());
        for (const char *file : {"from-a-friend", "first", "Saves/Backup/old", "saves/backup/old", "linked"})
            writeFile(other.filePath(file), file);
        writeFile(other.filePath("large"), QByteArray(100 * 1024, 'l'));
        if (layout == "no save file")
            QVERIFY(QFile::remove(kSave));
        if (layout == "no backup directory")
            QVERIFY(QDir("Saves/Backup").removeRecursively());
        const QString chosen =
            answer.isNull() ? answer : QString(answer).replace("{install}", install.path()).replace("{other}", other.path());
        const QString destination = operation == "backup" ? "Saves/Backup/" + QFileInfo(chosen).fileName() : kSave;
        for (const QString &root : {install.path(), other.path()}) {
            for (const QString &file : snapshot(root).keys())
                QVERIFY(QFile::setPermissions(root + "/" + file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        }
        if (layout == "read-only")
            QVERIFY(QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        if (layout == "link")
            QVERIFY(QFile::remove(destination) && QFile::link(other.filePath("linked"), destination));
        QMap<QString, QByteArray> installAfter = snapshot(install.path());
        QMap<QString, QByteArray> otherAfter = snapshot(other.path());
        const bool copied = events.contains(kModified) && operation != "remove";
        if (copied)
            installAfter.insert(destination, readFile(operation == "backup" ? kSave : chosen));
        else if (events.contains(kModified))
            (chosen.startsWith(install.path()) ? installAfter : otherAfter).remove(chosen.section('/', -3));

        ScriptedDialogs dialogs;
        dialogs.answer = chosen;
        SaveManager manager;
        QStringList recorded;
        connect(&manager, &SaveManager::infos, [&](const QString &text) { recorded << text; });
        connect(&manager, &SaveManager::modified, [&] { recorded << kModified; });
        DebugLines debug;
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
        QCOMPARE(debug.lines(), lines);
        QCOMPARE(snapshot(install.path()), installAfter);
        QCOMPARE(snapshot(other.path()), otherAfter);
        if (copied) {
#ifndef Q_OS_WIN // where a file has no permission bits
            QCOMPARE(QFile::permissions(destination),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
#endif
        }
    }
};

QTEST_MAIN(SavesTest)
#include "tst_saves.moc"
