// Starting the game with the stored graphics mode.

#include "updater/gameupdater.h"

#include "platform/lifecycle.h"
#include "platform/process.h"
#include "platform/replacefile.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace {

const char *const kGameExecutable = "Game.exe";
const char *const kGameOptions = ".gameopts";

struct LaunchRow
{
    const char *mode;
    const char *option;
};

// Compared in this order; a value found in none starts the game plainly.
// "normal" (and any value nothing writes, "x1" among them) has no row.
const LaunchRow kLaunchTable[] = {
    {"fullscreen", "--fullscreen"},
    {"x2", "--scale=2"},
    {"x3", "--scale=3"},
};

// Rewrites ".gameopts" with `option` when it exists, is not empty and may
// be read and written. The new content replaces the old as a whole, so the
// file is never left empty (a link is followed, a hard-linked file written
// in place: see FileReplacement).
void rewriteGameOptions(const QString &option)
{
    const QFileInfo info(QString::fromLatin1(kGameOptions));
    if (!info.isFile() || info.size() == 0 || !info.isReadable())
        return;
    platform::FileReplacement file(info.filePath());
    if (file.open())
        file.commit(option.toLatin1());
}

} // namespace

void GameUpdater::gameStart()
{
    QSettings settings;
    const QFileInfo game(QString::fromLatin1(kGameExecutable));
    if (!game.isFile() || game.size() == 0) {
        emit infos(QObject::tr("Unable to start Game.exe, please check your antivirus and repair files. (Error 008)"));
        return;
    }

    const QString mode = settings.value(QStringLiteral("graphics")).toString();
    QStringList arguments;
    for (const LaunchRow &row : kLaunchTable) {
        if (mode == QLatin1String(row.mode)) {
            rewriteGameOptions(QString::fromLatin1(row.option));
            arguments << QString::fromLatin1(row.option);
            break;
        }
    }

    platform::startDetached(game.fileName(), arguments);
    lifecycle::requestQuit();
}
