#pragma once

#include <QString>

namespace platform {

// Gives the file `existing` the further name `extraName`, leaving `existing`
// in place: a hard link where the file system allows it, otherwise a copy.
// Fails when `extraName` already exists.
bool addFileName(const QString &existing, const QString &extraName);

// Renames `source` to `target`, replacing a file at `target` in one step, so
// that `target` names either the old or the new file at every moment.
bool renameReplacing(const QString &source, const QString &target);

} // namespace platform
