#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace publish {

struct PublishedFile
{
    QString relative; // "/"-separated path below the build's top
    QByteArray md5;   // lowercase hexadecimal
    QByteArray sha1;  // lowercase hexadecimal
    qint64 size = 0;
    QByteArray sha256; // lowercase hexadecimal
};

// The manifest text the launcher reads: a "Files" root with one "File"
// element per file, in the order given, as UTF-8 with its markup escaped.
// Besides the four attributes every launcher reads, each carries its
// "Size" and "SHA256", which launchers built with the studio's key hold
// every body to (others ignore them).
QByteArray manifestXml(const QList<PublishedFile> &files);

} // namespace publish
