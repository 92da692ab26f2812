// The community's web pages, opened in the player's browser.

#include "updater/gameupdater.h"

#include "platform/browser.h"

#include <QUrl>

namespace links {

const char *const kWebsite = "http://zorvanlumeth.com/";
const char *const kWiki = "https://wiki.zorvanlumeth.com/fr";
const char *const kDiscord = "https://discord.gg/zorvanlumeth";

} // namespace links

namespace {

void open(const char *url)
{
    platform::openInBrowser(QUrl(QString::fromLatin1(url), QUrl::TolerantMode));
}

} // namespace

void GameUpdater::openSite()
{
    open(links::kWebsite);
}

void GameUpdater::openWiki()
{
    open(links::kWiki);
}

void GameUpdater::openDiscord()
{
    open(links::kDiscord);
}
