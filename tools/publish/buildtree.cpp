#include "buildtree.h"
#include "listing.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace publish {

namespace {

class Walk
{
public:
    explicit Walk(const QString &root)
        : m_root(root)
        , m_canonicalRoot(QFileInfo(root).canonicalFilePath())
    {
    }

    BuildFiles run()
    {
        enter(QString());
        if (!m_result.error.isEmpty())
            m_result.files.clear();
        m_result.files.sort();
        m_result.leftOut.sort();
        return m_result;
    }

private:
    bool inside(const QString &canonical) const
    {
        return canonical == m_canonicalRoot || canonical.startsWith(m_canonicalRoot + QLatin1Char('/'));
    }

    void fail(const QString &relative, const QString &why)
    {
        if (m_result.error.isEmpty())
            m_result.error = relative + QStringLiteral(": ") + why;
    }

    // Lists the directory at `relative` ("" for the top) and what lies below.
    void enter(const QString &relative)
    {
        const QDir dir(relative.isEmpty() ? m_root : m_root + QLatin1Char('/') + relative);
        const QString canonical = QFileInfo(dir.path()).canonicalFilePath();
        if (m_open.contains(canonical))
            return fail(relative, QStringLiteral("a link that leads back into its own directory"));
        if (!dir.isReadable())
            return fail(relative.isEmpty() ? dir.path() : relative, QStringLiteral("cannot read the directory"));
        m_open.insert(canonical);
        const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (!m_result.error.isEmpty())
                break;
            visit(entry, relative.isEmpty() ? entry.fileName() : relative + QLatin1Char('/') + entry.fileName());
        }
        m_open.remove(canonical);
    }

    void visit(const QFileInfo &entry, const QString &relative)
    {
        // The publisher's own files, and the patch notes, which the launcher
        // fetches at every start (and a signed publication covers) rather
        // than as a game file.
        static const QStringList publisherOwn{kManifestFile, "file_listing.xml.sig", "publication.sig", kVersionFile,
                                              QString::fromUtf8(kNotesFile)};
        static const QStringList notGame{"Zorvan Lumeth.exe", "Launcher_old.exe", "localversion.txt",
                                         "file_listing.php",  ".gameopts",        "Saves"};
        if (publisherOwn.contains(relative))
            return;
        if (publisherOwn.contains(relative, Qt::CaseInsensitive) || notGame.contains(relative, Qt::CaseInsensitive)) {
            m_result.leftOut << relative;
            return;
        }
        if (entry.isSymLink()) {
            const QString target = entry.canonicalFilePath();
            if (target.isEmpty())
                return fail(relative, QStringLiteral("a link to nothing"));
            if (!inside(target))
                return fail(relative, QStringLiteral("a link that leads out of the build, to ") + target);
        }
        if (entry.isDir())
            return enter(relative);
        if (!entry.isFile())
            return fail(relative, QStringLiteral("not a regular file"));
        m_result.files << relative;
    }

    const QString m_root;
    const QString m_canonicalRoot;
    QSet<QString> m_open;
    BuildFiles m_result;
};

} // namespace

BuildFiles listBuild(const QString &root)
{
    return Walk(root).run();
}

} // namespace publish
