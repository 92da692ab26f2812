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

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

class ReplaceFileTest : public QObject
{
    Q_OBJECT

private slots:
    void replacesWhole_data();
    void replacesWhole();
    void keepsPermissions_data();
    void keepsPermissions();
    void uncommittedLeavesNothing_data();
    void uncommittedLeavesNothing();
    void missingDirectoryCannotOpen_data();
    void missingDirectoryCannotOpen();
    void fullDiskKeepsOldFile_data();
    void fullDiskKeepsOldFile();
    void flushBookkeeping();

private:
    static void addStrategies();
};

// One row for each way of making the new file.
void ReplaceFileTest::addStrategies()
{
    QTest::addColumn<Strategy>("strategy");
    QTest::newRow("automatic") << Strategy::Automatic;
    QTest::newRow("named") << Strategy::NamedTemporary;
}

void ReplaceFileTest::replacesWhole_data()
{
    QTest::addColumn<Strategy>("strategy");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QByteArray>("content");
    const QByteArray big(3 * 1024 * 1024 + 7, 'z');
    for (const Strategy strategy : {Strategy::Automatic, Strategy::NamedTemporary}) {
        const char *tag = strategy == Strategy::Automatic ? "automatic" : "named";
        QTest::addRow("%s, new file", tag) << strategy << false << QByteArray("fresh");
        QTest::addRow("%s, existing file", tag) << strategy << true << QByteArray("replacement");
        QTest::addRow("%s, existing file, empty body", tag) << strategy << true << QByteArray();
        QTest::addRow("%s, existing file, several MiB", tag) << strategy << true << big;
    }
}

void ReplaceFileTest::replacesWhole()
{
    QFETCH(Strategy, strategy);
    QFETCH(bool, existing);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Game.exe"));
    const QString link = dir.filePath(QStringLiteral("link"));
    if (existing) {
        writeAll(target, "the old build, longer than some new ones");
        // A second name for the old file: it must keep the old content.
        QVERIFY(::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0);
    }

    platform::FileReplacement file(target, strategy);
    QVERIFY(file.open());
    // Before the commit the new file has no name at all, or a temporary one.
    QStringList before = entries(dir.path());
    if (strategy == Strategy::NamedTemporary) {
        const QStringList temporary = before.filter(QRegularExpression(QStringLiteral("^Game\\.exe\\.[A-Za-z0-9]{6}$")));
        QCOMPARE(temporary.size(), 1);
        before.removeOne(temporary.first());
    }
    QCOMPARE(before, existing ? (QStringList{QStringLiteral("Game.exe"), QStringLiteral("link")}) : QStringList());
    if (existing)
        QCOMPARE(readAll(target), QByteArray("the old build, longer than some new ones"));
    QVERIFY(file.commit(content));

    QCOMPARE(readAll(target), content);
    QCOMPARE(entries(dir.path()), existing ? (QStringList{QStringLiteral("Game.exe"), QStringLiteral("link")})
                                           : QStringList{QStringLiteral("Game.exe")});
    if (existing)
        QCOMPARE(readAll(link), QByteArray("the old build, longer than some new ones"));
    // A replacement is committed once.
    QVERIFY(!file.commit("again"));
    QCOMPARE(readAll(target), content);
}

void ReplaceFileTest::keepsPermissions_data()
{
    QTest::addColumn<Strategy>("strategy");
    QTest::addColumn<int>("mode");
    QTest::newRow("automatic, 0750") << Strategy::Automatic << 0750;
    QTest::newRow("automatic, 0600") << Strategy::Automatic << 0600;
    QTest::newRow("named, 0750") << Strategy::NamedTemporary << 0750;
    QTest::newRow("named, 0644") << Strategy::NamedTemporary << 0644;
}

void ReplaceFileTest::keepsPermissions()
{
    QFETCH(Strategy, strategy);
    QFETCH(int, mode);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Game.exe"));
    writeAll(target, "old");
    QVERIFY(::chmod(QFile::encodeName(target).constData(), mode_t(mode)) == 0);

    platform::FileReplacement file(target, strategy);
    QVERIFY(file.open());
    QVERIFY(file.commit("new"));
    QCOMPARE(readAll(target), QByteArray("new"));
    QCOMPARE(int(modeOf(target)), mode);
}

void ReplaceFileTest::uncommittedLeavesNothing_data()
{
    addStrategies();
}

void ReplaceFileTest::uncommittedLeavesNothing()
{
    QFETCH(Strategy, strategy);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("Data.pak"));
    writeAll(target, "old");
    {
        platform::FileReplacement file(target, strategy);
        QVERIFY(file.open());
    }
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("Data.pak")});
    QCOMPARE(readAll(target), QByteArray("old"));
}

void ReplaceFileTest::missingDirectoryCannotOpen_data()
{
    addStrategies();
}

void ReplaceFileTest::missingDirectoryCannotOpen()
{
    QFETCH(Strategy, strategy);
    QTemporaryDir dir;
    platform::FileReplacement file(dir.filePath(QStringLiteral("Missing/Data.pak")), strategy);
    QVERIFY(!file.open());
    QVERIFY(!file.commit("data"));
    QCOMPARE(entries(dir.path()), QStringList());
}

void ReplaceFileTest::fullDiskKeepsOldFile_data()
{
    addStrategies();
}

void ReplaceFileTest::fullDiskKeepsOldFile()
{
    QFETCH(Strategy, strategy);
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a tmpfs here (needs root)");
    auto unmount = qScopeGuard([&mountPoint] { ::umount(mountPoint.constData()); });
    const QString target = dir.filePath(QStringLiteral("Map.dat"));
    const QByteArray old(40 * 1024, 'o');
    writeAll(target, old);

    platform::FileReplacement file(target, strategy);
    QVERIFY(file.open());
    QVERIFY(!file.commit(QByteArray(48 * 1024, 'n')));
    QCOMPARE(readAll(target), old);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("Map.dat")});
}

void ReplaceFileTest::flushBookkeeping()
{
    QTemporaryDir dir;
    platform::flushReplacedFiles();
    QVERIFY(!platform::hasUnflushedReplacements());

    platform::FileReplacement refused(dir.filePath(QStringLiteral("Missing/x")));
    QVERIFY(!refused.open());
    QVERIFY(!platform::hasUnflushedReplacements());

    platform::FileReplacement file(dir.filePath(QStringLiteral("x")));
    QVERIFY(file.open());
    QVERIFY(file.commit("x"));
    QVERIFY(platform::hasUnflushedReplacements());
    platform::flushReplacedFiles();
    QVERIFY(!platform::hasUnflushedReplacements());

    QVERIFY(platform::flushFile(dir.filePath(QStringLiteral("x"))));
    QVERIFY(!platform::flushFile(dir.filePath(QStringLiteral("none"))));
}

QTEST_GUILESS_MAIN(ReplaceFileTest)
#include "tst_replacefile.moc"
