#include "upload.h"

#include "listing.h"

#include "updater/signature.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

namespace publish {

namespace {

constexpr qint64 kBlock = 1 << 20;

// The order of an upload; each one may end it.
const char *const kSteps[] = {"files", "notes", "manifest"};

struct Digests
{
    QCryptographicHash md5{QCryptographicHash::Md5};
    QCryptographicHash sha1{QCryptographicHash::Sha1};
    QCryptographicHash sha256{QCryptographicHash::Sha256};

    qint64 size = 0;

    void add(const char *data, qint64 n)
    {
        md5.addData(data, int(n));
        sha1.addData(data, int(n));
        sha256.addData(data, int(n));
        size += n;
    }
    bool match(const ListedFile &listed)
    {
        return md5.result().toHex() == listed.md5 && sha1.result().toHex() == listed.sha1
            && (listed.sha256.isEmpty() || sha256.result().toHex() == listed.sha256) && (listed.size < 0 || size == listed.size);
    }
};

// Whether the server's copy at `target` is already what the upload brings:
// the listed file, or, for an unlisted one, the bytes of `source`.
bool alreadyServed(const QString &source, const QString &target, const ListedFile *listed)
{
    const QFileInfo info(target);
    if (!info.isFile() || info.size() != QFileInfo(source).size())
        return false;
    QFile served(target);
    QFile own(source);
    if (!served.open(QIODevice::ReadOnly) || (!listed && !own.open(QIODevice::ReadOnly)))
        return false;
    if (!listed)
        return served.readAll() == own.readAll(); // the small files besides the game's
    Digests digests;
    QByteArray block(int(kBlock), Qt::Uninitialized);
    qint64 n = 0;
    while ((n = served.read(block.data(), kBlock)) > 0)
        digests.add(block.constData(), n);
    return n == 0 && digests.match(*listed);
}

// Copies `source` over `target`. The bytes go to a temporary file beside
// the target, are flushed, and take its name in one rename: the server
// serves the old file or the new one, never a part. The new file is given
// a modification time later than the old one's, so that nginx's ETag (time
// in seconds and size) changes even for a file of the same size replaced
// within the same second, and a cache that revalidates fetches it again.
// A listed file whose bytes do not have the listed digests is not copied.
// Returns an error text, empty on success.
QString copyOver(const QString &source, const QString &target, const ListedFile *listed)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read ") + source;
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        return QStringLiteral("cannot create the directory of ") + target;
    const QDateTime previous = QFileInfo(target).lastModified();
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write beside ") + target + QStringLiteral(": ") + out.errorString();
    Digests digests;
    QByteArray block(int(kBlock), Qt::Uninitialized);
    qint64 n = 0;
    while ((n = in.read(block.data(), kBlock)) > 0) {
        digests.add(block.constData(), n);
        if (out.write(block.constData(), n) != n)
            return QStringLiteral("cannot write ") + target + QStringLiteral(": ") + out.errorString();
    }
    if (n < 0)
        return QStringLiteral("cannot read ") + source;
    if (listed && !digests.match(*listed)) {
        out.cancelWriting();
        return source + QStringLiteral(" has changed since it was published: run zorvan-publish on the publication again");
    }
    QDateTime modified = QDateTime::currentDateTimeUtc();
    if (previous.isValid() && previous.toUTC().addSecs(1) > modified)
        modified = previous.toUTC().addSecs(1);
    if (!out.flush() || !out.setFileTime(modified, QFileDevice::FileModificationTime) || !out.commit())
        return QStringLiteral("cannot write ") + target + QStringLiteral(": ") + out.errorString();
    return QString();
}

int refuse(const QString &why)
{
    QTextStream(stderr) << "zorvan-publish: " << why << Qt::endl;
    return 1;
}

} // namespace

bool isUploadStep(const QString &step)
{
    return std::any_of(std::begin(kSteps), std::end(kSteps), [&step](const char *s) { return step == QLatin1String(s); });
}

int uploadPublication(const QString &publication, const QString &served, const QString &stopAfter)
{
    const QDir from(publication);
    const QDir to(served);
    const QString notes = QString::fromUtf8(kNotesFile);
    const QString manifestName = QString::fromLatin1(kManifestFile);
    const QString versionName = QString::fromLatin1(kVersionFile);
    QFile manifest(from.filePath(manifestName));
    if (!manifest.open(QIODevice::ReadOnly) || !QFileInfo(from.filePath(versionName)).isFile())
        return refuse(publication
                      + QStringLiteral(" is no publication: it needs a file_listing.xml and a version.txt (run zorvan-publish)"));
    const Listing listing = readListing(manifest.readAll());
    if (!listing.problems.isEmpty())
        return refuse(
            QStringLiteral("the manifest of %1 cannot be uploaded: %2").arg(publication, listing.problems.join(QStringLiteral("; "))));
    for (const ListedFile &file : listing.files) {
        if (!QFileInfo(from.filePath(file.local)).isFile())
            return refuse(QStringLiteral("%1 lacks %2, which its manifest lists").arg(publication, file.local));
    }
    if (!to.mkpath(QStringLiteral(".")))
        return refuse(QStringLiteral("cannot create ") + served);

    QTextStream out(stdout);
    int copied = 0;
    int kept = 0;
    // Copies one file of the publication; false after reporting an error.
    const auto bring = [&](const QString &local, const QString &target, const ListedFile *listed) {
        if (alreadyServed(from.filePath(local), to.filePath(target), listed)) {
            ++kept;
            return true;
        }
        const QString why = copyOver(from.filePath(local), to.filePath(target), listed);
        if (!why.isEmpty()) {
            refuse(why + QStringLiteral("; the version file was not replaced, so players still get the previous version"));
            return false;
        }
        ++copied;
        return true;
    };
    const auto step = [&](const char *name) {
        out << name << ": " << copied << " copied, " << kept << " already served" << Qt::endl;
        copied = kept = 0;
        return stopAfter == QLatin1String(name);
    };

    // 1. The game files, the new launcher build last: nothing names them yet.
    QList<const ListedFile *> games;
    const ListedFile *listedNotes = nullptr;
    for (const ListedFile &file : listing.files) {
        if (file.served == notes)
            listedNotes = &file;
        else
            games.append(&file);
    }
    std::stable_partition(games.begin(), games.end(), [](const ListedFile *f) { return f->served != QLatin1String("Launcher_new.exe"); });
    for (const ListedFile *file : qAsConst(games)) {
        if (!bring(file->local, file->served, file))
            return 1;
    }
    if (step("files"))
        return 0;
    // 2. The patch notes, which every start shows.
    if (QFileInfo(from.filePath(notes)).isFile() && !bring(notes, notes, listedNotes))
        return 1;
    if (step("notes"))
        return 0;
    // A signature of this publication is brought; one left by an earlier
    // publication goes, since it no longer matches.
    const auto bringSignature = [&](const char *name) {
        const QString file = QString::fromLatin1(name);
        if (QFileInfo(from.filePath(file)).isFile())
            return bring(file, file, nullptr);
        if (QFileInfo::exists(to.filePath(file)) && !QFile::remove(to.filePath(file))) {
            refuse(QStringLiteral("cannot remove the earlier ") + to.filePath(file));
            return false;
        }
        return true;
    };
    // 3. The manifest and its signature for launchers built before the
    // statement.
    if (!bring(manifestName, manifestName, nullptr) || !bringSignature(signature::kSignatureFile))
        return 1;
    if (step("manifest"))
        return 0;
    // 4. The statement that launchers with the studio's key read first, and
    // the version file: from now on every launcher updates, and finds every
    // file. Either one alone makes those launchers refuse the mixture until
    // the other follows.
    if (!bringSignature(signature::kStatementFile) || !bring(versionName, versionName, nullptr))
        return 1;
    step("version");
    return 0;
}

} // namespace publish
