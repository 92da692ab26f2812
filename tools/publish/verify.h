#pragma once

#include <QString>

namespace publish {

// Fetches what a player's launcher fetches from the update server at
// `baseUrl` (the version file, the manifest, its signature and every file
// the manifest lists, at the same URLs), a few files at a time, and checks
// each served file against the manifest's digests and, when `publication`
// is not empty, against that publication directory byte for byte; there,
// the publication's own manifest says which files must be served. Bodies
// are hashed as they arrive and never held whole, apart from the three
// small files that decide an update. Prints one line per difference on
// standard output ("stale: Data/Map.dat (...)"), a progress line and a
// summary on standard error. Returns 0 when nothing differs, 1 otherwise.
int verifyServer(const QString &baseUrl, const QString &publication);

} // namespace publish
