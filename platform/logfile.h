#pragma once

#include <QString>
#include <QtGlobal>

// The launcher's log, a file a player can send to the studio: every message
// of the process (its debug lines and the toolkit's warnings), each after its
// local time, as "yyyy-MM-dd HH:mm:ss.zzz message". The messages still go
// where they went before (the debug output stays exactly as it was); the log
// only adds a copy. It lies in the user's own data folder, never in the
// installation, whose files stay those of the game.
namespace platform {

// Size at which a log file moves up and a new one begins, and how many
// files are kept ("launcher.log", "launcher.1.log", ...).
constexpr qint64 kLogFileCap = 2 << 20;
constexpr int kLogFilesKept = 5;

// The user's local application data folder for the launcher:
// %LOCALAPPDATA%\Team Quillon\Zorvan Lumeth on Windows, and
// "Team Quillon/Zorvan Lumeth" under $XDG_DATA_HOME (~/.local/share when
// unset) on Linux. Empty when the system names none.
QString logDirectory();

// Starts the log in `directory`, made when missing: the earlier files move
// one number up ("launcher.log" becomes "launcher.1.log", and so on), the
// one beyond `kept` is deleted, and this run writes "launcher.log". A file
// that would grow past `cap` bytes moves up the same way and a new one
// begins, so the folder never holds much more than kept x cap bytes; when
// the current file cannot move (another launcher holds it), writing stops.
// False when the file cannot be opened: the messages then go only where
// they went before. A log already started is stopped first.
bool startLog(const QString &directory, qint64 cap = kLogFileCap, int kept = kLogFilesKept);

// Stops writing the log (tests start several in one process).
void stopLog();

} // namespace platform
