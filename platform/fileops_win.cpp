// The Windows body of the file operations.

#include "platform/fileops.h"
#include "platform/fileops_p.h"

#include <QDir>

#include <windows.h>

namespace platform {

namespace fileops {

bool hardLink(const QString &existing, const QString &extraName)
{
    return CreateHardLinkW(QDir::toNativeSeparators(extraName).toStdWString().c_str(),
                           QDir::toNativeSeparators(existing).toStdWString().c_str(), nullptr);
}

} // namespace fileops

// Without MOVEFILE_REPLACE_EXISTING a rename never replaces on Windows.
bool renameReplacing(const QString &source, const QString &target)
{
    return MoveFileExW(QDir::toNativeSeparators(source).toStdWString().c_str(),
                       QDir::toNativeSeparators(target).toStdWString().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

} // namespace platform
