#include "updater/gameupdater.h"

GameUpdater::GameUpdater(QObject *parent)
    : QObject(parent)
{
}
