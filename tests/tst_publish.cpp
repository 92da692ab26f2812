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
    return Run{tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()), QString::fromUtf8(tool.readAllStandardError())};
}

// A file of the build, null when it cannot be read.
QByteArray readFile(const ServedTree &build, const QString &relative)
{
    QFile file(QDir(build.path()).filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }

    // The launcher brings an empty installation to exactly the published
    // build. The manifest lists every file but the top's manifest and
    // version file, in a fixed order, the same at every publication.
    void roundTrip()
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
            {"Data/version.txt", "not the top's"},
        };
        qint64 bytes = 4; // the linked Game.exe below
        for (const auto &file : build) {
            served.write(file.first, file.second);
            bytes += file.second.size();
        }
        // A link that stays inside the build is published as a file.
        QVERIFY(QFile::link("../Game.exe", served.path() + "/Data/linked.exe"));
        const Run run = publish({served.path(), "--set-version", "2.0"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QString("published 9 files, %1 bytes, version 2.0\n").arg(bytes));
        // Published again, over its own manifest.
        const QByteArray manifest = readFile(served, "file_listing.xml");
        QCOMPARE(publish({served.path()}).exitCode, 0);
        QCOMPARE(readFile(served, "file_listing.xml"), manifest);

        TempInstallation install;
        GameUpdater updater;
        updater.checkUpdate();

        QStringList published = {"Data/linked.exe"};
        for (const auto &file : build) {
            published << file.first;
            QCOMPARE(install.read(file.first), file.second);
        }
        QCOMPARE(install.read("Data/linked.exe"), QByteArray("game"));
        published.sort();
        QCOMPARE(install.files(), (published + QStringList{"file_listing.xml", "localversion.txt"}));
        QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
        QCOMPARE(install.read("file_listing.xml"), manifest);
        QStringList paths;
        const QRegularExpression path(QStringLiteral("Path=\"/home/zorvanhost/www/game/([^\"]*)\""));
        auto it = path.globalMatch(QString::fromUtf8(manifest));
        while (it.hasNext())
            paths << it.next().captured(1).replace("&amp;", "&").replace("&apos;", "'");
        QCOMPARE(paths, published);
        QVERIFY(manifest.contains("Name=\"R&amp;D&apos;s notes.txt\""));
        QVERIFY(manifest.contains("<File Name=\"Game.exe\" Path=\"/home/zorvanhost/www/game/Game.exe\" MD5=\""
                                  + md5Hex("game").toLatin1() + "\" SHA1=\"" + sha1Hex("game").toLatin1() + "\"/>"));
    }

    void versions_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no version.txt
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("after"); // null: refused, nothing written
        QTest::addColumn<QString>("message");
        const QStringList bump = {"--bump-version"};
        QTest::newRow("bump") << QByteArray("1.4\n") << bump << QByteArray("1.5\n") << "version 1.5";
        QTest::newRow("bump keeps width") << QByteArray("1.09") << bump << QByteArray("1.10\n") << "version 1.10";
        QTest::newRow("bump grows") << QByteArray("1.99\r\n") << bump << QByteArray("1.100\n") << "version 1.100";
        QTest::newRow("bump last digits") << QByteArray("v2-rc3 final\n") << bump << QByteArray("v2-rc4 final\n") << "version v2-rc4 final";
        QTest::newRow("bump without digits") << QByteArray("beta\n") << bump << QByteArray() << "no number to bump";
        QTest::newRow("bump without file") << QByteArray() << bump << QByteArray() << "needs a readable version.txt";
        QTest::newRow("set") << QByteArray("1.4\n") << QStringList{"--set-version", "2.0-rc"} << QByteArray("2.0-rc\n") << "version 2.0-rc";
        QTest::newRow("set without file") << QByteArray() << QStringList{"--set-version", "1"} << QByteArray("1\n") << "version 1";
        QTest::newRow("set empty") << QByteArray("1.4\n") << QStringList{"--set-version", ""} << QByteArray() << "one non-empty line";
        QTest::newRow("set two lines") << QByteArray("1.4\n") << QStringList{"--set-version", "1\n2"} << QByteArray()
                                       << "one non-empty line";
        QTest::newRow("both options") << QByteArray("1.4\n") << QStringList{"--set-version", "2", "--bump-version"} << QByteArray()
                                      << "usage: zorvan-publish";
        QTest::newRow("unknown option") << QByteArray("1.4\n") << QStringList{"--force"} << QByteArray() << "usage:";
        QTest::newRow("listing only") << QByteArray("1.4\r\n") << QStringList{} << QByteArray("1.4\r\n") << "published 1 files, 4 bytes";
    }

    void versions()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, after);
        QFETCH(QString, message);
        ServedTree build;
        build.write("Game.exe", "game");
        if (!before.isNull())
            build.write("version.txt", before);

        const Run run = publish(QStringList{build.path()} + args);

        QCOMPARE(run.exitCode, after.isNull() ? 1 : 0);
        QVERIFY2((after.isNull() ? run.err : run.out).contains(message), qPrintable(run.out + run.err));
        QCOMPARE(readFile(build, "version.txt"), after.isNull() ? before : after);
        QCOMPARE(readFile(build, "file_listing.xml").isNull(), after.isNull());
    }

    // Names and files the launcher could not fetch or place: the whole build
    // is refused and nothing is written.
    void refusals_data()
    {
        QTest::addColumn<QString>("file");   // created in the build beside a good file
        QTest::addColumn<QString>("kind");   // "file", "fifo", or "link" to `target`
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        QTest::newRow("backslash") << "Data\\x.dat" << "file" << "" << "contains \"\\\"";
        QTest::newRow("control character") << "Data/x\x01.dat" << "file" << "" << "control character";
        QTest::newRow("delete character") << "x\x7f" << "file" << "" << "control character";
        QTest::newRow("colon") << "Data/a:b" << "file" << "" << "\":\", which Windows does not allow";
        // The launcher removes the name from the whole URL to find the directory.
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

    void refusals()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(QString, message);
        ServedTree build;
        build.write("Game.exe", "game");
        const QString path = QDir(build.path()).filePath(file);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (kind == "file")
            build.write(file, "x");
        else if (kind == "link")
            QVERIFY(QFile::link(target, path));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

        const Run run = publish({file.isEmpty() ? build.path() + "/nowhere" : build.path(), "--set-version", "9.9"});

        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith("zorvan-publish: ") && run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        QVERIFY(readFile(build, "file_listing.xml").isNull());
        QVERIFY(readFile(build, "version.txt").isNull());
    }
};

QTEST_MAIN(PublishTest)
#include "tst_publish.moc"
