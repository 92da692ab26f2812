#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bench {

// Files of random bytes below one directory, and what a manifest lists of
// them.
struct Tree
{
    QStringList files; // relative paths, in manifest order
    qint64 bytes = 0;
    QByteArray manifest;
};

// Writes `count` files of `size` random bytes below `root`, spread over
// twenty directories named PREFIX-dNN, and their manifest.
Tree writeTree(const QString &root, const QString &prefix, int count, qint64 size);

// Writes `content` to `path`, creating its directory.
void writeFile(const QString &path, const QByteArray &content);

} // namespace bench
