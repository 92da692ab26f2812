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
};

// The manifest text the launcher reads: a "Files" root with one "File"
// element per file, in the order given, as UTF-8 with its markup escaped.
QByteArray manifestXml(const QList<PublishedFile> &files);

} // namespace publish
