#include "naming.h"

#include "updater/paths.h"

#include <QUrl>

namespace publish {

namespace {

// Characters Windows does not allow in a file name; the installation lives
// on Windows.
const QString kWindowsForbidden = QStringLiteral("<>:\"|?*");

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// The decoded URL path the launcher's request asks for must be the served
// file's own: no query, fragment or percent sequence may change it.
bool urlCarries(const QString &relative, const QString &baseUrl)
{
    const QUrl base(baseUrl, QUrl::TolerantMode);
    const QUrl url(baseUrl + relative, QUrl::TolerantMode);
    return url.isValid() && !url.hasQuery() && !url.hasFragment()
        && url.path(QUrl::FullyDecoded) == base.path(QUrl::FullyDecoded) + relative;
}

} // namespace

QString whyUnplaceable(const QString &relative, const QString &baseUrl)
{
    if (relative.contains(QLatin1Char('\\')))
        return QStringLiteral("its path contains \"\\\", which the launcher takes as a separator");
    if (hasControlCharacter(relative))
        return QStringLiteral("its path contains a control character");
    for (const QChar c : kWindowsForbidden) {
        if (relative.contains(c))
            return QStringLiteral("its path contains \"%1\", which Windows does not allow in a file name").arg(c);
    }
    if (!paths::staysInside(relative))
        return QStringLiteral("its path leaves the installation");

    const QString serverPath = QString::fromLatin1(paths::kServerGameDir) + relative;
    if (paths::manifestLocalPath(serverPath) != relative || paths::manifestUrlPath(serverPath) != relative)
        return QStringLiteral("its path contains the server's directory \"%1\"").arg(QLatin1String(paths::kServerWebRoot));

    const QString name = relative.section(QLatin1Char('/'), -1);
    const QString url = baseUrl + relative;
    if (paths::downloadDirectory(url, name, baseUrl) + name != relative)
        return QStringLiteral("its name \"%1\" also occurs earlier in its URL %2, so the launcher would store it elsewhere").arg(name, url);
    if (!urlCarries(relative, baseUrl))
        return QStringLiteral("its URL %1 would ask the server for another path").arg(url);
    return QString();
}

} // namespace publish
