#include "platform/executableswap.h"

#include "platform/fileops_p.h"
#include "platform/replacefile.h"

#include <QFileInfo>

#include <windows.h>

namespace platform {

bool swapExecutable(const QString &current, const QString &fresh, const QString &previous)
{
    const std::wstring currentPath = fileops::systemPath(current);
    const std::wstring freshPath = fileops::systemPath(fresh);
    const std::wstring previousPath = fileops::systemPath(previous);
    flushFile(fresh);
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when `previous`
    // exists: a build still running from it keeps its file.
    const bool hadCurrent = QFileInfo::exists(current);
    if (hadCurrent && !MoveFileExW(currentPath.c_str(), previousPath.c_str(), MOVEFILE_WRITE_THROUGH))
        return false;
    if (MoveFileExW(freshPath.c_str(), currentPath.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    if (hadCurrent)
        MoveFileExW(previousPath.c_str(), currentPath.c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
}

} // namespace platform
