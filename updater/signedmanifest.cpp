// Signed publications, in a build that carries the studio's public key: the
// manifest is used only when the studio's signature covers it and the
// version file, and not older than one this installation already took.

#include "updater/gameupdater.h"

#include "platform/identity.h"
#include "platform/log.h"
#include "updater/serverurls.h"
#include "updater/signature.h"
#include "updater/transfer.h"
#include "updater/versionfile.h"

#include <QFile>
#include <QSettings>

namespace {

// The file's bytes as the download stored them; false when unreadable.
bool readWhole(const char *name, QByteArray &content)
{
    QFile file(QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    content = file.readAll();
    return file.atEnd();
}

} // namespace

bool GameUpdater::acceptPublication()
{
    const QString name = QString::fromLatin1(signature::kSignatureFile);
    const QString url = server::baseUrl() + name;
    debugLine(QStringLiteral("Téléchargement de "), url);
    emit infos(tr("Downloading  ", "When we download a file") + name + QStringLiteral("..."));
    // Held in memory only: a signature is worth nothing once it is used.
    BodyTransfer transfer(BodyTransfer::Storage::Memory);
    const FetchOutcome outcome = fetch(url, transfer);

    // The version file covered is the one this run downloaded, which the
    // run records as the installed version.
    signature::Publication publication;
    QByteArray version;
    QByteArray manifest;
    const bool readable = readWhole(versionfile::kServerVersionFile, version) && readWhole("file_listing.xml", manifest);
    QString fault;
    if (outcome != FetchOutcome::Finished)
        fault = QStringLiteral("absente");
    else if (!signature::parse(transfer.memory(), publication))
        fault = QStringLiteral("illisible");
    else if (!readable
             || !signature::verify(signature::publicKeysHex(), signature::signedMessage(publication.sequence, version, manifest),
                                   publication.signature))
        fault = QStringLiteral("fausse");
    if (!fault.isEmpty()) {
        debugLine(QStringLiteral("Signature refusée : "), fault);
        emit infos(tr("Update not signed by the studio (012). Local version available."));
        emit playOk(true);
        return false;
    }

    // Kept in the settings store, which outlives a reinstallation of the
    // game files; only a verified publication raises it.
    QSettings settings(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
    const quint64 highest = settings.value(QString::fromLatin1(signature::kSequenceKey)).toString().toULongLong();
    debugLine(QStringLiteral("Publication signée : "), QString::number(publication.sequence));
    if (publication.sequence < highest) {
        debugLine(QStringLiteral("Publication plus ancienne que : "), QString::number(highest));
        emit infos(tr("Update older than the installed one (013). Local version available."));
        emit playOk(true);
        return false;
    }
    if (publication.sequence > highest) {
        settings.setValue(QString::fromLatin1(signature::kSequenceKey), QString::number(publication.sequence));
        settings.sync();
    }
    return true;
}
