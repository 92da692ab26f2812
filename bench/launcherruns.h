#pragma once

#include <QString>
#include <QStringList>

namespace bench {

// Seconds of one Repair of the up-to-date installation in `installDir`
// (the working directory meanwhile): the version and the manifest are
// fetched, every listed file is hashed twice, and nothing is downloaded.
double launcherVerification(const QString &installDir, int expectedFiles);

// Seconds of one update run into the empty installation `installDir`
// (created), which must fetch every one of the `expectedFiles` listed.
double launcherSynchronisation(const QString &installDir, int expectedFiles);

// Seconds the launcher's game-file download takes to fetch `files` (paths
// below `base`) one after another into `intoDir`.
double launcherDownloads(const QString &base, const QStringList &files, const QString &intoDir);

// Child mode: downloads the file at `relative` below `base` into the
// working directory and prints "RSS_BEFORE_KIB PEAK_KIB SECONDS" of this
// process.
int downloadOnceReportingMemory(const QString &base, const QString &relative);

// Child mode: one Repair of the up-to-date installation of `files` files in
// the working directory, printed as downloadOnceReportingMemory() does.
int checkOnceReportingMemory(int files);

// Child mode: one update run in the working directory, whatever its outcome,
// printed as downloadOnceReportingMemory() does.
int syncOnceReportingMemory();

// Drops the launcher's debug output, counting the digests it reports.
void silenceLauncherLog();

} // namespace bench
