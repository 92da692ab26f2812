// zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]
//
// Writes GAME_DIR/file_listing.xml, the manifest the launcher reads: one
// "File" element per file of the build, its Path under the server's game
// directory, lowercase MD5 and SHA-1 digests. Optionally writes version.txt.
// GAME_DIR is then what the update server serves below its base URL.
// Bad input (an unreadable file, a name the launcher cannot place, a link
// leading out of the build) is refused and nothing is written.
//
// Names are checked against the base URL the launcher uses: the shipped
// one, or ZORVAN_UPDATE_URL when set, as for the launcher itself.

#include "buildtree.h"
#include "manifestxml.h"
#include "naming.h"
#include "versionbump.h"

#include "updater/serverurls.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

const char *const kUsage = "usage: zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]";

int fail(const QString &message)
{
    QTextStream(stderr) << "zorvan-publish: " << message << Qt::endl;
    return 1;
}

// Both digests of one file from a single read in blocks; false when the
// file cannot be read to its end.
bool digest(const QString &path, publish::PublishedFile &file, qint64 &bytes)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    QCryptographicHash md5(QCryptographicHash::Md5);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = in.read(block.data(), block.size())) > 0) {
        md5.addData(block.constData(), int(n));
        sha1.addData(block.constData(), int(n));
        bytes += n;
    }
    if (n < 0 || !in.atEnd())
        return false;
    file.md5 = md5.result().toHex();
    file.sha1 = sha1.result().toHex();
    return true;
}

// The version text the run is to write: null for none, or an error message
// in `error`.
QString requestedVersion(const QStringList &options, const QDir &build, QString &error)
{
    if (options.isEmpty())
        return QString();
    QString version;
    if (options.size() == 2 && options.at(0) == QLatin1String("--set-version")) {
        version = options.at(1);
    } else if (options.size() == 1 && options.at(0) == QLatin1String("--bump-version")) {
        QFile current(build.filePath(QStringLiteral("version.txt")));
        if (!current.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("--bump-version needs a readable version.txt in ") + build.path();
            return QString();
        }
        const QString text = QString::fromUtf8(current.readAll()).trimmed();
        version = publish::bumpedVersion(text);
        if (version.isNull()) {
            error = QStringLiteral("version.txt holds no number to bump: \"%1\"").arg(text);
            return QString();
        }
    } else {
        error = QString::fromLatin1(kUsage);
        return QString();
    }
    if (version.trimmed().isEmpty() || version.contains(QLatin1Char('\n')) || version.contains(QLatin1Char('\r')))
        error = QStringLiteral("a version is one non-empty line of text");
    return version;
}

bool writeWhole(QSaveFile &file, const QByteArray &content)
{
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.at(0).startsWith(QLatin1String("--")))
        return fail(QString::fromLatin1(kUsage));
    const QDir build(args.at(0));
    if (!QFileInfo(args.at(0)).isDir())
        return fail(QStringLiteral("no such directory: ") + args.at(0));

    QString error;
    const QString version = requestedVersion(args.mid(1), build, error);
    if (!error.isEmpty())
        return fail(error);

    const publish::BuildFiles listing = publish::listBuild(build.path());
    if (!listing.error.isEmpty())
        return fail(listing.error);
    const QString baseUrl = server::baseUrl();
    for (const QString &relative : listing.files) {
        const QString why = publish::whyUnplaceable(relative, baseUrl);
        if (!why.isEmpty())
            return fail(relative + QStringLiteral(": the launcher cannot fetch this file: ") + why);
    }

    QList<publish::PublishedFile> files;
    qint64 bytes = 0;
    for (const QString &relative : listing.files) {
        publish::PublishedFile file{relative, {}, {}};
        if (!digest(build.filePath(relative), file, bytes))
            return fail(relative + QStringLiteral(": cannot read the file"));
        files << file;
    }

    // Both files are written out before either takes its name, so a failure
    // leaves the build as it was.
    QSaveFile manifest(build.filePath(QStringLiteral("file_listing.xml")));
    if (!writeWhole(manifest, publish::manifestXml(files)))
        return fail(QStringLiteral("cannot write ") + manifest.fileName());
    QSaveFile versionFile(build.filePath(QStringLiteral("version.txt")));
    if (!version.isNull() && !writeWhole(versionFile, version.toUtf8() + '\n'))
        return fail(QStringLiteral("cannot write ") + versionFile.fileName());
    // The version goes last: a launcher that sees it finds the manifest ready.
    if (!manifest.commit() || (!version.isNull() && !versionFile.commit()))
        return fail(QStringLiteral("cannot write the manifest or the version file in ") + build.path());

    QTextStream(stdout) << "published " << files.size() << " files, " << bytes << " bytes"
                        << (version.isNull() ? QString() : QStringLiteral(", version ") + version) << Qt::endl;
    return 0;
}
