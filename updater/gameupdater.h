#pragma once

#include <QCryptographicHash>
#include <QObject>
#include <QString>

#include <memory>

class BodyTransfer;
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

private:
    // How the wait for one reply ended.
    enum class FetchOutcome { Finished, Failed, Interrupted };

    // One GET with redirects followed, waiting in a local event loop; the
    // body goes to `transfer` as it arrives.
    FetchOutcome fetch(const QString &url, BodyTransfer &transfer);
    // Gives `localPath` the body; reports 005/007 itself.
    void store(const QString &localPath, BodyTransfer &transfer, bool gameFile);
    // Hands a finished download's manager over for disposal; see fetch().
    void retire(std::unique_ptr<QNetworkAccessManager> manager);
    void disposeRetiredManager();

    // False when the run must not record the server's version.
    bool synchroniseFiles();
    void removePreviousLauncher();
    void swapInNewLauncher();
    void storeGraphicsMode(const QString &mode);

    // Signed publications (signedmanifest.cpp), in a build with a key: the
    // digests the next game-file download must match, and whether it did not.
    struct ListedBody
    {
        QString md5;
        QString sha1;
        bool refused = false;
    };
    bool acceptPublication();

    bool m_fullscreen = false;
    // The manager of the last download, no longer used by anything, until
    // it is disposed of.
    std::unique_ptr<QNetworkAccessManager> m_retiredManager;
    // Taken by the next game-file download; see synchroniseFiles().
    ListedBody *m_listedBody = nullptr;
};
