#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Starts `program`, a file of the working directory (the game's installation
// directory), as a detached process with `arguments`. The program is looked
// up only there, never on PATH, and gets the working directory as its own.
// It keeps running when the launcher ends. Returns whether it started.
//
// On Linux a program delivered by the update server carries no executable
// bit, while Windows runs any ".exe"; the user's execute permission is added
// before the start so that both behave alike.
bool startDetached(const QString &program, const QStringList &arguments = {});

} // namespace platform
