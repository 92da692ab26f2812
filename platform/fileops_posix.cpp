// The POSIX body of the file operations.

#include "platform/fileops.h"
#include "platform/fileops_p.h"

#include <QFile>

#include <cstdio>
#include <unistd.h>

namespace platform {

namespace fileops {

bool hardLink(const QString &existing, const QString &extraName)
{
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(extraName).constData()) == 0;
}

} // namespace fileops

// rename() replaces an existing target in one step here.
bool renameReplacing(const QString &source, const QString &target)
{
    return std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
}

} // namespace platform
