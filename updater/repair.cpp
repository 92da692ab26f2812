// Repair: a full re-check of the installation whatever version is recorded.

#include "updater/gameupdater.h"

#include "updater/versionfile.h"

void GameUpdater::forceUpdate()
{
    versionfile::writeInitialVersion(QString::fromLatin1(versionfile::kLocalVersionFile));
    checkUpdate();
}
