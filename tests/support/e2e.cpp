#include "e2e.h"

#include "updater/serverurls.h"

#include <QSet>

namespace e2e {

FileMap synchronised(const QString &version, const FileMap &files)
{
    QList<QPair<QString, QByteArray>> listed;
    for (auto it = files.begin(); it != files.end(); ++it)
        listed << qMakePair(it.key(), it.value());
    FileMap result = files;
    result.insert(QStringLiteral("localversion.txt"), version.toUtf8());
    result.insert(QStringLiteral("file_listing.xml"), manifestFor(listed));
    result.insert(kNotes, "<b>Version " + version.toUtf8() + "</b>");
    return result;
}

FileMap release(const QString &version, const FileMap &files)
{
    FileMap served = synchronised(version, files);
    served.insert(QStringLiteral("version.txt"), served.take(QStringLiteral("localversion.txt")));
    return served;
}

void writeTree(const QString &root, const FileMap &files)
{
    for (auto it = files.begin(); it != files.end(); ++it)
        writeFile(root + '/' + it.key(), it.value());
}

bool samePath(const QString &a, const QString &b)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(a)).compare(QDir::cleanPath(QDir::fromNativeSeparators(b)), Qt::CaseInsensitive) == 0;
}

Damage damage(const FileMap &before, const FileMap &after, const FileMap &now)
{
    Damage found;
    for (const QString &path : QSet<QString>(before.keyBegin(), before.keyEnd()) + QSet<QString>(now.keyBegin(), now.keyEnd())) {
        if (!now.contains(path) && after.contains(path))
            found.lost << path;
        else if (now.contains(path) && !before.contains(path) && !after.contains(path))
            found.left << path;
        else if (now.contains(path) && now[path] != before.value(path, "(absent)") && now[path] != after.value(path, "(absent)"))
            found.mixed << QString("%1 (%2 bytes)").arg(path).arg(now[path].size());
    }
    return found;
}

QProcessEnvironment environment(const QString &side, const QString &baseUrl, const QStringList &extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    const QStringList vars = QStringList{"QT_QPA_PLATFORM=offscreen",
                                         "QT_FORCE_STDERR_LOGGING=1",
                                         "LC_ALL=C.UTF-8",
                                         "XDG_CONFIG_HOME=" + side,
                                         "XDG_CACHE_HOME=" + side,
                                         "XDG_DATA_HOME=" + side,
                                         "XDG_RUNTIME_DIR=" + side,
                                         QString::fromLatin1(server::kBaseUrlVariable) + '=' + baseUrl}
        + extra;
    for (const QString &var : vars)
        env.insert(var.section('=', 0, 0), var.section('=', 1));
    return env;
}

bool Installation::aloneInParent() const
{
    return QDir(parent.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).size() == 1;
}

LauncherRun::LauncherRun(const Installation &in, const QString &baseUrl, const QStringList &extra, const QString &program)
    : install(in)
{
    process.setProcessEnvironment(environment(in.side.path(), baseUrl, extra));
    process.setWorkingDirectory(in.path());
    process.setProgram(program);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(in.side.filePath(QStringLiteral("launcher.log")), QIODevice::Append);
}

bool LauncherRun::start()
{
    install.write(QStringLiteral("file_listing.php"), "left by an old launcher");
    logOffset = QFileInfo(install.side.filePath(QStringLiteral("launcher.log"))).size();
    process.start();
    return process.waitForStarted(30000);
}

} // namespace e2e
