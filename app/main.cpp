#include "app/startup.h"

int main(int argc, char **argv)
{
    return launcherMain(argc, argv);
}
