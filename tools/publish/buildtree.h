#pragma once

#include <QString>
#include <QStringList>

namespace publish {

struct BuildFiles
{
    QStringList files;   // "/"-separated paths below the build's top, sorted
    QStringList leftOut; // names at the top that are no game files
    QString error;       // why the build cannot be published; empty when it can
};

// Every regular file below `root`, except, at the top, what the publisher
// itself writes (the manifest, its signature, the version file) and the
// launcher's and the player's own files, which are no game files: the
// launcher's executable (running, it cannot be replaced: every
// synchronisation would fail on it), the build a swap set aside, the
// installed version, "file_listing.php", ".gameopts" and "Saves" with all
// it holds. Names are compared ignoring case, as Windows does; those left
// out go to `leftOut`, the publisher's own exact names excepted.
// "Launcher_new.exe" is listed: that is how a new launcher is published.
// Links are followed when they stay inside the build, so a linked file is
// listed under the link's name as a web server serves it. A link leading
// out of the build or to nothing, a directory that cannot be read, or
// anything but a regular file or a directory is an error.
BuildFiles listBuild(const QString &root);

} // namespace publish
