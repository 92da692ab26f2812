// The two synchronous downloads on which every server access rests.

#include "updater/gameupdater.h"

#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/replacefile.h"
#include "updater/paths.h"
#include "updater/serverurls.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <limits>
#include <memory>
#include <utility>

namespace {

// What the reply may hold before we read it; keeps the network thread from
// buffering a large body a second time. Of 256 KiB, 1 MiB and 4 MiB, 1 MiB
// fetched a 512 MiB body fastest over loopback.
constexpr qint64 kReplyBufferSize = 1024 * 1024;

// The largest body a QByteArray can hold.
constexpr qint64 kMaxBody = std::numeric_limits<int>::max() - 64;

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

// Appends what the reply holds to `body`, reading straight into its storage.
bool drain(QNetworkReply *reply, QByteArray &body)
{
    const qint64 available = reply->bytesAvailable();
    if (available <= 0)
        return true;
    if (body.size() + available > kMaxBody)
        return false;
    const int oldSize = body.size();
    body.resize(oldSize + int(available));
    const qint64 got = reply->read(body.data() + oldSize, available);
    body.resize(oldSize + int(qMax<qint64>(got, 0)));
    return got >= 0;
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
bool complete(QNetworkReply *reply, const QByteArray &body)
{
    const qint64 announced = announcedLength(reply);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (announced == -1 || !(encoding.isEmpty() || encoding == "identity"))
        return true;
    return announced == body.size();
}

} // namespace

GameUpdater::Fetched GameUpdater::fetch(const QString &url)
{
    Fetched result;
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
    bool tooLarge = false;

    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::downloadProgress, this, &GameUpdater::downloadProgress);
    // The body is taken as it arrives, into storage sized once from the
    // announced length, so that a large file is held in memory only once.
    connect(reply, &QIODevice::readyRead, &loop, [&]() {
        if (result.body.isEmpty()) {
            const qint64 announced = announcedLength(reply);
            if (announced > 0 && announced <= kMaxBody)
                result.body.reserve(int(announced));
        }
        if (!drain(reply, result.body)) {
            tooLarge = true;
            reply->abort();
        }
    });
    // A redirect's own body is not the file.
    connect(reply, &QNetworkReply::redirected, &loop, [&]() { result.body.clear(); });

    loop.exec();

    if (!reply->isFinished()) {
        // Only a quit request ends every running loop; the reply is dropped.
        lifecycle::noteQuitRequested();
        reply->disconnect();
        reply->abort();
        result.outcome = FetchOutcome::Interrupted;
    } else if (reply->error() != QNetworkReply::NoError || tooLarge || !drain(reply, result.body) || !complete(reply, result.body)) {
        result.outcome = FetchOutcome::Failed;
    } else {
        result.outcome = FetchOutcome::Finished;
    }
    if (result.outcome != FetchOutcome::Finished)
        result.body.clear();
    reply->deleteLater();
    retire(std::move(manager));
    return result;
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

void GameUpdater::store(const QString &localPath, const QByteArray &body, bool gameFile)
{
    const DownloadTexts &texts = textsFor(gameFile);
    // The file gets its new content as a whole (see FileReplacement for the
    // few layouts where it is written in place); something that is not a
    // writable regular file is never replaced.
    platform::FileReplacement file(localPath);
    if (!paths::staysInside(localPath) || !file.open()) {
        emit infos(tr(texts.openError));
        emit playOk(true);
        return;
    }
    debugLine(QStringLiteral("Ecriture de "), localPath);
    if (!file.commit(body)) {
        emit infos(tr(texts.writeError));
        emit playOk(true);
    }
}

void GameUpdater::downloadFile(QString filePath)
{
    const DownloadTexts &texts = textsFor(false);
    debugLine(QStringLiteral("Téléchargement de "), filePath);
    const QString localPath = server::localPathOf(filePath);
    emit infos(tr("Downloading  ", "When we download a file") + localPath + QStringLiteral("..."));

    const Fetched fetched = fetch(filePath);
    if (fetched.outcome != FetchOutcome::Finished) {
        emit infos(tr(fetched.outcome == FetchOutcome::Interrupted ? texts.interrupted : texts.networkError));
        emit playOk(true);
        return;
    }
    store(localPath, fetched.body, false);
}

void GameUpdater::downloadFile(QString filePath, QString fileName, double totalToDownload, double nbDownloaded)
{
    const DownloadTexts &texts = textsFor(true);
    // Taken now: a run started inside the wait below sets its own.
    ListedBody *const listed = std::exchange(m_listedBody, nullptr);
    debugLine(QStringLiteral("Téléchargement de "), filePath);
    const QString percent = QString::number(nbDownloaded * 100.0 / totalToDownload, 'f', 2);
    emit infos(tr("Downloading", "When we download a file") + QStringLiteral(" (") + percent + QStringLiteral("%) ") + fileName
               + QStringLiteral("..."));

    const Fetched fetched = fetch(filePath);
    if (fetched.outcome != FetchOutcome::Finished) {
        emit infos(tr(fetched.outcome == FetchOutcome::Interrupted ? texts.interrupted : texts.networkError));
        emit playOk(true);
        return;
    }
    if (listed && !bodyAsListed(*listed, fetched.body))
        return;

    const QString directory = paths::downloadDirectory(filePath, fileName, server::baseUrl());
    debugLine(QStringLiteral("Vérification de : "), directory);
    const QString localPath = directory + fileName;
    // A directory outside the installation is never created.
    if (!directory.isEmpty() && paths::staysInside(localPath) && !QDir(directory).exists()) {
        debugLine(QStringLiteral("Création du dossier : "), directory);
        QDir().mkpath(directory);
    }
    debugLine(QStringLiteral("Chemin vers le fichier : "), localPath);
    store(localPath, fetched.body, true);
}

void GameUpdater::downloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    emit downloadP(bytesReceived, bytesTotal);
}
