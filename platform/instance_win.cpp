#include "platform/instance.h"

#include <windows.h>

namespace platform {

void announceRunningLauncher()
{
    // Per session, as the installation is per user: another user's launcher
    // does not concern this player's installer. The handle is never closed;
    // the system drops it when the process ends, also after a crash or a
    // kill, and the mutex goes with the last launcher holding it.
    CreateMutexW(nullptr, FALSE, L"Local\\ZorvanLumethLauncher");
}

} // namespace platform
