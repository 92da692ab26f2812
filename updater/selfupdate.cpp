// The launcher's replacement of its own executable by a delivered build.

#include "updater/gameupdater.h"

#include "platform/dialogs.h"
#include "platform/executableswap.h"
#include "platform/lifecycle.h"
#include "platform/log.h"
#include "platform/process.h"
#include "updater/signature.h"

#include <QFile>

namespace {

const char *const kLauncherExecutable = "Zorvan Lumeth.exe";
const char *const kNewLauncher = "Launcher_new.exe";
const char *const kOldLauncher = "Launcher_old.exe";

// Whether the file at `path` has the listed size and SHA-256.
bool listedBuild(const QString &path, qint64 size, const QString &sha256Hex)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size)
        return false;
    signature::Sha256 sha256;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 got = 0; (got = file.read(block.data(), block.size())) > 0;)
        sha256.add(block.constData(), got);
    return file.atEnd() && QString::fromLatin1(sha256.hex()) == sha256Hex;
}

} // namespace

void GameUpdater::removePreviousLauncher()
{
    const QString old = QString::fromLatin1(kOldLauncher);
    if (QFile::exists(old))
        QFile::remove(old);
}

void GameUpdater::swapInNewLauncher()
{
    const QString current = QString::fromLatin1(kLauncherExecutable);
    const QString fresh = QString::fromLatin1(kNewLauncher);
    const QString old = QString::fromLatin1(kOldLauncher);
    if (!QFile::exists(fresh))
        return;
    // A build with the studio's key starts only a build that this run found
    // listed in the publication it accepted, byte for byte.
    if (m_publication && !(m_verifiedLauncher && listedBuild(fresh, m_verifiedLauncher->size, m_verifiedLauncher->sha256))) {
        debugLine(QStringLiteral("Nouveau launcher non vérifié, laissé de côté : "), fresh);
        return;
    }

    // A leftover old build (still running, say) blocks the swap; the same
    // build then restarts and the swap is tried again at the next run.
    platform::swapExecutable(current, fresh, old);

    platform::dialogs().information(QObject::tr("A new launcher update is available. The program will restart."));
    platform::startDetached(current);
    lifecycle::requestQuit();
}
