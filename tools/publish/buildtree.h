#pragma once

#include <QString>
#include <QStringList>

namespace publish {

struct BuildFiles
{
    QStringList files; // "/"-separated paths below the build's top, sorted
    QString error;     // why the build cannot be published; empty when it can
};

// Every regular file below `root`, except the manifest, its signature and
// the version file at the top. Links are followed when they stay inside the build, so a
// linked file is listed under the link's name as a web server serves it.
// A link leading out of the build or to nothing, a directory that cannot
// be read, or anything but a regular file or a directory is an error.
BuildFiles listBuild(const QString &root);

} // namespace publish
