// The manifest synchronisation: every listed game file checked against its
// digests and fetched again when it is missing or differs.

#include "updater/gameupdater.h"

#include "platform/log.h"
#include "updater/paths.h"
#include "updater/serverurls.h"
#include "updater/signature.h"

#include <QFile>
#include <QFileInfo>

#include <tinyxml2.h>

namespace {

const char *const kManifestFile = "file_listing.xml";
const char *const kNewLauncher = "Launcher_new.exe";

struct ManifestEntry
{
    QString name;
    QString path;
    QString md5;
    QString sha1;
};

// Reads the four attributes in their order, logging each; false when one is
// missing. An incomplete entry cannot be placed or verified: it is skipped
// before its local file is looked at.
bool readEntry(const tinyxml2::XMLElement *element, ManifestEntry &entry)
{
    const char *name = element->Attribute("Name");
    debugLine(QStringLiteral("NAME : "), QString::fromUtf8(name));
    const char *path = element->Attribute("Path");
    debugLine(QStringLiteral("PATH : "), QString::fromUtf8(path));
    const char *md5 = element->Attribute("MD5");
    debugLine(QStringLiteral("MD5 server : "), QString::fromUtf8(md5));
    const char *sha1 = element->Attribute("SHA1");
    debugLine(QString::fromUtf8(sha1));
    entry = {QString::fromUtf8(name), QString::fromUtf8(path), QString::fromUtf8(md5), QString::fromUtf8(sha1)};
    return name && path && md5 && sha1;
}

// The size and SHA-256 a signed manifest adds to an entry; false when one
// is missing or malformed.
bool readSizeAndSha256(const tinyxml2::XMLElement *element, qint64 *size, QString *sha256)
{
    const char *sizeText = element->Attribute("Size");
    const char *sha256Text = element->Attribute("SHA256");
    bool number = false;
    *size = QByteArray(sizeText).toLongLong(&number);
    *sha256 = QString::fromUtf8(sha256Text);
    return sizeText && sha256Text && number && *size >= 0 && sha256->size() == 64;
}

// Whether the local copy may be read: inside the installation and not a
// device or pipe that would never reach its end.
bool readableInPlace(const QString &localPath)
{
    if (!paths::staysInside(localPath))
        return false;
    const QFileInfo info(localPath);
    return !info.exists() || info.isFile() || info.isDir();
}

// The digest compared with the manifest's: the local file's, or empty
// without reading it when it may not be read. The debug line is the same
// either way.
QString localDigest(GameUpdater &updater, const QString &localPath, bool mayRead, QCryptographicHash::Algorithm algorithm)
{
    if (mayRead)
        return updater.fileChecksum(localPath, algorithm);
    debugLine(QStringLiteral("Vérification du hash de "), localPath);
    return QString();
}

} // namespace

bool GameUpdater::synchroniseFiles()
{
    const QString base = server::baseUrl();
    const bool signedBuild = m_publication != nullptr;
    tinyxml2::XMLDocument manifest;
    tinyxml2::XMLError loaded = tinyxml2::XML_ERROR_FILE_NOT_FOUND;
    if (signedBuild) {
        // Only the bytes the studio's statement covers are read: those that
        // were checked, never the file again.
        QByteArray verified;
        if (!download(base + QString::fromLatin1(kManifestFile), &verified))
            return false;
        loaded = manifest.Parse(verified.constData(), size_t(verified.size()));
    } else {
        downloadFile(base + QString::fromLatin1(kManifestFile));
        loaded = manifest.LoadFile(QFile::encodeName(QString::fromLatin1(kManifestFile)).constData());
    }
    if (loaded != tinyxml2::XML_SUCCESS) {
        reportFailure(QT_TRANSLATE_NOOP("GameUpdater", "Error in the update manifesto. (010)"));
        return !signedBuild;
    }
    const tinyxml2::XMLElement *root = manifest.FirstChildElement();
    if (!root) {
        reportFailure(QT_TRANSLATE_NOOP("GameUpdater", "Error in the update manifesto. (011)"));
        return !signedBuild;
    }

    double totalToDownload = 0;
    for (auto *e = root->FirstChildElement("File"); e; e = e->NextSiblingElement("File"))
        ++totalToDownload;
    double nbDownloaded = 0;
    // A build with the studio's key records the version only when every
    // listed file ended as listed.
    bool allAsListed = true;
    m_verifiedLauncher.reset();

    for (auto *e = root->FirstChildElement("File"); e; e = e->NextSiblingElement("File")) {
        ManifestEntry entry;
        if (!readEntry(e, entry)) {
            ++nbDownloaded;
            debugLine(QStringLiteral("Entrée incomplète ignorée : "), entry.path);
            allAsListed = false;
            continue;
        }
        const QString localPath = paths::manifestLocalPath(entry.path);
        debugLine(QStringLiteral("LocalPath : "), localPath);

        const bool inPlace = readableInPlace(localPath);
        const QString localMd5 = localDigest(*this, localPath, inPlace, QCryptographicHash::Md5);
        const QString localSha1 = localDigest(*this, localPath, inPlace, QCryptographicHash::Sha1);
        const QFileInfo local(localPath);
        debugLine(QStringLiteral("Size : "), QString::number(inPlace && local.isFile() ? local.size() : 0));
        ++nbDownloaded;

        Listing listing;
        if (signedBuild && !readSizeAndSha256(e, &listing.size, &listing.sha256)) {
            debugLine(QStringLiteral("Entrée sans taille ni SHA-256 ignorée : "), entry.path);
            allAsListed = false;
            continue;
        }
        const bool upToDate = entry.md5 == localMd5 && entry.sha1 == localSha1 && inPlace && local.exists();
        if (!upToDate) {
            const QString url = base + paths::manifestUrlPath(entry.path);
            // An entry is never written outside the installation, whatever
            // the manifest says.
            if (!paths::staysInside(paths::downloadDirectory(url, entry.name, base) + entry.name)) {
                debugLine(QStringLiteral("Chemin refusé : "), entry.path);
                allAsListed = false;
                continue;
            }
            debugLine(QStringLiteral("Url : "), url);
            m_listing = signedBuild ? &listing : nullptr;
            downloadFile(url, entry.name, totalToDownload, nbDownloaded);
            m_listing = nullptr;
            allAsListed = allAsListed && listing.asListed;
        }
        if (signedBuild && localPath == QLatin1String(kNewLauncher) && (upToDate || listing.asListed))
            m_verifiedLauncher = listing;
    }
    return !signedBuild || allAsListed;
}
