// libFuzzer target: a manifest read from memory as the launcher reads
// "file_listing.xml", and every entry's "Name" and "Path" through the path
// rules. The invariant that matters: a destination that the launcher accepts
// (staysInside) never resolves outside the installation, whatever the
// manifest says.

#include "updater/paths.h"

#include <QDir>
#include <QString>

#include <tinyxml2.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kBase = QStringLiteral("http://127.0.0.1:8080/game/");
const QString kInstallation = QStringLiteral("/srv/installation");

void fail(const char *what, const QString &value)
{
    fprintf(stderr, "invariant broken: %s: \"%s\"\n", what, value.toUtf8().constData());
    abort();
}

// What an accepted relative path names once the file system resolves it.
void checkAccepted(const QString &path)
{
    if (!paths::staysInside(path))
        return;
    QString slashed = path;
    slashed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString clean = QDir::cleanPath(slashed);
    if (clean.startsWith(QLatin1String("../")) || clean == QLatin1String("..") || clean.startsWith(QLatin1Char('/')))
        fail("accepted path climbs out", path);
    // The path as it stands (backslashes are ordinary characters here) and
    // as Windows would read it both stay below the installation.
    for (const QString &form : {path, slashed}) {
        const QString resolved = QDir::cleanPath(kInstallation + QLatin1Char('/') + form);
        if (resolved != kInstallation && !resolved.startsWith(kInstallation + QLatin1Char('/')))
            fail("accepted path resolves outside", path);
    }
}

void checkEntry(const QString &name, const QString &path)
{
    const QString local = paths::manifestLocalPath(path);
    if (local.contains(QLatin1String(paths::kServerGameDir)))
        fail("local path keeps the game directory", path);
    const QString url = kBase + paths::manifestUrlPath(path);
    const QString destination = paths::downloadDirectory(url, name, kBase) + name;
    checkAccepted(local);
    checkAccepted(destination);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The raw input as one "Path" and as one "Name".
    const QString raw = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    checkEntry(raw.section(QLatin1Char('/'), -1), raw);
    checkEntry(raw, QLatin1String(paths::kServerGameDir) + raw);

    tinyxml2::XMLDocument manifest;
    if (manifest.Parse(reinterpret_cast<const char *>(data), size) != tinyxml2::XML_SUCCESS)
        return 0;
    const tinyxml2::XMLElement *root = manifest.FirstChildElement();
    if (!root)
        return 0;
    for (auto *e = root->FirstChildElement("File"); e; e = e->NextSiblingElement("File")) {
        const char *name = e->Attribute("Name");
        const char *path = e->Attribute("Path");
        // MD5 and SHA1 are read too, as the launcher does; only compared.
        (void)e->Attribute("MD5");
        (void)e->Attribute("SHA1");
        if (name && path)
            checkEntry(QString::fromUtf8(name), QString::fromUtf8(path));
    }
    return 0;
}
