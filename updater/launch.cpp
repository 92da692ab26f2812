// Starting the game with the stored graphics mode.

#include "updater/gameupdater.h"

#include "platform/lifecycle.h"
#include "platform/process.h"

#include <QFileInfo>
#include <QSaveFile>
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

// Rewrites ".gameopts" with `option` when it exists and is not empty. The
// new content replaces the old in one step, so the file is never left empty.
void rewriteGameOptions(const QString &option)
{
    const QFileInfo info(QString::fromLatin1(kGameOptions));
    if (!info.isFile() || info.size() == 0)
        return;
    QSaveFile file(info.filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    // The toolkit's commit() ignores a failure to write out what it still
    // buffers; a failed flush must not put an empty file in place.
    const QByteArray text = option.toLatin1();
    if (file.write(text) == text.size() && file.flush())
        file.commit();
    else
        file.cancelWriting();
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
