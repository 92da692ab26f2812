#include "updater/paths.h"

#include <QDir>
#include <QStringList>

namespace paths {

namespace {

// Windows opens a device, not a file, for these names, whatever follows the
// first dot and in any letter case ("nul.txt" is NUL).
bool windowsDevice(const QString &component)
{
    QString base = component.section(QLatin1Char('.'), 0, 0);
    while (base.endsWith(QLatin1Char(' ')))
        base.chop(1);
    base = base.toUpper();
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (base == QLatin1String(device))
            return true;
    }
    // COM1 to COM9 and LPT1 to LPT9, the superscript digits included.
    static const QString kDigits = QStringLiteral("123456789\u00b9\u00b2\u00b3");
    return base.size() == 4 && (base.startsWith(QLatin1String("COM")) || base.startsWith(QLatin1String("LPT")))
        && kDigits.contains(base.at(3));
}

// A component that Windows would read as another place: a stream of a file
// or a drive ("name:stream", "C:"), a device, or a name whose trailing dots
// and blanks Windows drops.
bool windowsHazard(const QString &component)
{
    if (component == QLatin1String(".") || component == QLatin1String(".."))
        return false;
    return component.contains(QLatin1Char(':')) || component.endsWith(QLatin1Char('.'))
        || component.endsWith(QLatin1Char(' ')) || windowsDevice(component);
}

} // namespace

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
    // The same rule on every system, so that a manifest behaves alike on a
    // studio's Linux box and on players' Windows: "C:x", "NUL" and "a:stream"
    // are refused here too (a UNC path starts with a separator).
    const QStringList components = p.split(QLatin1Char('/'));
    for (const QString &component : components) {
        if (windowsHazard(component))
            return false;
    }
    const QString clean = QDir::cleanPath(p);
    return clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../"));
}

} // namespace paths
