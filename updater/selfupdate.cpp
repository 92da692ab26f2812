// The launcher's replacement of its own executable by a delivered build.

#include "updater/gameupdater.h"

#include "platform/dialogs.h"
#include "platform/executableswap.h"
#include "platform/lifecycle.h"
#include "platform/process.h"

#include <QFile>

namespace {

const char *const kLauncherExecutable = "Zorvan Lumeth.exe";
const char *const kNewLauncher = "Launcher_new.exe";
const char *const kOldLauncher = "Launcher_old.exe";

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

    // A leftover old build (still running, say) blocks the swap; the same
    // build then restarts and the swap is tried again at the next run.
    platform::swapExecutable(current, fresh, old);

    platform::dialogs().information(QObject::tr("A new launcher update is available. The program will restart."));
    platform::startDetached(current);
    lifecycle::requestQuit();
}
