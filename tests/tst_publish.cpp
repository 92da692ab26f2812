// The studio's publisher: what it writes, what it refuses, and that the
// launcher brings an empty installation to exactly the published build.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kPublisher = QStringLiteral(ZORVAN_BUILD_DIR "/tools/publish/zorvan-publish");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run publish(const QStringList &args)
{
    Run run;
    QProcess tool;
    tool.start(kPublisher, args);
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// The Path attributes of a manifest, in document order.
QStringList manifestPaths(const QByteArray &manifest)
{
    QStringList paths;
    auto it = QRegularExpression(QStringLiteral("Path=\"([^\"]*)\"")).globalMatch(QString::fromUtf8(manifest));
    while (it.hasNext())
        paths << it.next().captured(1);
    return paths;
}

} // namespace

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }
    void roundTrip();
    void deterministicListing();
    void versions_data();
    void versions();
    void refusals_data();
    void refusals();
};

void PublishTest::roundTrip()
{
    ServedTree served;
    const QList<QPair<QString, QByteArray>> build = {
        {"Game.exe", "game"},
        {"Data/Maps/région 1.map", QByteArray(70000, 'm')},
        {"R&D's notes.txt", "escaped in the manifest"},
        {"Launcher_new.exe.txt", "not the launcher"},
        {"100%zz.txt", "a percent sign that is no escape"},
        {".hidden", "dot file"},
        {"empty.dat", ""},
    };
    qint64 bytes = 4; // the linked Game.exe below
    for (const auto &file : build) {
        served.write(file.first, file.second);
        bytes += file.second.size();
    }
    QVERIFY(QFile::link("../Game.exe", served.path() + "/Data/linked.exe"));
    const Run run = publish({served.path(), "--set-version", "2.0"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QString("published 8 files, %1 bytes, version 2.0\n").arg(bytes));

    TempInstallation install;
    GameUpdater updater;
    updater.checkUpdate();

    QStringList expected = {"Data/linked.exe", "file_listing.xml", "localversion.txt"};
    for (const auto &file : build) {
        expected << file.first;
        QCOMPARE(install.read(file.first), file.second);
    }
    QCOMPARE(install.read("Data/linked.exe"), QByteArray("game"));
    expected.sort();
    QCOMPARE(install.files(), expected);
    QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
    const QByteArray manifest = install.read("file_listing.xml");
    QVERIFY(manifest.contains("Name=\"R&amp;D&apos;s notes.txt\""));
    QVERIFY(manifest.contains("<File Name=\"Game.exe\" Path=\"/home/zorvanhost/www/game/Game.exe\" MD5=\""
                              + md5Hex("game").toLatin1() + "\" SHA1=\"" + sha1Hex("game").toLatin1() + "\"/>"));
    QVERIFY(!manifest.contains("version.txt"));
}

void PublishTest::deterministicListing()
{
    QTemporaryDir dir;
    for (const char *name : {"b/z.dat", "B/a.dat", "a.dat", "b/c/d.dat", "file_listing.xml", "b/version.txt"})
        writeFile(dir.filePath(name), name);
    QCOMPARE(publish({dir.path()}).exitCode, 0);
    const QByteArray first = readFile(dir.filePath("file_listing.xml"));
    QCOMPARE(publish({dir.path()}).exitCode, 0);

    QCOMPARE(readFile(dir.filePath("file_listing.xml")), first);
    // Only the top's manifest and version file are left out.
    const QString top = "/home/zorvanhost/www/game/";
    QCOMPARE(manifestPaths(first),
             QStringList({top + "B/a.dat", top + "a.dat", top + "b/c/d.dat", top + "b/version.txt", top + "b/z.dat"}));
    QVERIFY(!QFileInfo::exists(dir.filePath("version.txt")));
}

void PublishTest::versions_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no version.txt
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("after");  // null: refused, nothing written
    QTest::addColumn<QString>("message");
    const QStringList bump = {"--bump-version"};
    QTest::newRow("bump") << QByteArray("1.4\n") << bump << QByteArray("1.5\n") << "version 1.5";
    QTest::newRow("bump carries") << QByteArray("1.9\n") << bump << QByteArray("1.10\n") << "version 1.10";
    QTest::newRow("bump keeps width") << QByteArray("1.09") << bump << QByteArray("1.10\n") << "version 1.10";
    QTest::newRow("bump grows") << QByteArray("1.99\r\n") << bump << QByteArray("1.100\n") << "version 1.100";
    QTest::newRow("bump last digits") << QByteArray("v2-rc3 final\n") << bump << QByteArray("v2-rc4 final\n")
                                      << "version v2-rc4 final";
    QTest::newRow("bump without digits") << QByteArray("beta\n") << bump << QByteArray() << "no number to bump";
    QTest::newRow("bump without file") << QByteArray() << bump << QByteArray() << "needs a readable version.txt";
    QTest::newRow("set") << QByteArray("1.4\n") << QStringList{"--set-version", "2.0-rc"} << QByteArray("2.0-rc\n")
                         << "version 2.0-rc";
    QTest::newRow("set without file") << QByteArray() << QStringList{"--set-version", "1"} << QByteArray("1\n")
                                      << "version 1";
    QTest::newRow("set empty") << QByteArray("1.4\n") << QStringList{"--set-version", ""} << QByteArray()
                               << "one non-empty line";
    QTest::newRow("set two lines") << QByteArray("1.4\n") << QStringList{"--set-version", "1\n2"} << QByteArray()
                                   << "one non-empty line";
    QTest::newRow("both options") << QByteArray("1.4\n") << QStringList{"--set-version", "2", "--bump-version"}
                                  << QByteArray() << "usage: zorvan-publish";
    QTest::newRow("unknown option") << QByteArray("1.4\n") << QStringList{"--force"} << QByteArray() << "usage:";
    QTest::newRow("listing only") << QByteArray("1.4\r\n") << QStringList{} << QByteArray("1.4\r\n")
                                  << "published 1 files, 4 bytes";
}

void PublishTest::versions()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, after);
    QFETCH(QString, message);
    QTemporaryDir dir;
    writeFile(dir.filePath("Game.exe"), "game");
    if (!before.isNull())
        writeFile(dir.filePath("version.txt"), before);

    const Run run = publish(QStringList{dir.path()} + args);

    QCOMPARE(run.exitCode, after.isNull() ? 1 : 0);
    QVERIFY2((after.isNull() ? run.err : run.out).contains(message), qPrintable(run.out + run.err));
    QCOMPARE(readFile(dir.filePath("version.txt")), after.isNull() ? before : after);
    QCOMPARE(QFileInfo::exists(dir.filePath("file_listing.xml")), !after.isNull());
}

void PublishTest::refusals_data()
{
    QTest::addColumn<QString>("file");   // created in the build beside a good file
    QTest::addColumn<QString>("kind");   // "file", "fifo", or "link" to `target`
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::newRow("backslash") << "Data\\x.dat" << "file" << "" << "contains \"\\\"";
    QTest::newRow("control character") << "Data/x\x01.dat" << "file" << "" << "control character";
    QTest::newRow("delete character") << "x\x7f" << "file" << "" << "control character";
    QTest::newRow("colon") << "Data/a:b" << "file" << "" << "\":\", which Windows does not allow";
    QTest::newRow("name is its directory") << "Maps/Maps" << "file" << "" << "\"Maps\" also occurs earlier";
    QTest::newRow("name earlier in the path") << "a/b/a" << "file" << "" << "\"a\" also occurs earlier";
    QTest::newRow("name inside a directory name") << "Data/ata" << "file" << "" << "\"ata\" also occurs earlier";
    QTest::newRow("name inside the base URL") << "game" << "file" << "" << "\"game\" also occurs earlier";
    QTest::newRow("fragment") << "a#b" << "file" << "" << "would ask the server for another path";
    QTest::newRow("percent escape") << "a%41" << "file" << "" << "would ask the server for another path";
    QTest::newRow("server directory") << "x/home/zorvanhost/www/y" << "file" << "" << "the server's directory";
    QTest::newRow("link out of the build") << "outside" << "link" << "/etc/hostname" << "leads out of the build";
    QTest::newRow("directory link out") << "etc" << "link" << "/etc" << "leads out of the build";
    QTest::newRow("link to nothing") << "dangling" << "link" << "missing.dat" << "a link to nothing";
    QTest::newRow("link loop") << "Data/up" << "link" << ".." << "leads back into its own directory";
    QTest::newRow("pipe") << "Data/pipe" << "fifo" << "" << "not a regular file";
    QTest::newRow("missing build") << "" << "" << "" << "no such directory";
}

void PublishTest::refusals()
{
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QString, message);
    QTemporaryDir dir;
    writeFile(dir.filePath("Game.exe"), "game");
    QString build = dir.path();
    const QString path = dir.filePath(file);
    if (file.isEmpty())
        build += "/nowhere";
    else
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    if (kind == "file")
        writeFile(path, "x");
    else if (kind == "link")
        QVERIFY(QFile::link(target, path));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    const Run run = publish({build, "--set-version", "9.9"});

    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("zorvan-publish: ") && run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QVERIFY(!QFileInfo::exists(dir.filePath("file_listing.xml")));
    QVERIFY(!QFileInfo::exists(dir.filePath("version.txt")));
}

QTEST_MAIN(PublishTest)
#include "tst_publish.moc"
