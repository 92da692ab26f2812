#include "updater/serverurls.h"

#include <QUrl>

namespace server {

const char *const kShippedBaseUrl = "http://zorvanlumeth.com/game/";
const char *const kBaseUrlVariable = "ZORVAN_UPDATE_URL";

namespace {

QString resolveBaseUrl()
{
    const QString override = qEnvironmentVariable(kBaseUrlVariable);
    if (override.isEmpty())
        return QString::fromLatin1(kShippedBaseUrl);
    const QUrl url(override, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) || url.host().isEmpty()) {
        qWarning("%s is not an http URL; using the shipped update server", kBaseUrlVariable);
        return QString::fromLatin1(kShippedBaseUrl);
    }
    return override.endsWith(QLatin1Char('/')) ? override : override + QLatin1Char('/');
}

} // namespace

QString baseUrl()
{
    static const QString base = resolveBaseUrl();
    return base;
}

QString localPathOf(const QString &url, const QString &base)
{
    QString path = url;
    path.remove(base, Qt::CaseSensitive);
    return path;
}

} // namespace server
