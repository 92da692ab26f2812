#pragma once

#include <QCryptographicHash>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class BodyTransfer;
class SignedPublication;
class QNetworkAccessManager;
class QUrl;

// The launcher's engine: every operation that talks to the update server or
// acts on the game installation. It reports to the window only through its
// three signals. Each concern lives in a source file of its own in updater/.
class GameUpdater : public QObject
{
    Q_OBJECT

public:
    explicit GameUpdater(QObject *parent = nullptr);
    ~GameUpdater() override;

signals:
    void playOk(bool);
    void downloadP(qint64, qint64);
    void infos(QString);

public slots:
    void checkUpdate();
    void forceUpdate();
    void checkFile(QString filePath, QString md5, QString sha1);
    void downloadFile(QString filePath);
    void downloadFile(QString filePath, QString fileName, double totalToDownload, double nbDownloaded);
    void gameStart();
    QString fileChecksum(QString filePath, QCryptographicHash::Algorithm);
    void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void openSite();
    void openWiki();
    void openDiscord();
    void setFullscreen(int screen);
    void graph_fullscreen();
    void graph_normal();
    void graph_scale2();
    void graph_scale3();

    // In a build with the studio's key, a transfer that brings no byte for
    // this long is abandoned as a failed download; 0 waits for ever, as a
    // build without a key always does.
    void setStallLimit(int milliseconds) { m_stallLimitMs = milliseconds; }

private:
    // How the wait for one reply ended.
    enum class FetchOutcome { Finished, Failed, Interrupted };

    // One GET with redirects followed, waiting in a local event loop; the
    // body goes to `transfer` as it arrives.
    FetchOutcome fetch(const QString &url, BodyTransfer &transfer);
    // Gives `localPath` the body; reports 005/007 itself. True when stored.
    bool store(const QString &localPath, BodyTransfer &transfer, bool gameFile);
    // Hands a finished download's manager over for disposal; see fetch().
    void retire(std::unique_ptr<QNetworkAccessManager> manager);
    void disposeRetiredManager();

    // What the next game-file download must bring, in a build with the
    // studio's key (from the signed manifest); also whether it did.
    struct Listing
    {
        qint64 size = -1;
        QString sha256;
        bool asListed = false;
    };
    // The two downloads; true when the body was stored. `keep` also hands
    // back a covered body as it was checked, for the manifest.
    bool download(const QString &filePath, QByteArray *keep = nullptr);
    bool downloadGameFile(const QString &filePath, const QString &fileName, double totalToDownload, double nbDownloaded);
    // Fetches `url` into `transfer`, reporting a failure itself. A body the
    // studio vouched for is cut off beyond its size and refused unless it
    // is that body.
    bool fetchBody(const QString &url, BodyTransfer &transfer, bool gameFile, const Listing *vouched);
    // Reports a failed download: its text, then playOk(true).
    void reportFailure(const char *text);
    // Fetches and checks the studio's statement (a build with a key); false,
    // with its text reported, when it cannot be had or is refused.
    bool fetchStatement();

    // False when the run must not record the server's version.
    bool synchroniseFiles();
    void removePreviousLauncher();
    void swapInNewLauncher();
    void storeGraphicsMode(const QString &mode);

    bool m_fullscreen = false;
    int m_stallLimitMs = 0;
    // The manager of the last download, no longer used by anything, until
    // it is disposed of.
    std::unique_ptr<QNetworkAccessManager> m_retiredManager;
    // A build with the studio's key: what it accepted of the publication,
    // the listing the next game-file download is held to, the first failure
    // of the running update, and the new launcher build's listing once the
    // run has verified and recorded it.
    std::unique_ptr<SignedPublication> m_publication;
    Listing *m_listing = nullptr;
    QString m_runFailure;
    QString m_lastStatus;
    std::optional<Listing> m_verifiedLauncher;
};
