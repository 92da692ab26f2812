#include "updater/gameupdater.h"

#include "updater/signature.h"
#include "updater/signedpublication.h"

#include <QNetworkAccessManager>

namespace {

// A build with the studio's key gives up on a transfer that stalls.
constexpr int kSignedStallLimitMs = 60 * 1000;

} // namespace

GameUpdater::GameUpdater(QObject *parent)
    : QObject(parent)
{
    if (signature::enabled()) {
        m_publication = std::make_unique<SignedPublication>();
        m_stallLimitMs = kSignedStallLimitMs;
        connect(this, &GameUpdater::infos, this, [this](const QString &text) { m_lastStatus = text; });
    }
}

GameUpdater::~GameUpdater() = default;
