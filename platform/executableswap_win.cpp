#include "platform/executableswap.h"

#include "platform/fileops.h"
#include "platform/fileops_p.h"

#include <windows.h>

namespace platform {

namespace {

using fileops::outcomeOf;

Try flushOnce(const std::wstring &path)
{
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return outcomeOf(false) == Try::Busy ? Try::Busy : Try::Done; // the renames find out
    FlushFileBuffers(handle);
    CloseHandle(handle);
    return Try::Done;
}

// Without MOVEFILE_REPLACE_EXISTING a rename fails when `to` exists: a build
// still running from "Launcher_old.exe" keeps its file.
Try renameOnce(const std::wstring &from, const std::wstring &to)
{
    return outcomeOf(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH));
}

} // namespace

// A virus scanner opens the new build as soon as it is written, for up to
// several seconds, and refuses its renaming meanwhile: each step is tried
// again until it lets go, the whole swap within kLauncherPatienceMs.
bool swapExecutable(const QString &current, const QString &fresh, const QString &previous)
{
    const std::wstring currentPath = fileops::systemPath(current);
    const std::wstring freshPath = fileops::systemPath(fresh);
    const std::wstring previousPath = fileops::systemPath(previous);
    const QDeadlineTimer deadline = patience(kLauncherPatienceMs);
    persist(deadline, [&] { return flushOnce(freshPath); });
    const bool hadCurrent = GetFileAttributesW(currentPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (hadCurrent && persist(deadline, [&] { return renameOnce(currentPath, previousPath); }) != Try::Done)
        return false;
    if (persist(deadline, [&] { return renameOnce(freshPath, currentPath); }) == Try::Done)
        return true;
    // The launcher's name may not stay empty, whatever the player asks meanwhile.
    const auto undo = [&] { return renameOnce(previousPath, currentPath); };
    if (hadCurrent)
        persist(patience(kLauncherPatienceMs), undo, false);
    return false;
}

} // namespace platform
