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
//   d) the scale table: the up-to-date check over 200, 2,000 and 20,000
//      files of 16 KiB, and downloads of one file of 64 MiB, 512 MiB and
//      4 GiB (sparse on the server's side), each in a fresh process, with
//      its time per file or per MiB and its peak memory growth.
// zorvan-bench --publication WORKDIR KEY
//   e) one synchronisation of a publication (500 files of 32 KiB and one of
//      256 MiB, published by this build's publisher, signed with KEY when
//      the build carries a key) into an empty installation, and a Repair
//      of it; prints the best seconds of each over three rounds. bench/run.sh
//      --signed runs it with a build without a key and one with, and prints
//      what the signed checks add as ratios.
//   f) (in the run of WORKDIR) the studio's check of a live server,
//      zorvan-publish --verify, against the launcher's first install of the
//      same publication, both from nginx with the studio's configuration:
//      the files of b), 2,000 of 32 KiB and one of 512 MiB, as two
//      publications.
// Internal modes, run by the bench itself:
//   zorvan-bench --serve DIR             the loopback server of the run
//   zorvan-bench --download-one BASE REL a download of figures c and d
//   zorvan-bench --check-one N           an up-to-date check of figure d
//   zorvan-bench --first-install BASE    the launcher's run of figure f

#include "baselines.h"
#include "launcherruns.h"
#include "publication.h"
#include "timing.h"
#include "workload.h"

#include "loopbackhttpserver.h"
#include "platform/logfile.h"
#include "updater/serverurls.h"
#include "updater/signature.h"

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

// What a fresh process reported of its one piece of work.
struct ChildFigures
{
    qint64 growth = 0; // peak memory growth, bytes
    double seconds = 0;
};

ChildFigures runChild(const QStringList &args, const QString &directory, const QString &baseUrl = QString())
{
    QProcess child;
    child.setWorkingDirectory(directory);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!baseUrl.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(server::kBaseUrlVariable), baseUrl);
        child.setProcessEnvironment(environment);
    }
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        qFatal("the child run %s failed", qPrintable(args.join(QLatin1Char(' '))));
    const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
    return {(figures.value(1).toLongLong() - figures.value(0).toLongLong()) * 1024, figures.value(2).toDouble()};
}

// Peak memory growth and time of a fresh process downloading one file.
ChildFigures downloadInChild(const QString &base, const QString &relative, const QString &intoDir)
{
    QDir(intoDir).removeRecursively();
    QDir().mkpath(intoDir);
    const ChildFigures figures = runChild({QStringLiteral("--download-one"), base, relative}, intoDir);
    QDir(intoDir).removeRecursively();
    return figures;
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
    // As in the launcher, every line also goes to the player's log.
    platform::startLog(work + QStringLiteral("/log"));

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
        growth = qMax(growth, downloadInChild(base, bigTree.files.first(), work + QStringLiteral("/memory")).growth);

    out << "d) scale..." << Qt::endl;
    QString scaleTable;
    const auto scaleRow = [&](const QString &work, double units, const QString &unit, const ChildFigures &best, qint64 peak,
                              double baseline) {
        scaleTable += QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                          .arg(work, -32)
                          .arg(best.seconds, 8, 'f', 2)
                          .arg(1000.0 * best.seconds / units, 9, 'f', 3)
                          .arg(unit, -7)
                          .arg(double(peak) / kMiB, 10, 'f', 1)
                          .arg(baseline, 10, 'f', 2)
                          .arg(best.seconds / baseline, 7, 'f', 2);
    };
    for (const int files : {200, 2000, 20000}) {
        const QString name = QStringLiteral("scale%1").arg(files);
        const bench::Tree tree = bench::writeTree(work + QStringLiteral("/") + name, QStringLiteral("s"), files, 16 * 1024);
        bench::writeFile(served + QStringLiteral("/") + name + QStringLiteral("/version.txt"), "bench\n");
        bench::writeFile(served + QStringLiteral("/") + name + QStringLiteral("/file_listing.xml"), tree.manifest);
        ChildFigures best{0, 1e9};
        qint64 peak = 0;
        double baseline = 1e9;
        for (int i = 0; i < 3; ++i) {
            const ChildFigures run = runChild({QStringLiteral("--check-one"), QString::number(files)}, work + QStringLiteral("/") + name,
                                              base + name + QStringLiteral("/"));
            best.seconds = qMin(best.seconds, run.seconds);
            peak = qMax(peak, run.growth);
            baseline = qMin(baseline, bench::coreutilsVerification(work + QStringLiteral("/") + name, tree.files));
        }
        scaleRow(QStringLiteral("up-to-date check, %1 files").arg(files), files, QStringLiteral("ms/file"), best, peak, baseline);
        QDir(work + QStringLiteral("/") + name).removeRecursively();
    }
    // The 4 GiB file is sparse where it is served: it costs the disk only
    // where it is downloaded.
    const QString huge = QStringLiteral("scale/huge.bin");
    {
        bench::writeFile(served + QStringLiteral("/") + huge, QByteArray());
        QFile file(served + QStringLiteral("/") + huge);
        if (!file.resize(4 * 1024 * kMiB))
            qFatal("cannot make the 4 GiB file");
    }
    const bench::Tree mid = bench::writeTree(served, QStringLiteral("mid"), 1, 64 * kMiB);
    const struct
    {
        QString relative;
        qint64 bytes;
        int rounds;
    } downloads[] = {{mid.files.first(), 64 * kMiB, 3}, {bigTree.files.first(), 512 * kMiB, 3}, {huge, 4 * 1024 * kMiB, 2}};
    for (const auto &download : downloads) {
        ChildFigures best{0, 1e9};
        qint64 peak = 0;
        double baseline = 1e9;
        const QString into = work + QStringLiteral("/memory");
        // The two take turns at going first: whoever writes first into a
        // page cache full of the bench's other files pays for evicting it.
        for (int i = 0; i < 2 * download.rounds; ++i) {
            ::sync();
            if ((i + i / 2) % 2 == 0) {
                const ChildFigures run = downloadInChild(base, download.relative, into);
                best.seconds = qMin(best.seconds, run.seconds);
                peak = qMax(peak, run.growth);
            } else {
                baseline = qMin(baseline, bench::curlDownloads(base, {download.relative}, into));
            }
            QDir(into).removeRecursively();
        }
        scaleRow(QStringLiteral("download, one file of %1 MiB").arg(download.bytes / kMiB), double(download.bytes) / kMiB,
                 QStringLiteral("ms/MiB"), best, peak, baseline);
    }

    // Each tree published on its own below nginx's "game/", its files
    // reached through links to the trees of b).
    out << "f) publication check..." << Qt::endl;
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
               QStringLiteral(">= 0.40  (launcher vs curl, new connection each)"));
    out << row(QStringLiteral("b) 1 x 512 MiB, MiB/s"), bigMiB / big.launcher, bigMiB / big.curl, big.curl / big.launcher,
               QStringLiteral(">= 0.50  (launcher vs curl)"));
    out << row(QStringLiteral("c) peak memory growth, MiB"), double(growth) / kMiB, bigMiB, double(growth) / double(bigTree.bytes),
               QStringLiteral("<= 0.03  (growth vs file size: 16 MiB, whatever the size)"));
    out << "\nd) scale: the same work at three sizes, each in a fresh process (best of 3, the 4 GiB file of 2); the\n"
           "   baseline is md5sum + sha1sum for the check and curl for the downloads, on the same files\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg(QStringLiteral("work"), -32)
               .arg(QStringLiteral("best, s"), 8)
               .arg(QStringLiteral("per unit"), 9)
               .arg(QString(), -7)
               .arg(QStringLiteral("peak, MiB"), 10)
               .arg(QStringLiteral("baseline"), 10)
               .arg(QStringLiteral("ratio"), 7);
    out << scaleTable;
    if (!nginx.running()) {
        out << "\nf) skipped: nginx is not installed (apt-get install nginx-light)\n";
    } else {
        // Both fetch every byte; the check also computes MD5 and SHA-1 of
        // each, which bounds it on a large file.
        out << "\nf) the studio's check against the launcher's first install of the same publication from nginx, best of " << kRounds
            << "\n";
        out << QStringLiteral("%1 %2 %3 %4  %5\n")
                   .arg(QStringLiteral("figure"), -34)
                   .arg(QStringLiteral("--verify"), 10)
                   .arg(QStringLiteral("install"), 10)
                   .arg(QStringLiteral("ratio"), 7)
                   .arg(QStringLiteral("target"));
        out << row(QStringLiteral("f) 2000 x 32 KiB, s"), publications[0].verify, publications[0].install,
                   publications[0].verify / publications[0].install, QStringLiteral("<= 0.50"));
        out << row(QStringLiteral("f) 1 x 512 MiB, s"), publications[1].verify, publications[1].install,
                   publications[1].verify / publications[1].install, QStringLiteral("<= 3.00  (MD5 and SHA-1 of every byte)"));
    }
    out.flush();
    return 0;
}

// Figure e): a whole synchronisation and a Repair of one publication.
int publicationFigures(const QString &work, const QString &key)
{
    const QString served = work + QStringLiteral("/served");
    const bench::Tree small = bench::writeTree(served, QStringLiteral("small"), 500, 32 * 1024);
    const bench::Tree big = bench::writeTree(served, QStringLiteral("big"), 1, 256 * kMiB);
    const QString publisher = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/publish/zorvan-publish");
    QStringList args{served, QStringLiteral("--set-version"), QStringLiteral("2")};
    if (signature::enabled())
        args << QStringLiteral("--sign") << key;
    bench::timedProcess(publisher, args, work);

    ServerProcess server(served);
    qputenv(server::kBaseUrlVariable, server.url().toUtf8());
    bench::silenceLauncherLog();
    double sync = 1e9, repair = 1e9;
    for (int round = 0; round < 3; ++round) {
        const QString install = work + QStringLiteral("/install%1").arg(round);
        ::sync();
        sync = qMin(sync, bench::launcherSynchronisation(install, small.files.size() + 1));
        repair = qMin(repair, bench::launcherVerification(install, small.files.size() + 1));
        QDir(install).removeRecursively();
    }
    // A build with a key: the peak memory of a whole run, against a good
    // statement and against one of 64 MiB, which must be cut off early.
    qint64 goodPeak = 0, oversizedPeak = 0;
    if (signature::enabled()) {
        const QString install = work + QStringLiteral("/memory");
        for (qint64 *peak : {&goodPeak, &oversizedPeak}) {
            if (peak == &oversizedPeak) {
                QFile statement(served + QStringLiteral("/publication.sig"));
                if (!statement.open(QIODevice::Append) || statement.write(QByteArray(64 * kMiB, '#')) != 64 * kMiB)
                    qFatal("cannot make the oversized statement");
            }
            QDir(install).removeRecursively();
            QDir().mkpath(install);
            *peak = runChild({QStringLiteral("--sync-one")}, install).growth;
        }
    }
    std::printf("%.6f %.6f %lld %lld\n", sync, repair, goodPeak / 1024, oversizedPeak / 1024);
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
    if (args.size() == 2 && args.at(1) == QLatin1String("--sync-one")) {
        bench::silenceLauncherLog();
        return bench::syncOnceReportingMemory();
    }
    if (args.size() == 3 && args.at(1) == QLatin1String("--check-one")) {
        bench::silenceLauncherLog();
        return bench::checkOnceReportingMemory(args.at(2).toInt());
    }
    if (args.size() == 4 && args.at(1) == QLatin1String("--publication"))
        return publicationFigures(args.at(2), args.at(3));
    if (args.size() != 2 || args.at(1).startsWith(QLatin1String("--"))) {
        std::fprintf(stderr, "usage: zorvan-bench WORKDIR\n");
        return 2;
    }
    return runAll(args.at(1));
}
