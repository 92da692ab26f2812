#include "platform/fileops.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>

namespace platform {

bool addFileName(const QString &existing, const QString &extraName)
{
    if (QFileInfo::exists(extraName) || !QFileInfo(existing).isFile())
        return false;
    if (::link(QFile::encodeName(existing).constData(), QFile::encodeName(extraName).constData()) == 0)
        return true;
    return QFile::copy(existing, extraName);
}

bool renameReplacing(const QString &source, const QString &target)
{
    return std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
}

} // namespace platform
