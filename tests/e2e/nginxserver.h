#pragma once

// A private nginx for the end-to-end tests: its own configuration, logs and
// temporary paths in a temporary directory, listening on 127.0.0.1 only, and
// stopped when the object goes away (also when a test function fails).
//
// The served tree's "/game/" is the update server's base URL. A few paths
// misbehave on purpose:
//   /game/moved/REST  -> 301 to /store/REST (served from the tree's "store/")
//   /game/gone/...    -> 404
//   /game/broken/...  -> 500
//   /game/loop/...    -> 301 to itself, for ever
//   *.big below /game/ is sent at a limited rate, so that a test can act in
//   the middle of its transfer.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QUrl>

class NginxServer
{
public:
    struct Request
    {
        int status = 0;
        QString path; // decoded request path, e.g. "/game/version.txt"
    };

    static QString binary() { return QStringLiteral("/usr/sbin/nginx"); }
    static bool available() { return QFile::exists(binary()); }

    NginxServer() { QDir().mkpath(servedRoot() + QStringLiteral("/game")); }
    ~NginxServer() { stop(); }
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // The directory served at "/"; the game lies in its "game/".
    QString servedRoot() const { return m_dir.path() + QStringLiteral("/www"); }
    QString gameDir() const { return servedRoot() + QStringLiteral("/game"); }
    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/game/").arg(m_port); }
    QString errorText() const { return m_error; }

    // Bytes per second for the *.big files, e.g. "2m"; takes effect at start.
    void setBigFileRate(const QString &rate) { m_bigRate = rate; }

    // Starts nginx on a free port; retries with another port when the one
    // found was taken in between.
    bool start()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_port = freePort();
            if (m_port == 0)
                continue;
            writeConfig();
            m_process.setProgram(binary());
            m_process.setArguments({QStringLiteral("-p"), m_dir.path() + QLatin1Char('/'), QStringLiteral("-c"),
                                    configPath(), QStringLiteral("-e"), m_dir.path() + QStringLiteral("/error.log")});
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start();
            if (!m_process.waitForStarted(5000)) {
                m_error = m_process.errorString();
                continue;
            }
            if (waitUntilListening())
                return true;
            stop();
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }

    // Writes `content` at `relative` below the game directory.
    void write(const QString &relative, const QByteArray &content) const { writeBelow(gameDir(), relative, content); }
    // Writes below the served root (for redirect targets outside /game/).
    void writeServed(const QString &relative, const QByteArray &content) const
    {
        writeBelow(servedRoot(), relative, content);
    }

    // The access log so far, oldest first.
    QList<Request> requests() const
    {
        QList<Request> result;
        QFile log(m_dir.path() + QStringLiteral("/access.log"));
        if (!log.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray &line : log.readAll().split('\n')) {
            const int blank = line.indexOf(' ');
            if (blank <= 0)
                continue;
            Request request;
            request.status = line.left(blank).toInt();
            QByteArray target = line.mid(blank + 1).trimmed();
            const int query = target.indexOf('?');
            if (query >= 0)
                target.truncate(query);
            request.path = QUrl::fromPercentEncoding(target);
            result << request;
        }
        return result;
    }

    // Paths of the requests so far, decoded, oldest first.
    QStringList requestedPaths() const
    {
        QStringList paths;
        for (const Request &request : requests())
            paths << request.path;
        return paths;
    }

    void clearLog() const
    {
        QFile log(m_dir.path() + QStringLiteral("/access.log"));
        if (log.open(QIODevice::WriteOnly | QIODevice::Truncate))
            log.close();
    }

private:
    static void writeBelow(const QString &root, const QString &relative, const QByteArray &content)
    {
        const QString path = root + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }

    QString configPath() const { return m_dir.path() + QStringLiteral("/nginx.conf"); }

    void writeConfig() const
    {
        const QString d = m_dir.path();
        QFile conf(configPath());
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QTextStream out(&conf);
        // One process, in the foreground: nothing to switch users for and
        // nothing left behind when it is ended.
        out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
            << "pid " << d << "/nginx.pid;\n"
            << "error_log " << d << "/error.log warn;\n"
            << "events { worker_connections 128; }\n"
            << "http {\n"
            << "  types { text/plain txt; application/xml xml; }\n"
            << "  default_type application/octet-stream;\n"
            << "  log_format e2e '$status $request_uri';\n"
            << "  access_log " << d << "/access.log e2e;\n"
            << "  client_body_temp_path " << d << "/body;\n"
            << "  proxy_temp_path " << d << "/proxy;\n"
            << "  fastcgi_temp_path " << d << "/fastcgi;\n"
            << "  uwsgi_temp_path " << d << "/uwsgi;\n"
            << "  scgi_temp_path " << d << "/scgi;\n"
            << "  sendfile off;\n"
            << "  absolute_redirect off;\n"
            << "  server {\n"
            << "    listen 127.0.0.1:" << m_port << ";\n"
            << "    server_name localhost;\n"
            << "    root " << servedRoot() << ";\n"
            << "    location /game/ {\n"
            << "      location ~ \\.big$ { limit_rate " << m_bigRate << "; }\n"
            << "    }\n"
            << "    location /store/ { }\n"
            << "    location /game/moved/ { rewrite ^/game/moved/(.*)$ /store/$1 permanent; }\n"
            << "    location /game/gone/ { return 404; }\n"
            << "    location /game/broken/ { return 500; }\n"
            << "    location /game/loop/ { return 301 $uri; }\n"
            << "  }\n"
            << "}\n";
    }

    bool waitUntilListening()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (m_process.state() != QProcess::Running) {
                m_error = QString::fromLocal8Bit(m_process.readAll());
                return false;
            }
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return true;
            QThread::msleep(20);
        }
        m_error = QStringLiteral("nginx did not listen within 5 s");
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_bigRate = QStringLiteral("4m");
    QString m_error;
};
