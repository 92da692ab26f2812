#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace platform {
namespace {

class SystemProcesses : public Processes
{
public:
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        const QString workingDir = QDir::currentPath();
        const QString path = QDir(workingDir).absoluteFilePath(program);
        QFileInfo info(path);
        if (info.isFile() && !info.isExecutable())
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
        return QProcess::startDetached(path, arguments, workingDir);
    }
};

Processes *g_replacement = nullptr;

} // namespace

Processes &processes()
{
    static SystemProcesses system;
    return g_replacement ? *g_replacement : system;
}

void setProcesses(Processes *replacement)
{
    g_replacement = replacement;
}

} // namespace platform
