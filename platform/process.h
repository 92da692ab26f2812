#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Starting programs detached from the launcher. The launcher uses the
// system's process start; tests may install an implementation of their own.
class Processes
{
public:
    virtual ~Processes() = default;
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
};

// The process start in use: the system's unless a test installed another.
Processes &processes();

// Installs `replacement` (not owned); nullptr restores the system's.
void setProcesses(Processes *replacement);

// Starts `program`, a file of the working directory (the game's installation
// directory), as a detached process with `arguments`. The program is looked
// up only there, never on PATH, and gets the working directory as its own.
// It keeps running when the launcher ends. Returns whether it started.
//
// On Linux a program delivered by the update server carries no executable
// bit, while Windows runs any ".exe"; the user's execute permission is added
// before the start so that both behave alike.
inline bool startDetached(const QString &program, const QStringList &arguments = {})
{
    return processes().startDetached(program, arguments);
}

} // namespace platform
