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
//   *.big below /game/ is sent at 4 MiB/s, so that a test can act in the
//   middle of its transfer.

#include "installation.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QUrl>

class NginxServer
{
public:
    static bool available() { return QFile::exists(QStringLiteral("/usr/sbin/nginx")); }

    NginxServer() { QDir().mkpath(gameDir()); }
    ~NginxServer() { stop(); }
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // The directory served at "/"; the game lies in its "game/".
    QString servedRoot() const { return m_dir.path() + QStringLiteral("/www"); }
    QString gameDir() const { return servedRoot() + QStringLiteral("/game"); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/game/").arg(m_port); }
    QString errorText() const { return m_error; }

    // Starts nginx on a free port; tries another one when the port found
    // was taken in between.
    bool start()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                continue;
            m_port = probe.serverPort();
            probe.close();
            writeConfig();
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start(QStringLiteral("/usr/sbin/nginx"), {QStringLiteral("-p"), m_dir.path() + QLatin1Char('/'), QStringLiteral("-c"),
                                       m_dir.path() + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                                       m_dir.path() + QStringLiteral("/error.log")});
            if (m_process.waitForStarted(5000) && waitUntilListening())
                return true;
            m_error += m_process.errorString() + QLatin1Char(' ') + QString::fromLocal8Bit(m_process.readAll());
            stop();
        }
        return false;
    }

    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Writes `content` at `relative` below the game directory, or below the
    // served root.
    void write(const QString &relative, const QByteArray &content) const { writeFileAt(gameDir() + '/' + relative, content); }
    void writeServed(const QString &relative, const QByteArray &content) const { writeFileAt(servedRoot() + '/' + relative, content); }

    // Writes `game`, its patch notes and its manifest into the game
    // directory; a file whose path starts with "moved/" goes below "store/",
    // where the redirect leads.
    void publish(const PublishedGame &game) const
    {
        QList<QPair<QString, QByteArray>> listed;
        for (auto it = game.files.begin(); it != game.files.end(); ++it) {
            const bool moved = it.key().startsWith(QStringLiteral("moved/"));
            writeServed((moved ? QStringLiteral("store/") + it.key().mid(6) : QStringLiteral("game/") + it.key()), it.value());
            listed << qMakePair(it.key(), it.value());
        }
        write(QStringLiteral("version.txt"), game.version.toUtf8());
        write(patchNotesName(), "<b>Version " + game.version.toUtf8() + "</b>");
        write(QStringLiteral("file_listing.xml"), manifestFor(listed));
    }

    // Decoded paths of the requests so far, oldest first.
    QStringList requestedPaths() const
    {
        QStringList paths;
        for (const QByteArray &line : readFileAt(logPath()).split('\n'))
            if (!line.isEmpty())
                paths << QUrl::fromPercentEncoding(line.split('?').first());
        return paths;
    }
    void clearLog() const { writeFileAt(logPath(), QByteArray()); }

private:
    QString logPath() const { return m_dir.path() + QStringLiteral("/access.log"); }

    void writeConfig() const
    {
        const QString d = m_dir.path();
        QFile conf(d + QStringLiteral("/nginx.conf"));
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QTextStream out(&conf);
        // One process, in the foreground: nothing to switch users for and
        // nothing left behind when it is ended. Every temporary path lies in
        // the private directory, since the default ones need root.
        out << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << d << "/nginx.pid;\n"
            << "error_log " << d << "/error.log warn;\nevents { worker_connections 128; }\nhttp {\n"
            << "  types { text/plain txt; application/xml xml; }\n  default_type application/octet-stream;\n"
            << "  log_format e2e '$request_uri';\n  access_log " << d << "/access.log e2e;\n";
        for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            out << "  " << temp << "_temp_path " << d << '/' << temp << ";\n";
        out << "  sendfile off;\n  absolute_redirect off;\n  server {\n    listen 127.0.0.1:" << m_port << ";\n"
            << "    root " << servedRoot() << ";\n"
            << "    location /game/ { location ~ \\.big$ { limit_rate 4m; } }\n    location /store/ { }\n"
            << "    location /game/moved/ { rewrite ^/game/moved/(.*)$ /store/$1 permanent; }\n"
            << "    location /game/gone/ { return 404; }\n    location /game/broken/ { return 500; }\n"
            << "    location /game/loop/ { return 301 $uri; }\n  }\n}\n";
    }

    bool waitUntilListening()
    {
        for (int attempt = 0; attempt < 200 && m_process.state() == QProcess::Running; ++attempt) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
