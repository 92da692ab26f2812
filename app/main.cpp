#include "app/startup.h"
#include "platform/instance.h"

int main(int argc, char **argv)
{
    platform::announceRunningLauncher();
    return launcherMain(argc, argv);
}
