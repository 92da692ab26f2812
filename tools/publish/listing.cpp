#include "listing.h"

#include "updater/paths.h"

#include <tinyxml2.h>

namespace publish {

const char *const kNotesFile = "Notes des mises à jour.txt";
const char *const kManifestFile = "file_listing.xml";
const char *const kVersionFile = "version.txt";

Listing readListing(const QByteArray &xml)
{
    Listing listing;
    tinyxml2::XMLDocument document;
    if (document.Parse(xml.constData(), size_t(xml.size())) != tinyxml2::XML_SUCCESS || !document.FirstChildElement()) {
        listing.problems << QStringLiteral("not a manifest the launcher can read");
        return listing;
    }
    for (auto *e = document.FirstChildElement()->FirstChildElement("File"); e; e = e->NextSiblingElement("File")) {
        const char *name = e->Attribute("Name");
        const char *path = e->Attribute("Path");
        const char *md5 = e->Attribute("MD5");
        const char *sha1 = e->Attribute("SHA1");
        const QString where = QString::fromUtf8(path ? path : name ? name : "?");
        if (!name || !path || !md5 || !sha1) {
            listing.problems << QStringLiteral("the entry %1 lacks one of Name, Path, MD5 and SHA1").arg(where);
            continue;
        }
        ListedFile file{paths::manifestLocalPath(where), paths::manifestUrlPath(where), md5, sha1, e->Attribute("SHA256")};
        if (const char *size = e->Attribute("Size")) {
            bool number = false;
            file.size = QByteArray(size).toLongLong(&number);
            if (!number || file.size < 0) {
                listing.problems << QStringLiteral("the entry %1 has no size the launcher can read").arg(where);
                continue;
            }
        }
        if (!paths::staysInside(file.local) || !paths::staysInside(file.served)) {
            listing.problems << QStringLiteral("the entry %1 lies outside the installation").arg(where);
            continue;
        }
        listing.files << file;
    }
    return listing;
}

} // namespace publish
