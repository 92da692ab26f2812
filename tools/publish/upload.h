#pragma once

#include <QString>

namespace publish {

// Copies the publication in `publication` (a directory zorvan-publish has
// written) into `served`, the directory the update server serves below its
// base URL, in the order that never lets a player's launcher record a
// version whose files are not all served: the listed game files
// ("Launcher_new.exe" last of them), then the patch notes, then the
// manifest and its signature, and "version.txt" last. Until the version
// file changes, launchers find their version current and fetch nothing
// else; once it changes, everything it names is served. Each file is
// written under a temporary name beside its target and renamed over it
// once complete, so the server never serves part of a file; a file the
// server already has as listed is left alone. A copied game file must have
// its listed digests, or the upload stops before the manifest.
// `stopAfter`: empty for the whole upload, or one of uploadSteps() to stop
// after that step (large files brought ahead of a release). Prints one line
// per step; returns the exit status.
int uploadPublication(const QString &publication, const QString &served, const QString &stopAfter);

// The steps after which an upload may stop: "files", "notes", "manifest".
bool isUploadStep(const QString &step);

} // namespace publish
