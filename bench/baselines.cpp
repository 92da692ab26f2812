#include "baselines.h"

#include "timing.h"

#include <QDir>
#include <QFile>

namespace bench {

double coreutilsVerification(const QString &directory, const QStringList &files)
{
    return timedProcess(QStringLiteral("md5sum"), files, directory) + timedProcess(QStringLiteral("sha1sum"), files, directory);
}

double curlDownloads(const QString &base, const QStringList &files, const QString &intoDir)
{
    QDir(intoDir).removeRecursively();
    QDir().mkpath(intoDir);
    // The list goes through a config file; it is written before the clock starts.
    const QString config = intoDir + QStringLiteral(".curlrc");
    QFile list(config);
    if (!list.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(config));
    for (const QString &file : files)
        list.write(QStringLiteral("url = \"%1%2\"\noutput = \"%3/%2\"\n").arg(base, file, intoDir).toUtf8());
    list.close();
    return timedProcess(QStringLiteral("curl"),
                        {QStringLiteral("--silent"), QStringLiteral("--show-error"), QStringLiteral("--fail"),
                         QStringLiteral("--create-dirs"), QStringLiteral("-H"), QStringLiteral("Connection: close"),
                         QStringLiteral("--config"), config},
                        intoDir);
}

} // namespace bench
