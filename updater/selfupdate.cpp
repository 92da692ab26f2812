// The launcher's replacement of its own executable by a delivered build.

#include "updater/gameupdater.h"

#include "platform/dialogs.h"
#include "platform/fileops.h"
#include "platform/lifecycle.h"
#include "platform/process.h"
#include "platform/replacefile.h"

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

    // The running build keeps its name until the new one takes it in a
    // single rename, so the installation always holds a launcher that starts.
    // A leftover old build (still running, say) blocks the swap; the same
    // build then restarts and the swap is tried again at the next run.
    // The new build is on the disk before it takes the name, so that not
    // even a power cut leaves a launcher that does not start.
    if (!QFile::exists(current) || platform::addFileName(current, old)) {
        platform::flushFile(fresh);
        platform::renameReplacing(fresh, current);
    }

    platform::dialogs().information(QObject::tr("A new launcher update is available. The program will restart."));
    platform::startDetached(current);
    lifecycle::requestQuit();
}
