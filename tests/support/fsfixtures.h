#pragma once

#include <QString>

// File-system layouts the tests build, on each system where it can: a
// symbolic link, a full disk (a tiny tmpfs, root only), a named pipe, a file
// held open by another program, and the threads of this process.
namespace fsfixtures {

// Holds the file at `path` open as a virus scanner does (sharing reads
// only) or a game that opened it with fopen (sharing writes too), never
// sharing its deletion, until release(). Windows only: elsewhere files have
// no share modes, and active() is false.
struct HeldFile
{
    HeldFile(const QString &path, bool sharesWrites);
    ~HeldFile() { release(); }
    bool active() const { return handle != nullptr; }
    void release();
    void *handle = nullptr;
};

// A symbolic link; Windows needs a privilege for those (and the toolkit's
// link makes a shell shortcut there), so the callers skip their case.
bool symbolicLinksAvailable();

// Mounts a tmpfs of `size` ("64k") at `path` until unmount(); false where it
// cannot (not root, not Linux).
bool mountTiny(const QString &path, const char *size);
void unmount(const QString &path);

// A named pipe at `path`; false where a directory holds none (Windows).
bool makeFifo(const QString &path);

int threadCount();

} // namespace fsfixtures
