// One update run: the version check and the steps around it.

#include "updater/gameupdater.h"

#include "platform/log.h"
#include "platform/replacefile.h"
#include "updater/serverurls.h"
#include "updater/signedpublication.h"
#include "updater/versionfile.h"

#include <QFile>

void GameUpdater::checkUpdate()
{
    const QString localName = QString::fromLatin1(versionfile::kLocalVersionFile);
    const QString serverName = QString::fromLatin1(versionfile::kServerVersionFile);

    debugLine(QStringLiteral("Vérification de la version"));
    removePreviousLauncher();
    m_runFailure = QString();
    m_verifiedLauncher.reset();
    if (m_publication) {
        // A build with the studio's key checks the studio's statement at
        // every run, also when nothing changed, so that an expired one shows;
        // without it, or without the version file it vouches for, nothing is
        // compared and nothing recorded.
        m_publication->forget();
        if (!fetchStatement() || !download(server::baseUrl() + serverName)) {
            QFile::remove(QStringLiteral("file_listing.php"));
            return;
        }
    } else {
        downloadFile(server::baseUrl() + serverName);
    }

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
        // A publication refused by a signed build is not installed, and its
        // refusal is the last word of the run.
        if (record) {
            emit infos(QObject::tr("Update finished. You have the latest version."));
            emit playOk(true);
            QFile::remove(localName);
            QFile::rename(serverName, localName);
        } else if (!m_runFailure.isNull() && m_runFailure != m_lastStatus) {
            emit infos(m_runFailure);
            emit playOk(true);
        }
    }

    QFile::remove(QStringLiteral("file_listing.php"));
    swapInNewLauncher();
}
