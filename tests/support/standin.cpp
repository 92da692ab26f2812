#include "standin.h"

#include <QDir>
#include <QFile>

namespace standin {

#ifdef Q_OS_WIN
void writeGame(const QString &scriptPath, const QString &recordPath, const Options &)
{
    QFile::remove(scriptPath);
    if (!QFile::copy(QStringLiteral(ZORVAN_GAME_STANDIN), scriptPath))
        qFatal("cannot copy the game stand-in to %s", qPrintable(scriptPath));
    QFile side(scriptPath + QStringLiteral(".record-path"));
    if (!side.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(side.fileName()));
    const QString native = QDir::toNativeSeparators(QFileInfo(recordPath).absoluteFilePath());
    side.write(reinterpret_cast<const char *>(native.utf16()), native.size() * 2);
}
#else
void writeGame(const QString &scriptPath, const QString &recordPath, const Options &options)
{
    QString record = recordPath;
    record = QLatin1Char('\'') + record.replace(QLatin1String("'"), QLatin1String("'\\''")) + QLatin1Char('\'');
    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(scriptPath));
    file.write(
        QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$PPID\" \"$(pwd -P)\" \"$@\" > %1.part && mv %1.part %1\n").arg(record).toUtf8());
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    if (options.executable)
        permissions |= QFile::ExeOwner | QFile::ExeUser;
    file.setPermissions(permissions);
}
#endif

Record read(const QString &recordPath)
{
    Record record;
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast(); // what follows the last line end
    record.parentAtStart = lines.value(0).toLongLong();
    record.workingDirectory = QDir::fromNativeSeparators(lines.value(1));
    record.arguments = lines.mid(2);
    return record;
}

} // namespace standin
