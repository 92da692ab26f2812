#include "standin.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace standin {

namespace {

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

void writeGame(const QString& scriptPath, const QString& recordPath, const Options& options)
{
    const QString record = shellQuoted(recordPath);
    QString script = QStringLiteral(
        "#!/bin/sh\n"
        "start_parent=$PPID\n");
    if (options.delaySeconds > 0)
        script += QStringLiteral("sleep %1\n").arg(options.delaySeconds);
    script += QStringLiteral(
                  "{\n"
                  "  echo \"parent-at-start=$start_parent\"\n"
                  "  echo \"parent-at-end=$(sed -n 's/^PPid:[[:space:]]*//p' /proc/$$/status)\"\n"
                  "  echo \"pwd=$(pwd -P)\"\n"
                  "  for argument in \"$@\"; do echo \"arg=$argument\"; done\n"
                  "} > %1.part && mv %1.part %1\n")
                  .arg(record);

    QFile file(scriptPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(scriptPath));
    file.write(script.toUtf8());
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    if (options.executable)
        permissions |= QFile::ExeOwner | QFile::ExeUser;
    file.setPermissions(permissions);
}

Record read(const QString& recordPath)
{
    Record record;
    QFile file(recordPath);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    record.present = true;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("arg"))
            record.arguments << value;
        else if (key == QLatin1String("pwd"))
            record.workingDirectory = value;
        else if (key == QLatin1String("parent-at-start"))
            record.parentAtStart = value.toLongLong();
        else if (key == QLatin1String("parent-at-end"))
            record.parentAtEnd = value.toLongLong();
    }
    return record;
}

}  // namespace standin
