#pragma once

namespace platform {

// Tells the launcher's installer and uninstaller that a launcher runs in this
// session: on Windows it holds the named mutex "Local\ZorvanLumethLauncher"
// until the process ends, so that they ask the player to close it instead of
// replacing or deleting files it has open. Only a signal: a second launcher
// (the build a self-update starts while the old one is ending) shares the
// mutex and starts all the same. Nothing elsewhere.
void announceRunningLauncher();

} // namespace platform
