#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace publish {

// The files of a publication besides its game files, in the order an
// upload brings them: the patch notes, the manifest and its signature, and
// last the version file.
extern const char *const kNotesFile;
extern const char *const kManifestFile;
extern const char *const kVersionFile;

// One "File" entry of a manifest, placed as the launcher places it.
struct ListedFile
{
    QString local;  // below the installation, and below the publication directory
    QString served; // below the update server's base URL
    QByteArray md5; // as listed, compared exactly as the launcher does
    QByteArray sha1;
    QByteArray sha256; // empty when the entry carries no "SHA256"
    qint64 size = -1;  // -1 when it carries no "Size"
};

struct Listing
{
    QList<ListedFile> files; // the usable entries, in the manifest's order
    QStringList problems;    // why the text, or an entry, is of no use to a launcher
};

// The entries of a manifest's text as the launcher reads them: the root's
// "File" children. An entry that lacks one of its four attributes, or that
// the launcher would refuse to place, is a problem and is left out.
Listing readListing(const QByteArray &xml);

} // namespace publish
