// The studio's publisher: what it writes, what it refuses, and that the
// launcher brings an empty installation to exactly the published build.

#include "support/testenv.h"
#include "updater/gameupdater.h"

#include <QDir>
#include <QProcess>
#include <QTest>

namespace {

const QString kPublisher = QStringLiteral(ZORVAN_BUILD_DIR "/tools/publish/zorvan-publish");

int publish(const QStringList &args, QString *output = nullptr)
{
    QProcess tool;
    tool.start(kPublisher, args);
    if (!tool.waitForFinished(30000))
        return -1;
    if (output)
        *output = QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

} // namespace

class PublishTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { updateServer(); }
    void roundTrip();
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
        {"Launcher_new.exe.txt", "not the launcher"},
        {".hidden", "dot file"},
    };
    for (const auto &file : build)
        served.write(file.first, file.second);
    QString out;
    QCOMPARE(publish({served.path(), "--set-version", "2.0"}, &out), 0);
    QVERIFY2(out.contains("published 4 files"), qPrintable(out));

    TempInstallation install;
    GameUpdater updater;
    updater.checkUpdate();

    for (const auto &file : build)
        QCOMPARE(install.read(file.first), file.second);
    QCOMPARE(install.read("localversion.txt"), QByteArray("2.0\n"));
    // The manifest lists its files with the server's paths and lowercase digests.
    const QByteArray manifest = install.read("file_listing.xml");
    QVERIFY(manifest.contains("Path=\"/home/zorvanhost/www/game/Game.exe\" MD5=\"" + md5Hex("game").toLatin1() + "\" SHA1=\""
                              + sha1Hex("game").toLatin1() + "\""));
    QVERIFY(!manifest.contains("version.txt"));
}

void PublishTest::versions_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("bump") << QByteArray("1.4\n") << QStringList{"--bump-version"} << 0 << QByteArray("1.5\n");
    QTest::newRow("bump carries") << QByteArray("1.9\n") << QStringList{"--bump-version"} << 0 << QByteArray("1.10\n");
    QTest::newRow("bump without digits") << QByteArray("beta\n") << QStringList{"--bump-version"} << 1 << QByteArray("beta\n");
    QTest::newRow("set") << QByteArray("1.4\n") << QStringList{"--set-version", "2.0-rc"} << 0 << QByteArray("2.0-rc\n");
    QTest::newRow("listing only") << QByteArray("1.4\r\n") << QStringList{} << 0 << QByteArray("1.4\r\n");
}

void PublishTest::versions()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    QFile version(dir.filePath("version.txt"));
    QVERIFY(version.open(QIODevice::WriteOnly));
    version.write(before);
    version.close();

    QCOMPARE(publish(QStringList{dir.path()} + args), exitCode);
    QVERIFY(version.open(QIODevice::ReadOnly));
    QCOMPARE(version.readAll(), after);
    QCOMPARE(QFileInfo::exists(dir.filePath("file_listing.xml")), exitCode == 0);
}

void PublishTest::refusals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("backslash") << "Data\\x.dat" << "control character or \"\\\"";
    QTest::newRow("name inside its directory") << "Maps/Maps" << "also occurs in its directory part";
    QTest::newRow("link out of the build") << "outside" << "a link that leads out of the build";
    QTest::newRow("missing build") << QString() << "no such directory";
}

void PublishTest::refusals()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString target = dir.path();
    if (file.isNull()) {
        target += "/nowhere";
    } else if (file == "outside") {
        QVERIFY(QFile::link("/etc/hostname", dir.filePath("outside")));
    } else {
        QDir().mkpath(QFileInfo(dir.filePath(file)).absolutePath());
        QFile f(dir.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QString out;
    QCOMPARE(publish({target}, &out), 1);
    QVERIFY2(out.contains(message), qPrintable(out));
    QVERIFY(!QFileInfo::exists(dir.filePath("file_listing.xml")));
}

QTEST_MAIN(PublishTest)
#include "tst_publish.moc"
