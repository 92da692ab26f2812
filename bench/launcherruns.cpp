#include "launcherruns.h"

#include "timing.h"

#include "updater/gameupdater.h"
#include "updater/signature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace bench {

namespace {

// Changes the working directory for the life of the object.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QString &directory)
        : m_previous(QDir::currentPath())
    {
        QDir().mkpath(directory);
        if (!QDir::setCurrent(directory))
            qFatal("cannot enter %s", qPrintable(directory));
    }
    ~WorkingDirectory() { QDir::setCurrent(m_previous); }

private:
    const QString m_previous;
};

qint64 statusKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

int g_hashedFiles = 0;

// The launcher's debug lines are formatted as usual but go nowhere; the
// digests computed are counted.
void quietLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg) {
        if (message.startsWith(QStringLiteral("Vérification du hash de ")))
            ++g_hashedFiles;
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

void silenceLauncherLog()
{
    qInstallMessageHandler(quietLog);
}

double launcherVerification(const QString &installDir, int expectedFiles)
{
    WorkingDirectory inside(installDir);
    g_hashedFiles = 0;
    GameUpdater updater;
    QStringList statuses;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) { statuses << text; });
    const double seconds = timed([&]() { updater.forceUpdate(); });
    // Up to date: the two small downloads and the closing text, nothing else.
    QStringList expected = {QStringLiteral("Downloading  version.txt..."), QStringLiteral("Downloading  file_listing.xml..."),
                            QStringLiteral("Update finished. You have the latest version.")};
    if (signature::enabled())
        expected.prepend(QStringLiteral("Downloading  publication.sig..."));
    if (statuses != expected)
        qFatal("the installation was not up to date: %s", qPrintable(statuses.join(QStringLiteral(" | "))));
    if (g_hashedFiles != 2 * expectedFiles)
        qFatal("the launcher hashed %d files, not %d", g_hashedFiles, 2 * expectedFiles);
    return seconds;
}

double launcherSynchronisation(const QString &installDir, int expectedFiles)
{
    WorkingDirectory inside(installDir);
    GameUpdater updater;
    QStringList statuses;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) { statuses << text; });
    const double seconds = timed([&]() { updater.checkUpdate(); });
    if (statuses.filter(QStringLiteral("%) ")).size() != expectedFiles
        || statuses.last() != QStringLiteral("Update finished. You have the latest version."))
        qFatal("the synchronisation did not fetch every file: %s", qPrintable(statuses.join(QStringLiteral(" | "))));
    return seconds;
}

double launcherDownloads(const QString &base, const QStringList &files, const QString &intoDir)
{
    QDir(intoDir).removeRecursively();
    WorkingDirectory inside(intoDir);
    GameUpdater updater;
    int failures = 0;
    QObject::connect(&updater, &GameUpdater::playOk, [&]() { ++failures; });
    const double seconds = timed([&]() {
        for (int i = 0; i < files.size(); ++i)
            updater.downloadFile(base + files.at(i), files.at(i).section(QLatin1Char('/'), -1), files.size(), i + 1);
    });
    if (failures > 0)
        qFatal("%d of %d launcher downloads failed", failures, int(files.size()));
    for (const QString &file : files) {
        if (!QFileInfo(file).isFile())
            qFatal("the launcher did not store %s", qPrintable(file));
    }
    return seconds;
}

int downloadOnceReportingMemory(const QString &base, const QString &relative)
{
    GameUpdater updater;
    int failures = 0;
    QObject::connect(&updater, &GameUpdater::playOk, [&]() { ++failures; });
    QStringList statuses;
    QObject::connect(&updater, &GameUpdater::infos, [&](const QString &text) { statuses << text; });
    const qint64 before = statusKiB("VmRSS:");
    const double seconds = timed([&]() { updater.downloadFile(base + relative, relative.section(QLatin1Char('/'), -1), 1, 1); });
    const qint64 peak = statusKiB("VmHWM:");
    if (failures > 0 || !QFileInfo(relative).isFile()) {
        std::fprintf(stderr, "the download of %s failed: %s\n", qPrintable(relative), qPrintable(statuses.join(QStringLiteral(" | "))));
        return 1;
    }
    std::printf("%lld %lld %.6f\n", before, peak, seconds);
    return 0;
}

int syncOnceReportingMemory()
{
    GameUpdater updater;
    const qint64 before = statusKiB("VmRSS:");
    const double seconds = timed([&]() { updater.checkUpdate(); });
    std::printf("%lld %lld %.6f\n", before, statusKiB("VmHWM:"), seconds);
    return 0;
}

int checkOnceReportingMemory(int files)
{
    const qint64 before = statusKiB("VmRSS:");
    const double seconds = launcherVerification(QDir::currentPath(), files);
    std::printf("%lld %lld %.6f\n", before, statusKiB("VmHWM:"), seconds);
    return 0;
}

} // namespace bench
