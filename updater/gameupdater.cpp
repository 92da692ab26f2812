#include "updater/gameupdater.h"

#include <QNetworkAccessManager>

GameUpdater::GameUpdater(QObject *parent)
    : QObject(parent)
{
}

GameUpdater::~GameUpdater() = default;
