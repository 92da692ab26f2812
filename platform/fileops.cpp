#include "platform/fileops.h"

#include "platform/fileops_p.h"

#include <QFile>
#include <QFileInfo>

namespace platform {

bool addFileName(const QString &existing, const QString &extraName)
{
    if (QFileInfo::exists(extraName) || !QFileInfo(existing).isFile())
        return false;
    if (fileops::hardLink(existing, extraName))
        return true;
    return QFile::copy(existing, extraName);
}

} // namespace platform
