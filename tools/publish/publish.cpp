// zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]
//                [--sign KEY [--valid-days N | --expires YYYY-MM-DDTHH:MM:SSZ]]
// zorvan-publish --generate-key KEY
// zorvan-publish --upload GAME_DIR SERVED_DIR [--stop-after files|notes|manifest]
// zorvan-publish --verify BASE_URL [GAME_DIR]
//
// Writes GAME_DIR/file_listing.xml, the manifest the launcher reads: one
// "File" element per file of the build, its Path under the server's game
// directory, lowercase MD5 and SHA-1 digests, and its size and SHA-256.
// Optionally writes version.txt. GAME_DIR is then what the update server
// serves below its base URL.
// With --sign it also writes publication.sig, the studio's statement for
// launchers built with the key's public half: the publication's sequence
// number, the time until which it counts as current (30 days from now
// unless given), and the size and SHA-256 of version.txt, the manifest and
// the patch notes; and file_listing.xml.sig, the earlier signature form,
// for launchers built before the statement.
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
#include "listing.h"
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
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

const char *const kUsage = "usage: zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]\n"
                           "                      [--sign KEY [--valid-days N | --expires YYYY-MM-DDTHH:MM:SSZ]]\n"
                           "       zorvan-publish --generate-key KEY\n"
                           "       zorvan-publish --upload GAME_DIR SERVED_DIR [--stop-after files|notes|manifest]\n"
                           "       zorvan-publish --verify BASE_URL [GAME_DIR]";
constexpr int kDefaultValidDays = 30;

// Takes "OPTION VALUE" out of `args`; false when the value is missing.
bool takeOption(QStringList &args, const QString &option, QString *value)
{
    const int at = args.indexOf(option);
    if (at <= 0)
        return true;
    if (at + 1 >= args.size())
        return false;
    *value = args.at(at + 1);
    args.erase(args.begin() + at, args.begin() + at + 2);
    return true;
}

// Until when a signed publication counts as current; invalid on bad input.
QDateTime expiryOf(const QString &validDays, const QString &expires)
{
    if (!validDays.isNull() && !expires.isNull())
        return QDateTime();
    if (!expires.isNull()) {
        QDateTime at = QDateTime::fromString(expires, QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
        at.setTimeSpec(Qt::UTC);
        return at;
    }
    bool number = true;
    const int days = validDays.isNull() ? kDefaultValidDays : validDays.toInt(&number);
    if (!number || days < 1 || days > 3650)
        return QDateTime();
    return QDateTime::currentDateTimeUtc().addDays(days).addMSecs(-QDateTime::currentDateTimeUtc().time().msec());
}

int fail(const QString &message)
{
    QTextStream(stderr) << "zorvan-publish: " << message << Qt::endl;
    return 1;
}

// The digests of one file from a single read in blocks; false when the
// file cannot be read to its end.
bool digest(const QString &path, publish::PublishedFile &file, qint64 &bytes)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    QCryptographicHash md5(QCryptographicHash::Md5);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    signature::Sha256 sha256;
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = in.read(block.data(), block.size())) > 0) {
        md5.addData(block.constData(), int(n));
        sha1.addData(block.constData(), int(n));
        sha256.add(block.constData(), n);
        file.size += n;
    }
    if (n < 0 || !in.atEnd())
        return false;
    bytes += file.size;
    file.md5 = md5.result().toHex();
    file.sha1 = sha1.result().toHex();
    file.sha256 = sha256.hex();
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
    QString keyPath, validDays, expires;
    if (!takeOption(args, QStringLiteral("--sign"), &keyPath) || !takeOption(args, QStringLiteral("--valid-days"), &validDays)
        || !takeOption(args, QStringLiteral("--expires"), &expires) || (keyPath.isNull() && !(validDays.isNull() && expires.isNull())))
        return fail(QString::fromLatin1(kUsage));
    const QDateTime expiry = expiryOf(validDays, expires);
    if (!keyPath.isNull() && !expiry.isValid())
        return fail(QStringLiteral("--valid-days takes 1 to 3650 days, --expires a UTC time as 2027-01-31T12:00:00Z; not both"));
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
        publish::PublishedFile file{relative, {}, {}, 0, {}};
        if (!digest(build.filePath(relative), file, bytes))
            return fail(relative + QStringLiteral(": cannot read the file"));
        files << file;
    }

    // The signature covers the version file as it will be served.
    const QByteArray manifestText = publish::manifestXml(files);
    QByteArray signatureText, statementText;
    if (!keyPath.isEmpty()) {
        bool hasVersion = !version.isNull();
        QFile current(build.filePath(QStringLiteral("version.txt")));
        if (!hasVersion)
            hasVersion = current.open(QIODevice::ReadOnly);
        if (!hasVersion)
            return fail(QStringLiteral("a signed publication needs a version.txt: give --set-version or --bump-version"));
        const QByteArray versionText = version.isNull() ? current.readAll() : version.toUtf8() + '\n';
        QList<QPair<QString, QByteArray>> covered{{QStringLiteral("version.txt"), versionText},
                                                  {QStringLiteral("file_listing.xml"), manifestText}};
        QFile notes(build.filePath(QString::fromUtf8(publish::kNotesFile)));
        if (notes.open(QIODevice::ReadOnly))
            covered.append({QString::fromUtf8(publish::kNotesFile), notes.readAll()});
        else if (notes.exists())
            return fail(notes.fileName() + QStringLiteral(": cannot read the file"));
        signatureText = signer.signatureFile(versionText, manifestText);
        statementText = signer.statementFile(expiry, covered);
        // The number is spent before it is published, so it is never used twice.
        if (signatureText.isEmpty() || statementText.isEmpty() || !signer.recordSequence())
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
    QSaveFile statementFile(build.filePath(QString::fromLatin1(signature::kStatementFile)));
    if (!statementText.isEmpty() && !writeWhole(statementFile, statementText))
        return fail(QStringLiteral("cannot write ") + statementFile.fileName());
    QSaveFile versionFile(build.filePath(QStringLiteral("version.txt")));
    if (!version.isNull() && !writeWhole(versionFile, version.toUtf8() + '\n'))
        return fail(QStringLiteral("cannot write ") + versionFile.fileName());
    // The version goes last: a launcher that sees it finds the manifest and
    // its signatures ready. A launcher with a key reads the statement
    // first, and holds the version file to it.
    if (!manifest.commit() || (!signatureText.isEmpty() && (!signatureFile.commit() || !statementFile.commit()))
        || (!version.isNull() && !versionFile.commit()))
        return fail(QStringLiteral("cannot write the manifest, its signature or the version file in ") + build.path());

    if (!listing.leftOut.isEmpty())
        QTextStream(stdout) << "left out, not game files: " << listing.leftOut.join(QStringLiteral(", ")) << Qt::endl;
    QTextStream(stdout) << "published " << files.size() << " files, " << bytes << " bytes"
                        << (version.isNull() ? QString() : QStringLiteral(", version ") + version)
                        << (signatureText.isEmpty() ? QString()
                                                    : QStringLiteral(", signed as publication %1, current until %2")
                                                          .arg(signer.nextSequence())
                                                          .arg(expiry.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))))
                        << Qt::endl;
    return 0;
}
