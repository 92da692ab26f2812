#pragma once

#include <QString>

namespace platform {

// Puts the launcher build `fresh` in the place of the launcher executable
// `current`, which may be the running process's own file, and keeps the
// build that was there under the name `previous`. Fails, changing nothing,
// when `previous` already exists (an older build still running from it,
// say). The new build is on the disk before it takes the name, so that not
// even a power cut leaves a launcher that does not start.
//
// On POSIX systems the running build first gets `previous` as a further
// name, then `fresh` replaces `current` in one rename: `current` names a
// launcher at every moment. Windows refuses to replace or delete a running
// executable but lets it be renamed, so `current` is renamed to `previous`
// and `fresh` to `current`, two renames in one directory with nothing in
// between; if the second fails, the first is undone.
bool swapExecutable(const QString &current, const QString &fresh, const QString &previous);

} // namespace platform
