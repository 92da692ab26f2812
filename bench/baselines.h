#pragma once

#include <QString>
#include <QStringList>

namespace bench {

// Seconds of md5sum then sha1sum over `files`, run in `directory`.
double coreutilsVerification(const QString &directory, const QStringList &files);

// Seconds curl takes to fetch `files` (paths below `base`) into `intoDir`,
// one process for all of them, a new connection for each.
double curlDownloads(const QString &base, const QStringList &files, const QString &intoDir);

} // namespace bench
