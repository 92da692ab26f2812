#include "saves/savemanager.h"

#include "platform/dialogs.h"
#include "platform/log.h"
#include "platform/replacefile.h"

#include <QFile>
#include <QFileInfo>

namespace {

const char *const kGameSave = "Saves/Zorvan_Party-1";
const char *const kBackupDir = "Saves/Backup";
const char *const kBackupPrefix = "Saves/Backup/";

QString gameSave()
{
    return QString::fromLatin1(kGameSave);
}

bool readable(const QString &path)
{
    QFile file(path);
    return !path.isEmpty() && QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}

QString saveFilter()
{
    return SaveManager::tr("Save files (*)");
}

} // namespace

namespace saves {

bool replaceWithCopy(const QString &source, const QString &destination)
{
    // The source reached through the destination's own name (its directory
    // resolved, a link at the name not): copying it onto itself would lose it.
    const QFileInfo to(destination);
    const QString directory = QFileInfo(to.path()).canonicalFilePath();
    if (!directory.isEmpty() && QFileInfo(source).canonicalFilePath() == directory + QLatin1Char('/') + to.fileName())
        return false;

    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return false;
    // As a deletion followed by a copy: a link at the destination is replaced
    // rather than followed, a read-only file replaced, and the copy has the
    // source's permission bits; unlike one, the previous file stays until
    // the copy is complete.
    platform::FileReplacement output(destination, platform::FileReplacement::Kind::NewFile);
    output.setPermissions(input.permissions());
    if (!output.open() || !output.commit(content))
        return false;
    // A player's save is on the disk before its success is reported.
    platform::flushReplacedFiles();
    return true;
}

} // namespace saves

SaveManager::SaveManager(QObject *parent)
    : QObject(parent)
{
}

void SaveManager::exportSave()
{
    const QString chosen = platform::dialogs().saveFileName(QObject::tr("Save as"), QString::fromLatin1(kBackupDir), saveFilter());
    // The save file is tried before the dialog's answer is looked at.
    if (!readable(gameSave()) || chosen.isNull()) {
        emit infos(QObject::tr("Unable to export save file. (Error 001)"));
        return;
    }
    // A backup always lands in the backup directory, whatever folder was picked.
    const QString destination = QString::fromLatin1(kBackupPrefix) + QFileInfo(chosen).fileName();
    debugLine(QStringLiteral("Exporter vers : "), destination);
    // The backup directory is never created: without it the copy fails.
    if (!QFileInfo(QString::fromLatin1(kBackupDir)).isDir() || !saves::replaceWithCopy(gameSave(), destination)) {
        emit infos(QObject::tr("Unable to export save file. (Error 002)"));
        return;
    }
    emit infos(QObject::tr("Save successfully exported."));
    emit modified();
}

void SaveManager::importSave(QString path)
{
    debugLine(QStringLiteral("File to import :"), path);
    if (!readable(path)) {
        emit infos(QObject::tr("Unable to import save file. (Error 001)"));
        return;
    }
    if (!saves::replaceWithCopy(path, gameSave())) {
        emit infos(QObject::tr("Unable to import save file. (Error 002)"));
        return;
    }
    emit infos(QObject::tr("Save successfully imported."));
    emit modified();
}

void SaveManager::importExtSave()
{
    const QString chosen = platform::dialogs().openFileName(tr("Select save file"), QStringLiteral("."), saveFilter());
    if (chosen.isNull() || !readable(chosen)) {
        emit infos(QObject::tr("Unable to import save file. (Error 001)"));
        return;
    }
    if (!saves::replaceWithCopy(chosen, gameSave())) {
        emit infos(QObject::tr("Unable to import save file. (Error 2)"));
        return;
    }
    emit infos(QObject::tr("Save successfully imported."));
    emit modified();
}

void SaveManager::removeSave()
{
    const QString chosen = platform::dialogs().openFileName(tr("Select save file"), QString::fromLatin1(kBackupDir), saveFilter());
    const bool qualifies = !chosen.isNull() && QFileInfo(chosen).isFile()
        && chosen.contains(QLatin1String(kBackupDir), Qt::CaseSensitive);
    if (!qualifies || !QFile::remove(chosen)) {
        emit infos(QObject::tr("Unable to remove save file. (Error 003)"));
        return;
    }
    emit infos(QObject::tr("Save succesfully removed."));
    emit modified();
}
