// One update run: the version check and the steps around it.

#include "updater/gameupdater.h"

#include "platform/log.h"
#include "platform/replacefile.h"
#include "updater/serverurls.h"
#include "updater/versionfile.h"

#include <QFile>

void GameUpdater::checkUpdate()
{
    const QString localName = QString::fromLatin1(versionfile::kLocalVersionFile);
    const QString serverName = QString::fromLatin1(versionfile::kServerVersionFile);

    debugLine(QStringLiteral("Vérification de la version"));
    removePreviousLauncher();
    downloadFile(server::baseUrl() + serverName);

    if (!QFile::exists(localName))
        versionfile::writeInitialVersion(localName);

    QFile local(localName);
    QFile remote(serverName);
    bool record = true;
    if (!local.open(QIODevice::ReadOnly | QIODevice::Text) || !remote.open(QIODevice::ReadOnly | QIODevice::Text)) {
        emit infos(tr("Error in the update manifesto (009)."));
        emit playOk(true);
    } else {
        debugLine(QStringLiteral("Comparaison de version"));
        const QByteArray installed = versionfile::comparable(local.readAll());
        const QByteArray offered = versionfile::comparable(remote.readAll());
        if (installed == offered) {
            debugLine(QStringLiteral("Les fichiers de version sont identiques."));
            emit infos(QObject::tr("You have the latest version."));
            emit playOk(true);
        } else {
            record = synchroniseFiles();
            // The files fetched reach the disk before the new version is
            // recorded, so that not even a power cut can leave that record
            // over files that never got there.
            platform::flushReplacedFiles();
        }

        // Recording the version comes last: a run cut short before this point
        // leaves the old version in place and the next run synchronises again.
        local.close();
        remote.close();
        // A publication refused by a signed build is not installed.
        if (record) {
            emit infos(QObject::tr("Update finished. You have the latest version."));
            emit playOk(true);
            QFile::remove(localName);
            QFile::rename(serverName, localName);
        }
    }

    QFile::remove(QStringLiteral("file_listing.php"));
    swapInNewLauncher();
}
