// Whole-file replacement: the name holds the old file or the complete new
// one, never a part, and nothing is left beside it.

#include "platform/replacefile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Strategy = platform::FileReplacement::Strategy;
Q_DECLARE_METATYPE(Strategy)

namespace {

const QByteArray kOld = "the old build, longer than some new ones";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QStringList entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : 0;
}

} // namespace

class ReplaceFileTest : public QObject
{
    Q_OBJECT

private slots:
    // `mode`: the permission bits of the file replaced, 0 for a new file.
    void replacesWhole_data()
    {
        QTest::addColumn<Strategy>("strategy");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("content");
        const QByteArray big(3 * 1024 * 1024 + 7, 'z');
        for (const Strategy strategy : {Strategy::Automatic, Strategy::NamedTemporary}) {
            const char *tag = strategy == Strategy::Automatic ? "automatic" : "named";
            QTest::addRow("%s, new file", tag) << strategy << 0 << QByteArray("fresh");
            QTest::addRow("%s, existing file, 0750", tag) << strategy << 0750 << QByteArray("replacement");
            QTest::addRow("%s, existing file, empty body, 0600", tag) << strategy << 0600 << QByteArray();
            QTest::addRow("%s, existing file, several MiB, 0644", tag) << strategy << 0644 << big;
        }
    }

    void replacesWhole()
    {
        QFETCH(Strategy, strategy);
        QFETCH(int, mode);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Game.exe"));
        const QString link = dir.filePath(QStringLiteral("link"));
        const QStringList names = mode ? QStringList{"Game.exe", "link"} : QStringList();
        if (mode) {
            writeAll(target, kOld);
            QVERIFY(::chmod(QFile::encodeName(target).constData(), mode_t(mode)) == 0);
            // A second name for the old file: it must keep the old content.
            QVERIFY(::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0);
        }

        platform::flushReplacedFiles();
        platform::FileReplacement file(target, strategy);
        QVERIFY(file.open());
        // Before the commit the new file has no name at all, or a temporary one.
        QStringList before = entries(dir.path());
        if (strategy == Strategy::NamedTemporary) {
            const QStringList temporary = before.filter(QRegularExpression(QStringLiteral("^Game\\.exe\\.[A-Za-z0-9]{6}$")));
            QCOMPARE(temporary.size(), 1);
            before.removeOne(temporary.first());
        }
        QCOMPARE(before, names);
        if (mode)
            QCOMPARE(readAll(target), kOld);
        QVERIFY(file.commit(content));

        QCOMPARE(readAll(target), content);
        QCOMPARE(entries(dir.path()), mode ? names : QStringList{"Game.exe"});
        if (mode) {
            QCOMPARE(readAll(link), kOld);
            QCOMPARE(modeOf(target), mode);
        }
        // A replacement is committed once, and remembered until flushed.
        QVERIFY(!file.commit("again"));
        QCOMPARE(readAll(target), content);
        QVERIFY(platform::hasUnflushedReplacements());
        QVERIFY(platform::flushFile(target));
        platform::flushReplacedFiles();
        QVERIFY(!platform::hasUnflushedReplacements());
    }

    // Dropped before the commit, refused for a missing directory, or cut
    // short by a full disk: the old file stays, nothing is left beside it,
    // and nothing waits to be flushed.
    void failureKeepsOldFile_data()
    {
        QTest::addColumn<Strategy>("strategy");
        QTest::addColumn<QString>("failure");
        for (const Strategy strategy : {Strategy::Automatic, Strategy::NamedTemporary}) {
            const char *tag = strategy == Strategy::Automatic ? "automatic" : "named";
            for (const char *failure : {"uncommitted", "missing directory", "full disk"})
                QTest::addRow("%s, %s", tag, failure) << strategy << QString(failure);
        }
    }

    void failureKeepsOldFile()
    {
        QFETCH(Strategy, strategy);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        const bool fullDisk = failure == "full disk";
        if (fullDisk && ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a tmpfs here (needs root)");
        auto unmount = qScopeGuard([&] {
            if (fullDisk)
                ::umount(mountPoint.constData());
        });
        const bool missingDirectory = failure == "missing directory";
        const QString target = dir.filePath(missingDirectory ? "Missing/Map.dat" : "Map.dat");
        const QByteArray old(40 * 1024, 'o');
        if (!missingDirectory)
            writeAll(target, old);
        const QStringList before = entries(dir.path());
        platform::flushReplacedFiles();
        {
            platform::FileReplacement file(target, strategy);
            QCOMPARE(file.open(), !missingDirectory);
            if (failure != "uncommitted")
                QVERIFY(!file.commit(QByteArray(48 * 1024, 'n')));
        }
        QCOMPARE(readAll(target), missingDirectory ? QByteArray("<unreadable>") : old);
        QCOMPARE(entries(dir.path()), before);
        QVERIFY(!platform::hasUnflushedReplacements());
        QCOMPARE(platform::flushFile(target), !missingDirectory);
    }
};

QTEST_GUILESS_MAIN(ReplaceFileTest)
#include "tst_replacefile.moc"
