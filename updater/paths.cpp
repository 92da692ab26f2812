#include "updater/paths.h"

#include <QDir>

namespace paths {

const char *const kServerGameDir = "/home/zorvanhost/www/game/";
const char *const kServerWebRoot = "/home/zorvanhost/www/";

QString manifestLocalPath(const QString &manifestPath)
{
    QString local = manifestPath;
    local.remove(QLatin1String(kServerGameDir), Qt::CaseSensitive);
    return local;
}

QString manifestUrlPath(const QString &manifestPath)
{
    QString urlPath = manifestLocalPath(manifestPath);
    urlPath.remove(QLatin1String(kServerWebRoot), Qt::CaseSensitive);
    return urlPath;
}

QString downloadDirectory(const QString &url, const QString &fileName, const QString &baseUrl)
{
    QString directory = url;
    if (!fileName.isEmpty())
        directory.remove(fileName, Qt::CaseSensitive);
    if (!baseUrl.isEmpty())
        directory.remove(baseUrl, Qt::CaseSensitive);
    return directory;
}

bool staysInside(const QString &path)
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (p.isEmpty() || p.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(p))
        return false;
    // A drive letter ("C:x") is absolute on Windows.
    if (p.size() >= 2 && p.at(1) == QLatin1Char(':'))
        return false;
    const QString clean = QDir::cleanPath(p);
    return clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../"));
}

} // namespace paths
