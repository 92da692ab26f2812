#pragma once

#include <QString>

// Rules that turn manifest and URL texts into places of the installation.
namespace paths {

// The server-side directory of the game files; removed from a manifest
// "Path" to give the installation-relative path.
extern const char *const kServerGameDir;
// The server-side web root; removed as well to give the URL path.
extern const char *const kServerWebRoot;

// Installation-relative path of a manifest "Path".
QString manifestLocalPath(const QString &manifestPath);

// Path below the base URL at which a manifest entry is served.
QString manifestUrlPath(const QString &manifestPath);

// Where the game-file download stores `url` named `fileName`: the URL with
// every `fileName` and then every base URL removed, followed by `fileName`.
QString downloadDirectory(const QString &url, const QString &fileName, const QString &baseUrl);

// Whether `path` names a place inside the working directory: relative, with
// no ".." that climbs out, "\\" counted as a separator as Windows does, and
// none of Windows' other ways out on any system: drive and UNC paths, device
// names ("NUL", "com1.txt"), streams ("name:stream"), and components ending
// in a dot or a blank. The rule is on the text; a link inside the
// installation is followed wherever it leads.
bool staysInside(const QString &path);

} // namespace paths
