// Digests of local files and the check of one file against expected digests.

#include "updater/gameupdater.h"

#include "platform/log.h"

#include <QFile>

QString GameUpdater::fileChecksum(QString filePath, QCryptographicHash::Algorithm algorithm)
{
    debugLine(QStringLiteral("Vérification du hash de "), filePath);
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The hash reads the file through the device in blocks; it is never held
    // in memory whole.
    QCryptographicHash hash(algorithm);
    if (!hash.addData(&file) || !file.atEnd())
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

void GameUpdater::checkFile(QString filePath, QString md5, QString sha1)
{
    emit infos(tr("Checking ", "When we check a file") + filePath + QStringLiteral("..."));
    const QString localMd5 = fileChecksum(filePath, QCryptographicHash::Md5);
    const QString localSha1 = fileChecksum(filePath, QCryptographicHash::Sha1);
    if (md5 != localMd5 || sha1 != localSha1)
        downloadFile(filePath);
    emit infos(tr("Done"));
}
