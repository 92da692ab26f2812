// The two synchronous downloads on which every server access rests.

#include "updater/gameupdater.h"

#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/replacefile.h"
#include "updater/paths.h"
#include "updater/serverurls.h"
#include "updater/signature.h"
#include "updater/signedpublication.h"
#include "updater/transfer.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

namespace {

// What the reply may hold before we take it; keeps the network thread from
// buffering a large body. Of 256 KiB, 1 MiB and 4 MiB, 1 MiB fetched a
// 512 MiB body fastest over loopback.
constexpr qint64 kReplyBufferSize = 1024 * 1024;

struct DownloadTexts
{
    const char *networkError;
    const char *interrupted;
    const char *openError;
    const char *writeError;
};

// Translations are looked up in the engine's context; the texts are marked
// here so that lupdate finds them.
const DownloadTexts kPlainDownload = {
    QT_TRANSLATE_NOOP("GameUpdater", "Download error (004). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Download interrupted (004). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Error when opening file (005). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Error when writing file (005). Local version available."),
};

const DownloadTexts kGameFileDownload = {
    QT_TRANSLATE_NOOP("GameUpdater", "Download error (006). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Download interrupted (006). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Error when opening file (007). Local version available."),
    QT_TRANSLATE_NOOP("GameUpdater", "Error when writing file (007). Local version available."),
};

const DownloadTexts &textsFor(bool gameFile)
{
    return gameFile ? kGameFileDownload : kPlainDownload;
}

// The length the server announced for the body, or -1 when it announced
// none that can be read. After a redirect the toolkit can hand over the redirect's own
// headers joined to the final ones ("0, 4"): the last value is the body's.
qint64 announcedLength(QNetworkReply *reply)
{
    bool ok = false;
    const qint64 length = reply->rawHeader("Content-Length").split(',').last().trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

// Whether the body is as long as the server announced. A connection that
// closes early can end a reply without an error; such a body is cut short
// and must not replace a file.
bool complete(QNetworkReply *reply, qint64 received)
{
    const qint64 announced = announcedLength(reply);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (announced == -1 || !(encoding.isEmpty() || encoding == "identity"))
        return true;
    return announced == received;
}

} // namespace

GameUpdater::FetchOutcome GameUpdater::fetch(const QString &url, BodyTransfer &transfer)
{
    QEventLoop loop;
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    // Redirects are followed; in Qt 5.15 this attribute means the
    // no-less-safe policy (no https to http downgrade).
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    request.setAttribute(QNetworkRequest::FollowRedirectsAttribute, true);
    QT_WARNING_POP
    // A manager of the call's own: nothing is shared between downloads.
    auto manager = std::make_unique<QNetworkAccessManager>();

    QNetworkReply *reply = manager->get(request);
    reply->setReadBufferSize(kReplyBufferSize);
    // Disposing of a manager waits for its network thread to end. The
    // previous download's goes now that this request is on its way, so that
    // the wait overlaps with this transfer instead of adding to each file.
    disposeRetiredManager();

    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::downloadProgress, this, &GameUpdater::downloadProgress);
    // A build with the studio's key gives up on a server that stops
    // sending, however slowly it trickles.
    QTimer stall;
    stall.setSingleShot(true);
    bool stalled = false;
    if (m_stallLimitMs > 0) {
        connect(&stall, &QTimer::timeout, &loop, [&]() {
            stalled = true;
            reply->abort();
        });
        stall.start(m_stallLimitMs);
    }
    // The body is taken as it arrives, so that it is never held whole.
    connect(reply, &QIODevice::readyRead, &loop, [&]() {
        if (m_stallLimitMs > 0 && reply->bytesAvailable() > 0)
            stall.start(m_stallLimitMs);
        if (!transfer.take(reply))
            reply->abort();
    });
    // A redirect's own body is not the file.
    connect(reply, &QNetworkReply::redirected, &loop, [&]() { transfer.restart(); });

    loop.exec();

    transfer.setAnswered(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
    FetchOutcome outcome = FetchOutcome::Finished;
    if (!reply->isFinished()) {
        // Only a quit request ends every running loop; the reply is dropped.
        lifecycle::noteQuitRequested();
        reply->disconnect();
        reply->abort();
        outcome = FetchOutcome::Interrupted;
    } else if (reply->error() != QNetworkReply::NoError || !transfer.take(reply) || !complete(reply, transfer.received())) {
        outcome = FetchOutcome::Failed;
    }
    if (stalled)
        debugLine(QStringLiteral("Transfert abandonné, rien reçu depuis (ms) : "), QString::number(m_stallLimitMs));
    if (transfer.overLimit())
        debugLine(QStringLiteral("Réponse plus longue que prévu, coupée à (octets) : "), QString::number(transfer.received()));
    reply->deleteLater();
    retire(std::move(manager));
    return outcome;
}

void GameUpdater::retire(std::unique_ptr<QNetworkAccessManager> manager)
{
    disposeRetiredManager();
    m_retiredManager = std::move(manager);
    // Gone at the next download, or at the next turn of whatever event loop
    // runs, whichever comes first. A posted call is delivered by nested loops
    // too, where a deferred deletion would wait for the outermost one.
    QMetaObject::invokeMethod(this, &GameUpdater::disposeRetiredManager, Qt::QueuedConnection);
}

void GameUpdater::disposeRetiredManager()
{
    m_retiredManager.reset();
}

bool GameUpdater::store(const QString &localPath, BodyTransfer &transfer, bool gameFile)
{
    const DownloadTexts &texts = textsFor(gameFile);
    // The file gets its new content as a whole (see FileReplacement for the
    // few layouts where it is written in place); something that is not a
    // writable regular file is never replaced.
    platform::FileReplacement file(localPath);
    if (!paths::staysInside(localPath) || !file.open()) {
        reportFailure(texts.openError);
        return false;
    }
    debugLine(QStringLiteral("Ecriture de "), localPath);
    // A body that could not be kept whole as it arrived (a full disk) gives
    // the same outcome as a write that fails now.
    const bool stored = transfer.storage() == BodyTransfer::Storage::Memory ? file.commit(transfer.memory()) : file.commit(transfer.file());
    if (!stored)
        reportFailure(texts.writeError);
    return stored;
}

void GameUpdater::reportFailure(const char *text)
{
    const QString shown = tr(text);
    if (m_runFailure.isNull())
        m_runFailure = shown;
    emit infos(shown);
    emit playOk(true);
}

bool GameUpdater::fetchBody(const QString &url, BodyTransfer &transfer, bool gameFile, const Listing *vouched)
{
    // SHA-256 and the size bind the body to what the studio signed; MD5 and
    // SHA-1, which collisions defeat, would add nothing to them.
    if (vouched) {
        transfer.setLimit(vouched->size);
        transfer.addSha256();
    }
    const FetchOutcome outcome = fetch(url, transfer);
    if (outcome != FetchOutcome::Finished && !transfer.overLimit()) {
        const DownloadTexts &texts = textsFor(gameFile);
        reportFailure(outcome == FetchOutcome::Interrupted ? texts.interrupted : texts.networkError);
        return false;
    }
    // A body longer than vouched for was cut off as it arrived.
    if (vouched && (transfer.overLimit() || transfer.received() != vouched->size || transfer.sha256() != vouched->sha256)) {
        debugLine(QStringLiteral("Fichier refusé, SHA-256 reçu : "), transfer.sha256());
        reportFailure(SignedPublication::kBodyRefused);
        return false;
    }
    return true;
}

bool GameUpdater::fetchStatement()
{
    const QString name = QString::fromLatin1(signature::kStatementFile);
    const QString url = server::baseUrl() + name;
    debugLine(QStringLiteral("Téléchargement de "), url);
    emit infos(tr("Downloading  ", "When we download a file") + name + QStringLiteral("..."));
    // Held in memory only: a statement is worth nothing once it is checked.
    BodyTransfer transfer(BodyTransfer::Storage::Memory);
    transfer.setLimit(signature::kMaxStatementSize);
    const FetchOutcome outcome = fetch(url, transfer);
    if (outcome == FetchOutcome::Interrupted || (outcome == FetchOutcome::Failed && !transfer.answered())) {
        reportFailure(outcome == FetchOutcome::Interrupted ? kPlainDownload.interrupted : kPlainDownload.networkError);
        return false;
    }
    QString why = QStringLiteral("absente");
    const SignedPublication::Verdict verdict =
        outcome == FetchOutcome::Finished ? m_publication->accept(transfer.memory(), &why) : SignedPublication::Verdict::Unsigned;
    if (verdict != SignedPublication::Verdict::Accepted) {
        debugLine(QStringLiteral("Signature refusée : "), why);
        reportFailure(SignedPublication::refusalText(verdict));
        return false;
    }
    debugLine(QStringLiteral("Publication signée : "), why);
    return true;
}

bool GameUpdater::download(const QString &filePath, QByteArray *keep)
{
    debugLine(QStringLiteral("Téléchargement de "), filePath);
    const QString localPath = server::localPathOf(filePath);
    // A build with the studio's key fetches only what its statement covers.
    const signature::CoveredFile *covered = nullptr;
    if (m_publication) {
        if (!m_publication->held() && !fetchStatement())
            return false;
        covered = m_publication->covered(localPath);
        if (!covered) {
            debugLine(QStringLiteral("Fichier non couvert par la signature : "), localPath);
            reportFailure(SignedPublication::kNotCovered);
            return false;
        }
    }
    emit infos(tr("Downloading  ", "When we download a file") + localPath + QStringLiteral("..."));

    BodyTransfer transfer(keep ? BodyTransfer::Storage::Memory : BodyTransfer::Storage::File, QFileInfo(localPath).fileName());
    Listing vouched;
    if (covered)
        vouched = Listing{covered->size, QString::fromLatin1(covered->sha256)};
    if (!fetchBody(filePath, transfer, false, covered ? &vouched : nullptr) || !store(localPath, transfer, false))
        return false;
    if (keep)
        *keep = transfer.memory();
    return true;
}

void GameUpdater::downloadFile(QString filePath)
{
    download(filePath);
}

bool GameUpdater::downloadGameFile(const QString &filePath, const QString &fileName, double totalToDownload, double nbDownloaded)
{
    // Taken now: a run started inside the wait below sets its own.
    Listing *const listed = std::exchange(m_listing, nullptr);
    debugLine(QStringLiteral("Téléchargement de "), filePath);
    const QString percent = QString::number(nbDownloaded * 100.0 / totalToDownload, 'f', 2);
    emit infos(tr("Downloading", "When we download a file") + QStringLiteral(" (") + percent + QStringLiteral("%) ") + fileName
               + QStringLiteral("..."));

    BodyTransfer transfer(BodyTransfer::Storage::File, fileName);
    // A signed publication's file is stored only when its body is the one
    // the manifest lists; a longer one was cut off as it arrived.
    if (!fetchBody(filePath, transfer, true, listed))
        return false;

    const QString directory = paths::downloadDirectory(filePath, fileName, server::baseUrl());
    debugLine(QStringLiteral("Vérification de : "), directory);
    const QString localPath = directory + fileName;
    // A directory outside the installation is never created.
    if (!directory.isEmpty() && paths::staysInside(localPath) && !QDir(directory).exists()) {
        debugLine(QStringLiteral("Création du dossier : "), directory);
        QDir().mkpath(directory);
    }
    debugLine(QStringLiteral("Chemin vers le fichier : "), localPath);
    const bool stored = store(localPath, transfer, true);
    if (listed)
        listed->asListed = stored;
    return stored;
}

void GameUpdater::downloadFile(QString filePath, QString fileName, double totalToDownload, double nbDownloaded)
{
    downloadGameFile(filePath, fileName, totalToDownload, nbDownloaded);
}

void GameUpdater::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    emit downloadP(bytesReceived, bytesTotal);
}
