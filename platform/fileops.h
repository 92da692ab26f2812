#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <functional>

namespace platform {

// Gives the file `existing` the further name `extraName`, leaving `existing`
// in place: a hard link where the file system allows it, otherwise a copy.
// Fails when `extraName` already exists.
bool addFileName(const QString &existing, const QString &extraName);

// Renames `source` to `target`, replacing a file at `target` in one step, so
// that `target` names either the old or the new file at every moment.
bool renameReplacing(const QString &source, const QString &target);

// What one try of a file operation found.
enum class Try {
    Done,
    // Another program holds a file the operation needs, as a virus scanner
    // holds each new file while it reads it: worth trying again.
    Busy,
    Failed,
};

// How long a file operation waits for such a program to let go. Scanners
// open a new file as soon as it is written, for a moment, and a large new
// executable for several seconds; a program that holds a file longer is
// not a scanner, and the operation fails as it would without waiting.
constexpr int kFilePatienceMs = 10000;     // one game file, save or options file
constexpr int kLauncherPatienceMs = 30000; // the swap of the launcher's own executable

// A deadline `ms` from now, or sooner while tests shorten every wait.
QDeadlineTimer patience(int ms);
void limitPatienceForTests(int ms); // 0: the real figures

// Tries `operation` until it is Done or Failed, or is still Busy once
// `deadline` has passed; returns the last outcome. Between tries it waits,
// 20 ms at first, twice as long each time up to one second. The waits serve
// the application's events, so that the window stays live; a quit request
// ends the waiting (it is noted, see lifecycle), and after one there is no
// waiting at all. Without `servingEvents` (a step that must not be left
// half-done, whatever the player asks), the waits only sleep.
Try persist(const QDeadlineTimer &deadline, const std::function<Try()> &operation, bool servingEvents = true);

} // namespace platform
