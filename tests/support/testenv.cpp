#include "testenv.h"

#include "platform/lifecycle.h"
#include "platform/replacefile.h"
#include "updater/gameupdater.h"
#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
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

// Windows' store, the registry, cannot be pointed elsewhere: the tests run
// in a Wine prefix of their own, and each isolated store starts and ends
// with the launcher's branch removed.
IsolatedSettings::IsolatedSettings()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Team Quillon"));
    QCoreApplication::setApplicationName(QStringLiteral("Zorvan Lumeth"));
#ifdef Q_OS_WIN
    QSettings().clear();
#else
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
#endif
}

IsolatedSettings::~IsolatedSettings()
{
#ifdef Q_OS_WIN
    QSettings().clear();
#else
    // A place that no longer exists rather than the machine's own store.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path() + QStringLiteral("/gone"));
#endif
}

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

QMap<QString, QByteArray> snapshot(const QString &root, QDir::Filters extra)
{
    QMap<QString, QByteArray> result;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden | extra, QDirIterator::Subdirectories); it.hasNext();) {
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
    UpdateRun run;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) {
        run.statuses << text;
        run.emitted << text;
    });
    QObject::connect(&updater, &GameUpdater::playOk, [&](bool ok) { run.emitted << (ok ? "playOk(true)" : "playOk(false)"); });
    QObject::connect(&updater, &GameUpdater::downloadP, [&]() {
        if (run.emitted.isEmpty() || run.emitted.last() != QLatin1String("downloadP"))
            run.emitted << QStringLiteral("downloadP");
    });
    updateServer().clearRequests();
    if (start)
        start(updater);
    repair ? updater.forceUpdate() : updater.checkUpdate();
    run.requests = updateServer().requests();
    run.quit = lifecycle::quitRequested();
    if (run.quit)
        clearQuitRequest();
    return run;
}

void verifyRun(const UpdateRun &run, const QStringList &statuses)
{
    QCOMPARE(run.statuses, statuses);
    QStringList expected;
    for (const QString &status : statuses)
        expected << status << (status.startsWith("Downloading") ? QStringList() : QStringList{"playOk(true)"});
    QStringList seen = run.emitted;
    for (int i = seen.indexOf("downloadP"); i >= 0; i = seen.indexOf("downloadP"))
        QVERIFY2(i > 0 && seen.takeAt(i) == "downloadP" && seen.at(i - 1).startsWith("Downloading"), qPrintable(run.emitted.join('\n')));
    QCOMPARE(seen, expected);
    if (statuses.contains(kManifest))
        QVERIFY(!platform::hasUnflushedReplacements());
}
