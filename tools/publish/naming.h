#pragma once

#include <QString>

namespace publish {

// Why the launcher could not fetch and place the build file at `relative`
// (a "/"-separated path below the build's top), or an empty text when it
// can. `baseUrl` is the update server's base URL the launcher uses: the
// launcher finds a file's directory by removing every occurrence of the
// file's name from the whole URL, base URL included.
QString whyUnplaceable(const QString &relative, const QString &baseUrl);

} // namespace publish
