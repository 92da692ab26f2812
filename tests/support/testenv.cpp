#include "testenv.h"

#include "platform/lifecycle.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

LoopbackHttpServer &updateServer()
{
    static LoopbackHttpServer *server = [] {
        auto *s = new LoopbackHttpServer(QCoreApplication::instance());
        if (!s->listen())
            qFatal("cannot listen on 127.0.0.1");
        qputenv(server::kBaseUrlVariable, s->url().toUtf8());
        if (server::baseUrl() != s->url())
            qFatal("the base URL was read before the test server started");
        return s;
    }();
    return *server;
}

#ifdef Q_OS_WIN
// The registry cannot be pointed elsewhere: the tests run in a Wine prefix
// of their own, and each isolated store starts and ends with the
// launcher's branch removed.
namespace {
void clearLauncherBranch()
{
    QSettings(QStringLiteral("Team Quillon"), QStringLiteral("Zorvan Lumeth")).clear();
}
} // namespace

IsolatedSettings::IsolatedSettings()
{
    clearLauncherBranch();
    QCoreApplication::setOrganizationName(QStringLiteral("Team Quillon"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvan Lumeth"));
}

IsolatedSettings::~IsolatedSettings()
{
    clearLauncherBranch();
}
#else
IsolatedSettings::IsolatedSettings()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("Team Quillon"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvan Lumeth"));
}

IsolatedSettings::~IsolatedSettings()
{
    // A place that no longer exists rather than the machine's own store.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path() + QStringLiteral("/gone"));
}
#endif

ServedTree::~ServedTree()
{
    updateServer().setRoot(QString());
    updateServer().clearRoutes();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> result;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        result.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return result;
}

QString md5Hex(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

QString sha1Hex(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex();
}

QByteArray manifestFor(const QList<QPair<QString, QByteArray>> &files)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Files>\n";
    for (const auto &file : files) {
        xml += "  <File Name=\"" + file.first.section('/', -1).toUtf8() + "\" Path=\"/home/zorvanhost/www/game/" + file.first.toUtf8()
            + "\" MD5=\"" + md5Hex(file.second).toLatin1() + "\" SHA1=\"" + sha1Hex(file.second).toLatin1() + "\"/>\n";
    }
    return xml + "</Files>\n";
}

QPair<int, QString> publish(const QStringList &args, bool outputOnly)
{
    QProcess tool;
    tool.start(QStringLiteral(ZORVAN_BUILD_DIR "/tools/publish/zorvan-publish"), args);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit)
        return {-1, QString()};
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput() + (outputOnly ? QByteArray() : tool.readAllStandardError()))};
}

QStringList texts(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &args : spy)
        result << args.at(0).toString();
    return result;
}

void clearQuitRequest()
{
    // Only the application's own loop resets the toolkit's quit flag.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    lifecycle::reset();
}

UpdateRun runUpdate(bool repair, const std::function<void(GameUpdater &)> &start)
{
    GameUpdater updater;
    QSignalSpy infos(&updater, &GameUpdater::infos);
    QSignalSpy playOk(&updater, &GameUpdater::playOk);
    QStringList merged;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) { merged << text; });
    QObject::connect(&updater, &GameUpdater::playOk,
                     [&](bool ok) { merged << QString::fromLatin1(ok ? "playOk(true)" : "playOk(false)"); });
    QObject::connect(&updater, &GameUpdater::downloadP, [&]() {
        if (merged.isEmpty() || merged.last() != QLatin1String("downloadP"))
            merged << QStringLiteral("downloadP");
    });
    updateServer().clearRequests();
    if (start)
        start(updater);
    repair ? updater.forceUpdate() : updater.checkUpdate();
    UpdateRun run{texts(infos), {}, updateServer().requests(), lifecycle::quitRequested(), merged};
    for (const QList<QVariant> &args : playOk)
        run.playOk << args.at(0).toBool();
    if (run.quit)
        clearQuitRequest();
    return run;
}
