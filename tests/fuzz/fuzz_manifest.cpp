// libFuzzer target: a manifest read from memory as the launcher reads it, each
// entry's "Name" and "Path" through the path rules. A destination that the
// launcher accepts (staysInside) never resolves outside the installation.

#include "updater/paths.h"

#include <QDir>

#include <tinyxml2.h>

#include <cstdlib>

static void check(const QString &path)
{
    // As it stands (a backslash is an ordinary character) and as Windows reads it.
    for (const QString &form : {path, QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'))}) {
        const QString resolved = QDir::cleanPath(QStringLiteral("/srv/installation/") + form);
        if (paths::staysInside(path) && resolved != QLatin1String("/srv/installation")
            && !resolved.startsWith(QLatin1String("/srv/installation/")))
            abort();
    }
}

static void checkEntry(const QString &name, const QString &path)
{
    const QString base = QStringLiteral("http://127.0.0.1:8080/game/");
    check(paths::manifestLocalPath(path));
    check(paths::downloadDirectory(base + paths::manifestUrlPath(path), name, base) + name);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString raw = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    checkEntry(raw.section(QLatin1Char('/'), -1), raw);
    checkEntry(raw, QLatin1String(paths::kServerGameDir) + raw);
    tinyxml2::XMLDocument manifest;
    if (manifest.Parse(reinterpret_cast<const char *>(data), size) != tinyxml2::XML_SUCCESS || !manifest.FirstChildElement())
        return 0;
    for (auto *e = manifest.FirstChildElement()->FirstChildElement("File"); e; e = e->NextSiblingElement("File")) {
        if (e->Attribute("Name") && e->Attribute("Path"))
            checkEntry(QString::fromUtf8(e->Attribute("Name")), QString::fromUtf8(e->Attribute("Path")));
    }
    return 0;
}
