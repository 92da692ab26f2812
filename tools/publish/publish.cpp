// zorvan-publish GAME_DIR [--set-version TEXT | --bump-version] [--sign KEY]
// zorvan-publish --generate-key KEY
// zorvan-publish --upload GAME_DIR SERVED_DIR [--stop-after files|notes|manifest]
// zorvan-publish --verify BASE_URL [GAME_DIR]
//
// Writes GAME_DIR/file_listing.xml, the manifest the launcher reads: one
// "File" element per file of the build, its Path under the server's game
// directory, lowercase MD5 and SHA-1 digests. Optionally writes version.txt.
// GAME_DIR is then what the update server serves below its base URL.
// With --sign it also writes file_listing.xml.sig, the studio's signature
// over version.txt, the manifest and the publication's sequence number,
// for launchers built with the key's public half.
// --generate-key writes a new secret key to KEY and its public half to
// KEY.pub, and prints the public half.
// --upload copies a publication into the directory a live server serves,
// in the order that keeps players safe (upload.h); --verify checks what a
// live server, or a CDN in front of it, hands to players (verify.h).
// Bad input (an unreadable file, a name the launcher cannot place, a link
// leading out of the build) is refused and nothing is written.
//
// Names are checked against the base URL the launcher uses: the shipped
// one, or ZORVAN_UPDATE_URL when set, as for the launcher itself.

#include "buildtree.h"
#include "manifestxml.h"
#include "naming.h"
#include "signing.h"
#include "upload.h"
#include "verify.h"
#include "versionbump.h"

#include "updater/serverurls.h"
#include "updater/signature.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

const char *const kUsage = "usage: zorvan-publish GAME_DIR [--set-version TEXT | --bump-version] [--sign KEY]\n"
                           "       zorvan-publish --generate-key KEY\n"
                           "       zorvan-publish --upload GAME_DIR SERVED_DIR [--stop-after files|notes|manifest]\n"
                           "       zorvan-publish --verify BASE_URL [GAME_DIR]";

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
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args.at(0) == QLatin1String("--generate-key")) {
        QByteArray publicHex;
        const QString why = publish::generateKey(args.at(1), publicHex);
        if (!why.isEmpty())
            return fail(why);
        QTextStream(stdout) << publicHex << Qt::endl;
        return 0;
    }
    if (args.value(0) == QLatin1String("--verify") && (args.size() == 2 || args.size() == 3))
        return publish::verifyServer(args.at(1), args.value(2));
    if (args.value(0) == QLatin1String("--upload")
        && (args.size() == 3 || (args.size() == 5 && args.at(3) == QLatin1String("--stop-after") && publish::isUploadStep(args.at(4)))))
        return publish::uploadPublication(args.at(1), args.at(2), args.value(4));
    QString keyPath;
    const int sign = args.indexOf(QStringLiteral("--sign"));
    if (sign > 0) {
        if (sign + 1 >= args.size())
            return fail(QString::fromLatin1(kUsage));
        keyPath = args.at(sign + 1);
        args.erase(args.begin() + sign, args.begin() + sign + 2);
    }
    if (args.isEmpty() || args.at(0).startsWith(QLatin1String("--")))
        return fail(QString::fromLatin1(kUsage));
    const QDir build(args.at(0));
    if (!QFileInfo(args.at(0)).isDir())
        return fail(QStringLiteral("no such directory: ") + args.at(0));

    QString error;
    const QString version = requestedVersion(args.mid(1), build, error);
    if (!error.isEmpty())
        return fail(error);
    publish::Signer signer;
    if (!keyPath.isEmpty()) {
        const QString why = signer.load(keyPath, build.path());
        if (!why.isEmpty())
            return fail(why);
    }

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

    // The signature covers the version file as it will be served.
    const QByteArray manifestText = publish::manifestXml(files);
    QByteArray signatureText;
    if (!keyPath.isEmpty()) {
        bool hasVersion = !version.isNull();
        QFile current(build.filePath(QStringLiteral("version.txt")));
        if (!hasVersion)
            hasVersion = current.open(QIODevice::ReadOnly);
        if (!hasVersion)
            return fail(QStringLiteral("a signed publication needs a version.txt: give --set-version or --bump-version"));
        signatureText = signer.signatureFile(version.isNull() ? current.readAll() : version.toUtf8() + '\n', manifestText);
        // The number is spent before it is published, so it is never used twice.
        if (signatureText.isEmpty() || !signer.recordSequence())
            return fail(QStringLiteral("cannot sign with ") + keyPath + QStringLiteral(" or record its sequence number"));
    }

    // All files are written out before any takes its name, so a failure
    // leaves the build as it was.
    QSaveFile manifest(build.filePath(QStringLiteral("file_listing.xml")));
    if (!writeWhole(manifest, manifestText))
        return fail(QStringLiteral("cannot write ") + manifest.fileName());
    QSaveFile signatureFile(build.filePath(QString::fromLatin1(signature::kSignatureFile)));
    if (!signatureText.isEmpty() && !writeWhole(signatureFile, signatureText))
        return fail(QStringLiteral("cannot write ") + signatureFile.fileName());
    QSaveFile versionFile(build.filePath(QStringLiteral("version.txt")));
    if (!version.isNull() && !writeWhole(versionFile, version.toUtf8() + '\n'))
        return fail(QStringLiteral("cannot write ") + versionFile.fileName());
    // The version goes last: a launcher that sees it finds the manifest and
    // its signature ready.
    if (!manifest.commit() || (!signatureText.isEmpty() && !signatureFile.commit()) || (!version.isNull() && !versionFile.commit()))
        return fail(QStringLiteral("cannot write the manifest, its signature or the version file in ") + build.path());

    QTextStream(stdout) << "published " << files.size() << " files, " << bytes << " bytes"
                        << (version.isNull() ? QString() : QStringLiteral(", version ") + version)
                        << (signatureText.isEmpty() ? QString() : QStringLiteral(", signed as publication %1").arg(signer.nextSequence()))
                        << Qt::endl;
    return 0;
}
