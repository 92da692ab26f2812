// zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]
//
// Writes GAME_DIR/file_listing.xml, the manifest the launcher reads: one
// "File" element per file of the build, its Path under the server's game
// directory, lowercase MD5 and SHA-1 digests. Optionally writes version.txt.
// GAME_DIR is then what the update server serves below its base URL.
// Bad input (an unreadable file, a name the launcher cannot place, a link
// leading out of the build) is refused and nothing is written.

#include "updater/paths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>

#include <tinyxml2.h>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int fail(const QString &message)
{
    err() << "zorvan-publish: " << message << Qt::endl;
    return 1;
}

QString digest(const QString &path, QCryptographicHash::Algorithm algorithm, bool *ok)
{
    QFile file(path);
    QCryptographicHash hash(algorithm);
    *ok = file.open(QIODevice::ReadOnly) && hash.addData(&file) && file.atEnd();
    return QString::fromLatin1(hash.result().toHex());
}

// Why the launcher could not place `relative`, or an empty text.
QString unplaceable(const QString &relative)
{
    const QString name = relative.section(QLatin1Char('/'), -1);
    for (const QChar c : relative) {
        if (c.unicode() < 0x20 || c == QLatin1Char('\\'))
            return QStringLiteral("a control character or \"\\\" in its name");
    }
    if (!paths::staysInside(relative))
        return QStringLiteral("a path that leaves the installation");
    // The launcher finds the file's directory by removing every occurrence
    // of its name from the URL; the name must therefore occur only at the end.
    const QString url = QStringLiteral("http://server/game/") + relative;
    if (paths::downloadDirectory(url, name, QStringLiteral("http://server/game/")) + name != relative)
        return QStringLiteral("a name that also occurs in its directory part");
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.size() > 3)
        return fail(QStringLiteral("usage: zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]"));
    const QDir build(args.at(0));
    if (!build.exists())
        return fail(QStringLiteral("no such directory: ") + args.at(0));

    QString newVersion;
    if (args.size() >= 2) {
        if (args.at(1) == QLatin1String("--set-version") && args.size() == 3) {
            newVersion = args.at(2);
        } else if (args.at(1) == QLatin1String("--bump-version") && args.size() == 2) {
            QFile current(build.filePath(QStringLiteral("version.txt")));
            if (!current.open(QIODevice::ReadOnly))
                return fail(QStringLiteral("--bump-version needs a version.txt in the build"));
            const QString text = QString::fromUtf8(current.readAll()).trimmed();
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(.*?)(\\d+)(\\D*)$")).match(text);
            if (!m.hasMatch())
                return fail(QStringLiteral("version.txt holds no number to bump: ") + text);
            newVersion = m.captured(1) + QString::number(m.captured(2).toULongLong() + 1) + m.captured(3);
        } else {
            return fail(QStringLiteral("usage: zorvan-publish GAME_DIR [--set-version TEXT | --bump-version]"));
        }
        if (newVersion.isEmpty() || newVersion.contains(QLatin1Char('\n')))
            return fail(QStringLiteral("a version is one line of text"));
    }

    QStringList files;
    QDirIterator walk(build.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    const QString buildRoot = QFileInfo(build.path()).canonicalFilePath() + QLatin1Char('/');
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString relative = build.relativeFilePath(path);
        if (relative == QLatin1String("file_listing.xml") || relative == QLatin1String("version.txt"))
            continue;
        if (!QFileInfo(path).canonicalFilePath().startsWith(buildRoot))
            return fail(QStringLiteral("a link that leads out of the build: ") + relative);
        const QString why = unplaceable(relative);
        if (!why.isEmpty())
            return fail(relative + QStringLiteral(": ") + why);
        files << relative;
    }
    files.sort();

    tinyxml2::XMLDocument manifest;
    manifest.InsertEndChild(manifest.NewDeclaration());
    tinyxml2::XMLElement *root = manifest.NewElement("Files");
    manifest.InsertEndChild(root);
    qint64 bytes = 0;
    for (const QString &relative : files) {
        const QString path = build.filePath(relative);
        bool md5Ok = false;
        bool sha1Ok = false;
        const QString md5 = digest(path, QCryptographicHash::Md5, &md5Ok);
        const QString sha1 = digest(path, QCryptographicHash::Sha1, &sha1Ok);
        if (!md5Ok || !sha1Ok)
            return fail(QStringLiteral("cannot read ") + relative);
        bytes += QFileInfo(path).size();
        tinyxml2::XMLElement *file = manifest.NewElement("File");
        file->SetAttribute("Name", relative.section(QLatin1Char('/'), -1).toUtf8().constData());
        file->SetAttribute("Path", (QString::fromLatin1(paths::kServerGameDir) + relative).toUtf8().constData());
        file->SetAttribute("MD5", md5.toLatin1().constData());
        file->SetAttribute("SHA1", sha1.toLatin1().constData());
        root->InsertEndChild(file);
    }

    tinyxml2::XMLPrinter printer;
    manifest.Print(&printer);
    QSaveFile out(build.filePath(QStringLiteral("file_listing.xml")));
    if (!out.open(QIODevice::WriteOnly) || out.write(printer.CStr(), printer.CStrSize() - 1) != printer.CStrSize() - 1
        || !out.commit())
        return fail(QStringLiteral("cannot write file_listing.xml"));
    if (!newVersion.isNull()) {
        QSaveFile version(build.filePath(QStringLiteral("version.txt")));
        const QByteArray text = newVersion.toUtf8() + '\n';
        if (!version.open(QIODevice::WriteOnly) || version.write(text) != text.size() || !version.commit())
            return fail(QStringLiteral("cannot write version.txt"));
    }
    QTextStream(stdout) << "published " << files.size() << " files, " << bytes << " bytes"
                        << (newVersion.isNull() ? QString() : QStringLiteral(", version ") + newVersion) << Qt::endl;
    return 0;
}
