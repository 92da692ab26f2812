// The graphics mode, kept in the settings store between runs.

#include "updater/gameupdater.h"

#include "platform/identity.h"

#include <QSettings>

void GameUpdater::storeGraphicsMode(const QString &mode)
{
    QSettings settings(QString::fromLatin1(identity::kOrganisation), QString::fromLatin1(identity::kApplication));
    settings.setValue(QStringLiteral("graphics"), mode);
}

void GameUpdater::setFullscreen(int screen)
{
    m_fullscreen = screen != 0;
}

void GameUpdater::graph_fullscreen()
{
    storeGraphicsMode(QStringLiteral("fullscreen"));
}

void GameUpdater::graph_normal()
{
    storeGraphicsMode(QStringLiteral("normal"));
}

void GameUpdater::graph_scale2()
{
    storeGraphicsMode(QStringLiteral("x2"));
}

void GameUpdater::graph_scale3()
{
    storeGraphicsMode(QStringLiteral("x3"));
}
