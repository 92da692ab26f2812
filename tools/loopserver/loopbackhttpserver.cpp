#include "loopbackhttpserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

namespace {

constexpr qint64 kChunk = 256 * 1024;
constexpr qint64 kQueueLimit = 1024 * 1024;

QByteArray statusLine(int code)
{
    switch (code) {
    case 200:
        return "HTTP/1.1 200 OK\r\n";
    case 302:
        return "HTTP/1.1 302 Found\r\n";
    case 400:
        return "HTTP/1.1 400 Bad Request\r\n";
    case 404:
        return "HTTP/1.1 404 Not Found\r\n";
    default:
        return "HTTP/1.1 500 Internal Server Error\r\n";
    }
}

} // namespace

struct LoopbackHttpServer::Connection
{
    enum class End { Close, Stall, Drop };

    QByteArray request;
    bool answered = false;
    QFile *file = nullptr;
    QByteArray memory;
    qint64 offset = 0;
    qint64 limit = 0;
    End end = End::Close;
    bool stalled = false;

    ~Connection() { delete file; }
};

LoopbackHttpServer::LoopbackHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        delete it.value();
    }
}

bool LoopbackHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

quint16 LoopbackHttpServer::port() const
{
    return m_server.serverPort();
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port()) + (path.isNull() ? m_prefix : path);
}

void LoopbackHttpServer::setRoot(const QString &directory, const QString &prefix)
{
    m_root = directory;
    m_prefix = prefix;
}

void LoopbackHttpServer::setBehaviour(const QString &path, Behaviour behaviour, const QString &target)
{
    Route &route = m_routes[path];
    route.behaviour = behaviour;
    route.target = target;
}

void LoopbackHttpServer::setContent(const QString &path, const QByteArray &content)
{
    Route &route = m_routes[path];
    route.hasContent = true;
    route.content = content;
}

void LoopbackHttpServer::clearRoutes()
{
    m_routes.clear();
}

void LoopbackHttpServer::releaseStalled()
{
    const auto sockets = m_connections.keys();
    for (QTcpSocket *socket : sockets) {
        if (m_connections.value(socket)->stalled)
            socket->abort();
    }
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_connections.insert(socket, new Connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket]() { pump(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            delete m_connections.take(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    Connection *c = m_connections.value(socket);
    if (!c || c->answered) {
        socket->readAll();
        return;
    }
    c->request += socket->readAll();
    const int end = c->request.indexOf("\r\n\r\n");
    if (end < 0) {
        if (c->request.size() > 64 * 1024)
            socket->abort();
        return;
    }
    c->answered = true;
    const QList<QByteArray> words = c->request.left(c->request.indexOf("\r\n")).split(' ');
    if (words.size() < 3 || (words.at(0) != "GET" && words.at(0) != "HEAD")) {
        socket->write(statusLine(400) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    QByteArray target = words.at(1);
    const int query = target.indexOf('?');
    if (query >= 0)
        target.truncate(query);
    const QString path = QUrl::fromPercentEncoding(target);
    m_requests << path;
    emit requestReceived(path);
    answer(socket, path);
}

bool LoopbackHttpServer::bodyFor(const QString &path, const Route &route, QByteArray *content, QString *file) const
{
    if (route.hasContent) {
        *content = route.content;
        return true;
    }
    if (m_root.isEmpty() || !path.startsWith(m_prefix))
        return false;
    const QString relative = path.mid(m_prefix.size());
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (relative.isEmpty() || parts.contains(QStringLiteral("..")))
        return false;
    const QFileInfo info(QDir(m_root).filePath(relative));
    if (!info.isFile())
        return false;
    *file = info.filePath();
    return true;
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const QString &path)
{
    Connection *c = m_connections.value(socket);
    const Route route = m_routes.value(path);
    const QByteArray plain = "Content-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

    switch (route.behaviour) {
    case Behaviour::NotFound:
        socket->write(statusLine(404) + plain);
        socket->disconnectFromHost();
        return;
    case Behaviour::ServerError:
        socket->write(statusLine(500) + plain);
        socket->disconnectFromHost();
        return;
    case Behaviour::Redirect:
    case Behaviour::RedirectLoop: {
        const QString location = route.behaviour == Behaviour::Redirect ? route.target : path;
        socket->write(statusLine(302) + "Location: " + QUrl(location).toEncoded() + "\r\n" + plain);
        socket->disconnectFromHost();
        return;
    }
    default:
        break;
    }

    QByteArray content;
    QString filePath;
    if (!bodyFor(path, route, &content, &filePath)) {
        socket->write(statusLine(404) + plain);
        socket->disconnectFromHost();
        return;
    }
    qint64 size = content.size();
    if (!filePath.isEmpty()) {
        c->file = new QFile(filePath);
        if (!c->file->open(QIODevice::ReadOnly)) {
            socket->write(statusLine(500) + plain);
            socket->disconnectFromHost();
            return;
        }
        size = c->file->size();
    } else {
        c->memory = content;
    }

    QByteArray headers = statusLine(200) + "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    c->limit = size;
    switch (route.behaviour) {
    case Behaviour::NoLength:
        break;
    case Behaviour::Stall:
        headers += "Content-Length: " + QByteArray::number(size) + "\r\n";
        c->limit = size / 2;
        c->end = Connection::End::Stall;
        break;
    case Behaviour::DropMidBody:
        headers += "Content-Length: " + QByteArray::number(size) + "\r\n";
        c->limit = size / 2;
        c->end = Connection::End::Drop;
        break;
    case Behaviour::ShortBody:
        headers += "Content-Length: " + QByteArray::number(size + 100) + "\r\n";
        break;
    case Behaviour::JoinedLength:
        headers += "Content-Length: 0, " + QByteArray::number(size) + "\r\n";
        break;
    default:
        headers += "Content-Length: " + QByteArray::number(size) + "\r\n";
        break;
    }
    socket->write(headers + "\r\n");
    if (c->request.startsWith("HEAD")) {
        c->limit = 0;
        c->end = Connection::End::Close;
    }
    pump(socket);
}

void LoopbackHttpServer::pump(QTcpSocket *socket)
{
    Connection *c = m_connections.value(socket);
    if (!c || !c->answered || c->stalled)
        return;
    while (c->offset < c->limit && socket->bytesToWrite() < kQueueLimit) {
        const qint64 want = qMin(kChunk, c->limit - c->offset);
        QByteArray chunk;
        if (c->file) {
            chunk = c->file->read(want);
            if (chunk.isEmpty()) {
                socket->abort();
                return;
            }
        } else {
            chunk = c->memory.mid(int(c->offset), int(want));
        }
        c->offset += chunk.size();
        socket->write(chunk);
    }
    if (c->offset >= c->limit && socket->bytesToWrite() == 0)
        finish(socket);
}

void LoopbackHttpServer::finish(QTcpSocket *socket)
{
    Connection *c = m_connections.value(socket);
    switch (c->end) {
    case Connection::End::Close:
        socket->disconnectFromHost();
        break;
    case Connection::End::Stall:
        c->stalled = true;
        break;
    case Connection::End::Drop:
        socket->abort();
        break;
    }
}
