#include "publication.h"

#include "timing.h"

#include "updater/gameupdater.h"
#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

namespace bench {

namespace {

const char *const kNginx = "/usr/sbin/nginx";

} // namespace

Nginx::Nginx(const QString &workDir, const QString &root)
{
    if (!QFile::exists(QString::fromLatin1(kNginx)))
        return;
    QDir().mkpath(workDir);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    const QString config = workDir + QStringLiteral("/nginx.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(config));
    file.write(QStringLiteral("daemon off; master_process off; pid %1/nginx.pid; error_log %1/error.log;\n"
                              "events { }\n"
                              "http { default_type application/octet-stream; access_log off;\n"
                              "  client_body_temp_path %1/t1; proxy_temp_path %1/t2; fastcgi_temp_path %1/t3; uwsgi_temp_path %1/t4;"
                              " scgi_temp_path %1/t5;\n"
                              "  server { listen 127.0.0.1:%2; root %3; include \"%4/tools/server/nginx-update.conf\"; } }\n")
                   .arg(workDir, QString::number(port), root, QStringLiteral(ZORVAN_SOURCE_DIR))
                   .toUtf8());
    file.close();
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(QString::fromLatin1(kNginx), {QStringLiteral("-p"), workDir + QLatin1Char('/'), QStringLiteral("-c"), config});
    m_process.waitForStarted();
    for (int i = 0; i < 100 && running(); ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(100)) {
            m_url = QStringLiteral("http://127.0.0.1:%1/game/").arg(port);
            return;
        }
        m_process.waitForFinished(50);
    }
    qFatal("nginx did not start; see %s/error.log", qPrintable(workDir));
}

Nginx::~Nginx()
{
    m_process.terminate();
    m_process.waitForFinished();
}

double launcherFirstInstall(const QString &base, const QString &intoDir)
{
    QDir(intoDir).removeRecursively();
    QDir().mkpath(intoDir);
    return timedProcess(QCoreApplication::applicationFilePath(), {QStringLiteral("--first-install"), base}, intoDir);
}

int firstInstall(const QString &base)
{
    qputenv(server::kBaseUrlVariable, base.toUtf8());
    GameUpdater updater;
    QStringList statuses;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) { statuses << text; });
    updater.checkUpdate();
    // Every status but the closing one is a file's download; none failed.
    const bool finished = statuses.value(statuses.size() - 1) == QLatin1String("Update finished. You have the latest version.");
    const bool failed = !statuses.filter(QStringLiteral(" (00")).isEmpty() || !statuses.filter(QStringLiteral("(01")).isEmpty();
    if (!finished || failed) {
        fprintf(stderr, "the first install failed: %s\n", qPrintable(statuses.join(QStringLiteral(" | "))));
        return 1;
    }
    return 0;
}

double publisherVerify(const QString &base)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(ZORVAN_PUBLISH_BINARY), {QStringLiteral("--verify"), base});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("zorvan-publish --verify %s did not find the publication clean", qPrintable(base));
    return timer.nsecsElapsed() / 1e9;
}

} // namespace bench
