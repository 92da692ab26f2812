#pragma once

#include <QString>

// File-system layouts the tests build, on each system where it can: a second
// hard link, a symbolic link, a full disk (a tiny tmpfs, root only), the
// permission bits of a file, and the threads of this process.
namespace fsfixtures {

bool hardLink(const QString &existing, const QString &extraName);

// A symbolic link; Windows needs a privilege for those (and the toolkit's
// link makes a shell shortcut there), so the callers skip their case.
bool symbolicLinksAvailable();

// Mounts a tmpfs of `size` ("64k") at `path` until unmount(); false where it
// cannot (not root, not Linux).
bool mountTiny(const QString &path, const char *size);
void unmount(const QString &path);

// A named pipe at `path`; false where a directory holds none (Windows).
bool makeFifo(const QString &path);

bool setMode(const QString &path, unsigned mode);
// The permission bits, or -1 where a file has none (Windows).
int mode(const QString &path);

int threadCount();

} // namespace fsfixtures
