#include "platform/executableswap.h"

#include "platform/fileops.h"
#include "platform/replacefile.h"

#include <QFileInfo>

namespace platform {

bool swapExecutable(const QString &current, const QString &fresh, const QString &previous)
{
    if (QFileInfo::exists(current) && !addFileName(current, previous))
        return false;
    flushFile(fresh);
    return renameReplacing(fresh, current);
}

} // namespace platform
