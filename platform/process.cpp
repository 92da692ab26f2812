#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace platform {

bool startDetached(const QString &program, const QStringList &arguments)
{
    const QString workingDir = QDir::currentPath();
    const QString path = QDir(workingDir).absoluteFilePath(program);
    QFileInfo info(path);
    if (info.isFile() && !info.isExecutable())
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
    return QProcess::startDetached(path, arguments, workingDir);
}

} // namespace platform
