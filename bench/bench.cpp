// zorvan-bench WORKDIR SERVE_BINARY
//   Prints three ratios, each against a baseline measured in the same run:
//   verification of an up-to-date installation against md5sum + sha1sum,
//   download throughput against curl (fresh connection per file), and the
//   peak memory of one large download against the file's size.
// zorvan-bench --download-one URL NAME   (used by the memory figure)

#include "updater/gameupdater.h"
#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>

#include <cstdio>

namespace {

QTextStream out(stdout);

qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

void writeRandom(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const qint64 n = qMin<qint64>(left, block.size());
        file.write(block.constData(), n);
        left -= n;
    }
}

double run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    return t.elapsed() / 1000.0;
}

double launcherDownloads(const QString &base, const QStringList &files, const QString &into)
{
    QDir().mkpath(into);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(into);
    GameUpdater updater;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < files.size(); ++i)
        updater.downloadFile(base + files.at(i), files.at(i).section('/', -1), files.size(), i + 1);
    if (!QFile::exists(files.last()))
        qFatal("the launcher did not store %s", qPrintable(files.last()));
    const double seconds = t.elapsed() / 1000.0;
    QDir::setCurrent(previous);
    return seconds;
}

double curlDownloads(const QString &base, const QStringList &files, const QString &into)
{
    QDir().mkpath(into);
    QFile config(into + QStringLiteral("/curl.cfg"));
    config.open(QIODevice::WriteOnly);
    for (const QString &f : files)
        config.write(QStringLiteral("url = \"%1%2\"\noutput = \"%3/%2\"\n").arg(base, f, into).toUtf8());
    config.close();
    return run(QStringLiteral("curl"), {"-s", "-f", "--create-dirs", "-H", "Connection: close", "-K", config.fileName()});
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--download-one")) {
        GameUpdater updater;
        const qint64 before = statusKiB("VmRSS:");
        updater.downloadFile(args.at(2), args.at(3), 1, 1);
        std::printf("%lld %lld\n", before, statusKiB("VmHWM:"));
        return 0;
    }
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: zorvan-bench WORKDIR SERVE_BINARY\n");
        return 2;
    }
    const QString work = args.at(1);
    const QString served = work + QStringLiteral("/server");

    // 2,000 files, 1 GiB in all, for the verification.
    QStringList verified;
    for (int i = 0; i < 2000; ++i) {
        verified << QStringLiteral("verify/d%1/f%2.bin").arg(i % 20).arg(i);
        writeRandom(served + QLatin1Char('/') + verified.last(), 512 * 1024);
    }
    QStringList small;
    for (int i = 0; i < 2000; ++i) {
        small << QStringLiteral("small/d%1/s%2.bin").arg(i % 20).arg(i);
        writeRandom(served + QLatin1Char('/') + small.last(), 32 * 1024);
    }
    const QString bigName = QStringLiteral("big/large.bin");
    const qint64 bigSize = qint64(512) * 1024 * 1024;
    writeRandom(served + QLatin1Char('/') + bigName, bigSize);

    // Warm cache, then both passes of coreutils against the launcher's.
    run(QStringLiteral("md5sum"), verified, served);
    const double coreutils = run(QStringLiteral("md5sum"), verified, served) + run(QStringLiteral("sha1sum"), verified, served);
    QDir::setCurrent(served);
    GameUpdater updater;
    QElapsedTimer t;
    t.start();
    for (const QString &f : verified) {
        updater.fileChecksum(f, QCryptographicHash::Md5);
        updater.fileChecksum(f, QCryptographicHash::Sha1);
    }
    const double launcherVerify = t.elapsed() / 1000.0;
    QDir::setCurrent(work);

    QProcess server;
    server.start(args.at(2), {served, QStringLiteral("0"), QStringLiteral("/game/")});
    server.waitForReadyRead(10000);
    const QString base = QString::fromUtf8(server.readLine()).trimmed();
    // The launcher stores what it fetches under the URL less its base URL.
    qputenv(server::kBaseUrlVariable, base.toUtf8());

    const double curlSmall = curlDownloads(base, small, work + QStringLiteral("/curl-small"));
    const double launcherSmall = launcherDownloads(base, small, work + QStringLiteral("/launcher-small"));
    const double curlBig = curlDownloads(base, {bigName}, work + QStringLiteral("/curl-big"));
    QDir().mkpath(work + QStringLiteral("/launcher-big/big"));
    const double launcherBig = launcherDownloads(base, {bigName}, work + QStringLiteral("/launcher-big"));

    QProcess child;
    child.setWorkingDirectory(work + QStringLiteral("/launcher-big"));
    child.start(app.applicationFilePath(), {QStringLiteral("--download-one"), base + bigName, QStringLiteral("large.bin")});
    child.waitForFinished(-1);
    const QList<QByteArray> mem = child.readAllStandardOutput().trimmed().split(' ');
    const double memoryRatio = (mem.value(1).toLongLong() - mem.value(0).toLongLong()) * 1024.0 / double(bigSize);
    server.kill();
    server.waitForFinished();

    out << "figure                                   launcher   baseline   ratio   target\n";
    out << QStringLiteral("verification, 2000 files / 1 GiB       %1 s  %2 s   %3   <= 1.15 (md5sum + sha1sum)\n")
               .arg(launcherVerify, 7, 'f', 2).arg(coreutils, 7, 'f', 2).arg(launcherVerify / coreutils, 5, 'f', 2);
    out << QStringLiteral("download throughput, 2000 x 32 KiB     %1 s  %2 s   %3   >= 0.50 (curl, new connection each)\n")
               .arg(launcherSmall, 7, 'f', 2).arg(curlSmall, 7, 'f', 2).arg(curlSmall / launcherSmall, 5, 'f', 2);
    out << QStringLiteral("download throughput, 1 x 512 MiB       %1 s  %2 s   %3   >= 0.35 (curl)\n")
               .arg(launcherBig, 7, 'f', 2).arg(curlBig, 7, 'f', 2).arg(curlBig / launcherBig, 5, 'f', 2);
    out << QStringLiteral("peak memory, 512 MiB download          growth / file size       %1   <= 1.10\n").arg(memoryRatio, 5, 'f', 2);
    out.flush();
    return 0;
}
