#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// An HTTP/1.1 file server bound to 127.0.0.1 only. It serves one directory
// below a URL prefix and can be told to misbehave on chosen paths, so that
// downloads meet real errors, redirects and broken connections.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        Serve,        // 200 with the file (or the content given) and its length
        NotFound,     // 404
        ServerError,  // 500
        Redirect,     // 302 to the target given
        RedirectLoop, // 302 to the path itself, for ever
        NoLength,     // 200 without Content-Length, the body ended by closing
        Stall,        // headers and half the body, then silence until released
        DropMidBody,  // headers announcing the whole body, half of it, then a dropped connection
        ShortBody,    // announces more bytes than it sends, then closes
        JoinedLength, // 200 whose Content-Length is "0, N": a redirect's length joined to the body's
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:PORT" followed by the prefix, e.g. ".../game/".
    QString url(const QString &path = QString()) const;

    // Serves `directory` below `prefix` (which starts and ends with "/").
    void setRoot(const QString &directory, const QString &prefix = QStringLiteral("/game/"));
    QString root() const { return m_root; }

    // Makes the decoded URL path `path` (e.g. "/game/version.txt") behave
    // as told. `target` is the Location of a redirect.
    void setBehaviour(const QString &path, Behaviour behaviour, const QString &target = QString());
    // Serves `content` at `path` instead of a file.
    void setContent(const QString &path, const QByteArray &content);
    void clearRoutes();

    // Ends every stalled answer by dropping its connection.
    void releaseStalled();

    // Decoded paths of the requests received, in order.
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

signals:
    void requestReceived(const QString &path);

private:
    struct Route
    {
        Behaviour behaviour = Behaviour::Serve;
        QString target;
        bool hasContent = false;
        QByteArray content;
    };
    struct Connection;

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);
    void pump(QTcpSocket *socket);
    bool bodyFor(const QString &path, const Route &route, QByteArray *content, QString *file) const;
    void finish(QTcpSocket *socket);

    QTcpServer m_server;
    QString m_root;
    QString m_prefix = QStringLiteral("/game/");
    QHash<QString, Route> m_routes;
    QHash<QTcpSocket *, Connection *> m_connections;
    QStringList m_requests;
};
