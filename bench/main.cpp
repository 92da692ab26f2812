// zorvan-bench WORKDIR
//   The launcher's performance figures, each a ratio against a baseline
//   measured in the same run, on files written below WORKDIR:
//   a) Repair of an up-to-date installation (2,000 files, 1 GiB, warm
//      cache) against md5sum + sha1sum over the same files;
//   b) game-file downloads against curl with a new connection per file,
//      2,000 files of 32 KiB and one of 512 MiB, both from the same
//      loopback server, which runs as a separate process; the two take
//      turns at going first, each run writes into a fresh directory;
//   c) peak memory growth of one 512 MiB download against the file's size,
//      in a fresh child process;
//   d) the studio's check of a live server, zorvan-publish --verify,
//      against the launcher's first install of the same publication, both
//      from nginx with the studio's configuration: the files of b), 2,000
//      of 32 KiB and one of 512 MiB, as two publications.
// Internal modes, run by the bench itself:
//   zorvan-bench --serve DIR             the loopback server of the run
//   zorvan-bench --download-one BASE REL the download of figure c
//   zorvan-bench --first-install BASE    the launcher's run of figure d

#include "baselines.h"
#include "launcherruns.h"
#include "publication.h"
#include "timing.h"
#include "workload.h"

#include "loopbackhttpserver.h"
#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTextStream>

#include <cstdio>
#include <limits>

#include <unistd.h>

namespace {

constexpr int kRounds = 5;
constexpr qint64 kMiB = 1024 * 1024;

int serve(const QString &directory)
{
    LoopbackHttpServer server;
    server.setRoot(directory);
    if (!server.listen())
        return 1;
    std::printf("%s\n", qPrintable(server.url()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// The loopback server in a process of its own, for the life of the object.
class ServerProcess
{
public:
    explicit ServerProcess(const QString &directory)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve"), directory});
        if (!m_process.waitForReadyRead(10000))
            qFatal("the loopback server did not start");
        m_url = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~ServerProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QString url() const { return m_url; }

private:
    QProcess m_process;
    QString m_url;
};

// Peak memory growth, in bytes, of a fresh process downloading one file.
qint64 downloadPeakGrowth(const QString &base, const QString &relative, const QString &intoDir)
{
    QDir(intoDir).removeRecursively();
    QDir().mkpath(intoDir);
    QProcess child;
    child.setWorkingDirectory(intoDir);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--download-one"), base, relative});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        qFatal("the download of %s failed", qPrintable(relative));
    const QList<QByteArray> kib = child.readAllStandardOutput().simplified().split(' ');
    return (kib.value(1).toLongLong() - kib.value(0).toLongLong()) * 1024;
}

// The best download times of curl and of the launcher over the rounds.
struct Downloads
{
    double curl = std::numeric_limits<double>::max();
    double launcher = std::numeric_limits<double>::max();

    // One run of each. The two take turns at going first, and each starts
    // with no dirty pages left by the other (sync). Every run writes into a
    // directory of its own; with `keepFiles` the files stay until the bench
    // ends, because deleting thousands of files makes the next creations
    // slower for a while on some file systems (ext4 without a journal skips
    // inodes freed in the last minute) and would penalise whoever runs next.
    void measure(const QString &base, const QStringList &files, const QString &runs, int round, bool keepFiles)
    {
        const auto run = [&](const char *who, double &bestTime, double (*download)(const QString &, const QStringList &, const QString &)) {
            const QString into = QStringLiteral("%1/%2-%3").arg(runs, QLatin1String(who)).arg(round);
            ::sync();
            bestTime = qMin(bestTime, download(base, files, into));
            if (!keepFiles)
                QDir(into).removeRecursively();
        };
        const auto curlRun = [&]() { run("curl", curl, bench::curlDownloads); };
        const auto launcherRun = [&]() { run("launcher", launcher, bench::launcherDownloads); };
        if (round % 2 == 0) {
            curlRun();
            launcherRun();
        } else {
            launcherRun();
            curlRun();
        }
    }
};

QString row(const QString &figure, double launcher, double baseline, double ratio, const QString &target)
{
    return QStringLiteral("%1 %2 %3 %4  %5\n")
        .arg(figure, -34)
        .arg(launcher, 10, 'f', 2)
        .arg(baseline, 10, 'f', 2)
        .arg(ratio, 7, 'f', 2)
        .arg(target);
}

int runAll(const QString &work)
{
    QTextStream out(stdout);
    const QString install = work + QStringLiteral("/install");
    const QString served = work + QStringLiteral("/served");

    out << "writing the files below " << work << "..." << Qt::endl;
    const bench::Tree verified = bench::writeTree(install, QStringLiteral("verify"), 2000, 512 * 1024);
    bench::writeFile(served + QStringLiteral("/version.txt"), "bench\n");
    bench::writeFile(served + QStringLiteral("/file_listing.xml"), verified.manifest);
    const bench::Tree smallTree = bench::writeTree(served, QStringLiteral("small"), 2000, 32 * 1024);
    const bench::Tree bigTree = bench::writeTree(served, QStringLiteral("big"), 1, 512 * kMiB);

    ServerProcess server(served);
    const QString base = server.url();
    // The launcher fetches from its base URL and stores below the working
    // directory what follows it.
    qputenv(server::kBaseUrlVariable, base.toUtf8());
    if (server::baseUrl() != base)
        qFatal("the launcher does not use the bench's server");
    bench::silenceLauncherLog();

    out << "a) verification..." << Qt::endl;
    bench::coreutilsVerification(install, verified.files); // warms the cache
    bench::launcherVerification(install, verified.files.size());
    double coreutils = 1e9;
    double repair = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        coreutils = qMin(coreutils, bench::coreutilsVerification(install, verified.files));
        repair = qMin(repair, bench::launcherVerification(install, verified.files.size()));
    }

    out << "b) downloads..." << Qt::endl;
    Downloads small;
    Downloads big;
    const QString runs = work + QStringLiteral("/runs");
    for (int i = 0; i < kRounds; ++i) {
        small.measure(base, smallTree.files, runs + QStringLiteral("/small"), i, true);
        big.measure(base, bigTree.files, runs + QStringLiteral("/big"), i, false);
    }

    out << "c) memory..." << Qt::endl;
    qint64 growth = 0;
    for (int i = 0; i < kRounds; ++i)
        growth = qMax(growth, downloadPeakGrowth(base, bigTree.files.first(), work + QStringLiteral("/memory")));
    QDir(work + QStringLiteral("/memory")).removeRecursively();

    // Each tree published on its own below nginx's "game/", its files
    // reached through links to the trees of b).
    out << "d) publication check..." << Qt::endl;
    struct Published
    {
        const bench::Tree &tree;
        QString name;
        double verify = 1e9;
        double install = 1e9;
    };
    Published publications[] = {{smallTree, QStringLiteral("small")}, {bigTree, QStringLiteral("big")}};
    for (const Published &p : publications) {
        const QString dir = work + QStringLiteral("/www/game/") + p.name;
        bench::writeFile(dir + QStringLiteral("/version.txt"), "bench\n");
        bench::writeFile(dir + QStringLiteral("/file_listing.xml"), p.tree.manifest);
        for (const QString &sub : QDir(served).entryList({p.name + QStringLiteral("-d*")}, QDir::Dirs))
            QFile::link(served + QLatin1Char('/') + sub, dir + QLatin1Char('/') + sub);
    }
    bench::Nginx nginx(work + QStringLiteral("/nginx"), work + QStringLiteral("/www"));
    for (int i = 0; nginx.running() && i < kRounds; ++i) {
        for (Published &p : publications) {
            const QString base = nginx.url() + p.name + QLatin1Char('/');
            const QString into = QStringLiteral("%1/first-%2-%3").arg(runs, p.name).arg(i);
            const auto install = [&]() {
                ::sync();
                p.install = qMin(p.install, bench::launcherFirstInstall(base, into));
                if (p.name == QLatin1String("big"))
                    QDir(into).removeRecursively();
            };
            if (i % 2 == 0)
                install();
            p.verify = qMin(p.verify, bench::publisherVerify(base));
            if (i % 2 == 1)
                install();
        }
    }

    const double smallMiB = double(smallTree.bytes) / kMiB;
    const double bigMiB = double(bigTree.bytes) / kMiB;
    out << "\nbest of " << kRounds << " rounds each\n";
    out << QStringLiteral("%1 %2 %3 %4  %5\n")
               .arg(QStringLiteral("figure"), -34)
               .arg(QStringLiteral("launcher"), 10)
               .arg(QStringLiteral("baseline"), 10)
               .arg(QStringLiteral("ratio"), 7)
               .arg(QStringLiteral("target"));
    out << row(QStringLiteral("a) up-to-date check, s"), repair, coreutils, repair / coreutils,
               QStringLiteral("<= 1.15  (Repair vs md5sum + sha1sum, 2000 files, 1 GiB)"));
    out << row(QStringLiteral("b) 2000 x 32 KiB, MiB/s"), smallMiB / small.launcher, smallMiB / small.curl, small.curl / small.launcher,
               QStringLiteral(">= 0.50  (launcher vs curl, new connection each)"));
    out << row(QStringLiteral("b) 1 x 512 MiB, MiB/s"), bigMiB / big.launcher, bigMiB / big.curl, big.curl / big.launcher,
               QStringLiteral(">= 0.35  (launcher vs curl)"));
    out << row(QStringLiteral("c) peak memory growth, MiB"), double(growth) / kMiB, bigMiB, double(growth) / double(bigTree.bytes),
               QStringLiteral("<= 1.10  (growth vs file size, 512 MiB download)"));
    if (!nginx.running()) {
        out << "d) skipped: nginx is not installed (apt-get install nginx-light)\n";
    } else {
        // Both fetch every byte; the check also computes MD5 and SHA-1 of
        // each, which bounds it on a large file.
        out << row(QStringLiteral("d) --verify, 2000 x 32 KiB, s"), publications[0].verify, publications[0].install,
                   publications[0].verify / publications[0].install, QStringLiteral("<= 0.50  (vs the launcher's first install, nginx)"));
        out << row(QStringLiteral("d) --verify, 1 x 512 MiB, s"), publications[1].verify, publications[1].install,
                   publications[1].verify / publications[1].install, QStringLiteral("<= 2.00  (vs the launcher's first install, nginx)"));
    }
    out.flush();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--serve"))
        return serve(args.at(2));
    if (args.size() == 4 && args.at(1) == QLatin1String("--download-one")) {
        bench::silenceLauncherLog();
        return bench::downloadOnceReportingMemory(args.at(2), args.at(3));
    }
    if (args.size() == 3 && args.at(1) == QLatin1String("--first-install")) {
        bench::silenceLauncherLog();
        return bench::firstInstall(args.at(2));
    }
    if (args.size() != 2 || args.at(1).startsWith(QLatin1String("--"))) {
        std::fprintf(stderr, "usage: zorvan-bench WORKDIR\n");
        return 2;
    }
    return runAll(args.at(1));
}
